// NarrowAreaTable: the summed-area table of an 8-bit world in 32-bit words,
// half the memory of the 64-bit table and half the traffic per box.
//
// Each word is its entry S(i, j) modulo 2^32. A sum over a region taken from
// four words modulo 2^32 is exact when the region's true sum is below 2^32:
// every channel of an 8-bit pixel (alpha, and colour times alpha) is at most
// 255 * 255 = 65025, so any region of up to kFittingCells pixels fits. Boxes
// whose partial sums each cover at most that many take them straight from
// the words.
//
// Larger boxes need the entries themselves. The table also keeps the exact
// 64-bit entries of every kGrid-th row and column, and an entry is rebuilt
// from the grid lines before it and the words of the region between:
//     S(i, j) = R(i, J) + C(I, j) - R(I, J) + [i - I, j - J region]
// where I and J are i and j rounded down to the grid; that region has fewer
// than kGrid^2 pixels, so its four-word sum is exact. A box of any size
// costs the same.
//
// Thread safety: immutable once built; any number of threads may read.
#pragma once

#include "headless/images/AreaTableRows.h"
#include "headless/images/HostWorld.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace headless {

struct TableBox;

class NarrowAreaTable {
public:
    // Rows and columns of exact entries: every 256th, so that the region
    // between a grid line and any entry (at most 255 x 255 pixels) fits.
    static constexpr A_long kGrid = 256;
    // The most pixels a region may have for its sum to fit 32 bits:
    // floor((2^32 - 1) / 65025).
    static constexpr std::int64_t kFittingCells = 66051;

    // The table of an 8-bit world. Throws std::bad_alloc.
    explicit NarrowAreaTable(const HostWorld &world);

    // (width + 1) x (height + 1) entries of kAreaSums words, row by row.
    const std::uint32_t *words() const { return words_.get(); }

    // Whether every partial sum of `box` fits 32 bits, whatever the pixels.
    static bool fits(const TableBox &box);

    // The exact entries `box` reads, rows b0, b0 + 1, b1, b1 + 1 by columns
    // a0, a0 + 1, a1, a1 + 1, as a table of 4 x 4 entries, and the same box
    // within it (cells 0 and 2, same fractions).
    void exactCorners(const TableBox &box, std::uint64_t (&entries)[4 * 4 * kAreaSums], TableBox &within) const;

    // Bytes held.
    std::size_t bytes() const;

private:
    // Entry (i, j) exactly, all channels.
    void exactEntry(A_long i, A_long j, std::uint64_t *out) const;

    A_long width_, height_;
    std::size_t stride_; // words per row
    std::unique_ptr<std::uint32_t[]> words_;
    std::vector<std::uint64_t> gridRows_;    // rows 0, kGrid, ...: all columns
    std::vector<std::uint64_t> gridColumns_; // columns 0, kGrid, ...: all rows
    std::size_t gridColumnCount_;
};

} // namespace headless
