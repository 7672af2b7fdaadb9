#include "headless/images/NarrowAreaTable.h"

#include "headless/images/AreaBox.h"

#include <algorithm>

namespace headless {

NarrowAreaTable::NarrowAreaTable(const HostWorld &world)
    : width_(world.width()), height_(world.height()),
      stride_((static_cast<std::size_t>(world.width()) + 1) * kAreaSums),
      words_(new std::uint32_t[stride_ * (static_cast<std::size_t>(world.height()) + 1)]),
      gridColumnCount_(static_cast<std::size_t>(world.width() / kGrid) + 1) {
    gridRows_.reserve((static_cast<std::size_t>(height_ / kGrid) + 1) * stride_);
    gridColumns_.reserve((static_cast<std::size_t>(height_) + 1) * gridColumnCount_ * kAreaSums);
    AreaTableRows<std::uint64_t> rows(world);
    for (A_long j = 0;; ++j) {
        const std::uint64_t *exact = rows.values();
        std::uint32_t *words = words_.get() + static_cast<std::size_t>(j) * stride_;
        for (std::size_t k = 0; k < stride_; ++k) words[k] = static_cast<std::uint32_t>(exact[k]);
        if (j % kGrid == 0) gridRows_.insert(gridRows_.end(), exact, exact + stride_);
        for (std::size_t column = 0; column < gridColumnCount_; ++column) {
            const std::uint64_t *entry = exact + column * kGrid * kAreaSums;
            gridColumns_.insert(gridColumns_.end(), entry, entry + kAreaSums);
        }
        if (j == height_) break;
        rows.advance();
    }
}

bool NarrowAreaTable::fits(const TableBox &box) {
    // The largest partial sum is over cells [a0, a1) x [b0, b1); an edge
    // column or row spans b1 - b0 or a1 - a0 cells, one wide.
    const std::int64_t columns = std::max<std::int64_t>(1, std::int64_t{box.right.cell} - box.left.cell);
    const std::int64_t rows = std::max<std::int64_t>(1, std::int64_t{box.bottom.cell} - box.top.cell);
    return columns * rows <= kFittingCells;
}

void NarrowAreaTable::exactEntry(A_long i, A_long j, std::uint64_t *out) const {
    const A_long gridI = i / kGrid, gridJ = j / kGrid;
    const A_long I = gridI * kGrid, J = gridJ * kGrid;
    const auto word = [&](A_long x, A_long y) {
        return words_.get() + static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x) * kAreaSums;
    };
    const std::uint64_t *rowLine = gridRows_.data() + static_cast<std::size_t>(gridJ) * stride_;
    const std::uint64_t *alongRow = rowLine + static_cast<std::size_t>(i) * kAreaSums;  // R(i, J)
    const std::uint64_t *gridCorner = rowLine + static_cast<std::size_t>(I) * kAreaSums; // R(I, J)
    const std::uint64_t *alongColumn =                                                   // C(I, j)
        gridColumns_.data() + (static_cast<std::size_t>(j) * gridColumnCount_ + gridI) * kAreaSums;
    const std::uint32_t *ij = word(i, j), *iJ = word(i, J), *Ij = word(I, j), *IJ = word(I, J);
    for (std::size_t c = 0; c < kAreaSums; ++c) {
        const std::uint32_t region = ij[c] - iJ[c] - Ij[c] + IJ[c];
        out[c] = alongRow[c] + alongColumn[c] - gridCorner[c] + region;
    }
}

void NarrowAreaTable::exactCorners(const TableBox &box, std::uint64_t (&entries)[4 * 4 * kAreaSums],
                                   TableBox &within) const {
    const A_long rows[4] = {box.top.cell, box.top.cell + 1, box.bottom.cell, box.bottom.cell + 1};
    const A_long columns[4] = {box.left.cell, box.left.cell + 1, box.right.cell, box.right.cell + 1};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) exactEntry(columns[c], rows[r], entries + (r * 4 + c) * kAreaSums);
    within = {{0, box.left.fraction}, {2, box.right.fraction}, {0, box.top.fraction}, {2, box.bottom.fraction}};
}

std::size_t NarrowAreaTable::bytes() const {
    return stride_ * (static_cast<std::size_t>(height_) + 1) * sizeof(std::uint32_t) +
           (gridRows_.size() + gridColumns_.size()) * sizeof(std::uint64_t);
}

} // namespace headless
