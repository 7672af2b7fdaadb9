#include "headless/images/AreaTable.h"

#include <algorithm>
#include <cmath>

#include "headless/images/AreaBox.h"
#include "headless/images/NarrowAreaTable.h"

namespace headless {

namespace {
// Worst-case rounding of a box's sum from a compensated double table, in
// units of the sum of all |alpha|: each entry is within a few units in the
// last place of that total, a box combines 36 entries with weights of at most
// 1 in some 40 operations. 2^-42 leaves a margin of about 8 over that.
const double kRealNoise = std::ldexp(1.0, -42);


template <class T> std::unique_ptr<T[]> wholeTable(const HostWorld &world) {
    AreaTableRows<T> rows(world);
    const std::size_t stride = rows.stride();
    std::unique_ptr<T[]> sums(new T[stride * (static_cast<std::size_t>(world.height()) + 1)]);
    std::copy_n(rows.values(), stride, sums.get());
    // Each row is made in its place in the table, from the row above it.
    for (A_long y = 0; y < world.height(); ++y) rows.advanceInto(sums.get() + (static_cast<std::size_t>(y) + 1) * stride);
    return sums;
}

bool rollingFor(const HostWorld &world, AreaTable::Storage storage) {
    if (storage != AreaTable::Storage::BySize) return storage == AreaTable::Storage::Rolling;
    return AreaTable::rollsBySize(world);
}
} // namespace

bool AreaTable::rollsBySize(const HostWorld &world) {
    // Counted at 8 bytes a sum even for the narrow tables of 8-bit worlds,
    // which hold half that: a frame-sized world's table rolls at any depth.
    const double bytes = (world.width() + 1.0) * (world.height() + 1.0) * kAreaSums * 8.0;
    return bytes > static_cast<double>(kRollingFromBytes);
}

AreaTable::AreaTable(const HostWorld &world, std::uint64_t generation, Storage storage)
    : world_(world), generation_(generation), width_(world.width()), height_(world.height()),
      fullIntensity_(headless::fullIntensity(world.depth())) {
    const bool rolls = rollingFor(world, storage);
    if (world.depth() == PixelDepth::Float) {
        alphaNoise_ = kRealNoise * absoluteAlphaSum(world);
        if (rolls) rollingReal_ = std::make_unique<RollingRows<double>>(world);
        else real_ = wholeTable<double>(world);
    } else {
        if (rolls) rollingExact_ = std::make_unique<RollingRows<std::uint64_t>>(world);
        else if (world.depth() == PixelDepth::Eight) narrow_ = std::make_unique<NarrowAreaTable>(world);
        else exact_ = wholeTable<std::uint64_t>(world);
        const bool eight = world.depth() == PixelDepth::Eight;
        quadFilter_ = eight ? quadFilterKernel<PF_Pixel>() : quadFilterKernel<PF_Pixel16>();
        fewFilter_ = eight ? fewFilterKernel<PF_Pixel>() : fewFilterKernel<PF_Pixel16>();
    }
}

AreaTable::~AreaTable() = default;

std::size_t AreaTable::rowsHeld() const {
    if (rollingExact_) return rollingExact_->rowsAllocated();
    if (rollingReal_) return rollingReal_->rowsAllocated();
    return static_cast<std::size_t>(height_) + 1;
}

} // namespace headless

#define AREA_BOX_NAMESPACE area_box_baseline
#include "headless/images/AreaBoxKernel.inl"
#undef AREA_BOX_NAMESPACE

namespace headless {

#if defined(VELTRIX_AREA_BOX_V3)
namespace area_box_v3 {
BoxSums whole(const std::uint64_t *sums, A_long width, const TableBox &box);
BoxSums whole(const double *sums, A_long width, const TableBox &box);
BoxSums whole(const std::uint32_t *sums, A_long width, const TableBox &box);
BoxSums quad(const HostWorld &world, const TableBox &box);
PF_PixelFloat quadFilter8(const std::byte *top, const std::byte *bottom, const TableBox &box, double area,
                          double full);
PF_PixelFloat quadFilter16(const std::byte *top, const std::byte *bottom, const TableBox &box, double area,
                           double full);
BoxSums few(const HostWorld &world, const TableBox &box);
PF_PixelFloat fewFilter8(const std::byte *top, std::size_t rowBytes, const TableBox &box, double area,
                         double full);
PF_PixelFloat fewFilter16(const std::byte *top, std::size_t rowBytes, const TableBox &box, double area,
                          double full);
BoxSums rows(const std::uint64_t *const (&rows)[4], const TableBox &box);
BoxSums rows(const double *const (&rows)[4], const TableBox &box);
} // namespace area_box_v3
#endif

namespace {
bool processorRunsV3() {
#if defined(VELTRIX_AREA_BOX_V3)
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
#else
    return false;
#endif
}
} // namespace

template <class T> static bool wholeBoxV3(const T *sums, A_long width, const TableBox &box, BoxSums &out) {
    static const bool runs = processorRunsV3();
    if (!runs) return false;
#if defined(VELTRIX_AREA_BOX_V3)
    out = area_box_v3::whole(sums, width, box);
    return true;
#else
    (void)sums, (void)width, (void)box, (void)out;
    return false;
#endif
}
bool wholeTableBoxV3(const std::uint64_t *sums, A_long width, const TableBox &box, BoxSums &out) {
    return wholeBoxV3(sums, width, box, out);
}
bool wholeTableBoxV3(const double *sums, A_long width, const TableBox &box, BoxSums &out) {
    return wholeBoxV3(sums, width, box, out);
}
bool wholeTableBoxV3(const std::uint32_t *sums, A_long width, const TableBox &box, BoxSums &out) {
    return wholeBoxV3(sums, width, box, out);
}

QuadBoxKernel quadBoxV3() {
#if defined(VELTRIX_AREA_BOX_V3)
    if (processorRunsV3()) return area_box_v3::quad;
#endif
    return nullptr;
}
BoxSums quadBoxBaseline(const HostWorld &world, const TableBox &box) {
    return area_box_baseline::integerQuadBox(world, box);
}

template <class P> QuadFilterKernel quadFilterKernel() {
#if defined(VELTRIX_AREA_BOX_V3)
    if (processorRunsV3()) {
        if constexpr (std::is_same_v<P, PF_Pixel>) return area_box_v3::quadFilter8;
        else return area_box_v3::quadFilter16;
    }
#endif
    return area_box_baseline::quadFilter<P>;
}
template QuadFilterKernel quadFilterKernel<PF_Pixel>();
template QuadFilterKernel quadFilterKernel<PF_Pixel16>();

FewBoxKernel fewBoxV3() {
#if defined(VELTRIX_AREA_BOX_V3)
    if (processorRunsV3()) return area_box_v3::few;
#endif
    return nullptr;
}
BoxSums fewBoxBaseline(const HostWorld &world, const TableBox &box) {
    return area_box_baseline::integerFewBox(world, box);
}

template <class P> FewFilterKernel fewFilterKernel() {
#if defined(VELTRIX_AREA_BOX_V3)
    if (processorRunsV3()) {
        if constexpr (std::is_same_v<P, PF_Pixel>) return area_box_v3::fewFilter8;
        else return area_box_v3::fewFilter16;
    }
#endif
    return area_box_baseline::fewFilter<P>;
}
template FewFilterKernel fewFilterKernel<PF_Pixel>();
template FewFilterKernel fewFilterKernel<PF_Pixel16>();

template <class T> RowsBoxKernel<T> rowsBoxV3() {
#if defined(VELTRIX_AREA_BOX_V3)
    if (processorRunsV3()) return area_box_v3::rows;
#endif
    return nullptr;
}
template <class T> BoxSums rowsBoxBaseline(const T *const (&rows)[4], const TableBox &box) {
    return area_box_baseline::combineRows(rows, box);
}
template RowsBoxKernel<std::uint64_t> rowsBoxV3();
template RowsBoxKernel<double> rowsBoxV3();
template BoxSums rowsBoxBaseline(const std::uint64_t *const (&rows)[4], const TableBox &box);
template BoxSums rowsBoxBaseline(const double *const (&rows)[4], const TableBox &box);

namespace {
// The four-pixel box and the rolling windows' boxes on the widest lanes this
// processor runs, chosen once.
const QuadBoxKernel quadBox = quadBoxV3() ? quadBoxV3() : quadBoxBaseline;
template <class T> RowsBoxKernel<T> widestRowsBox() {
    if (RowsBoxKernel<T> v3 = rowsBoxV3<T>()) return v3;
    return rowsBoxBaseline<T>;
}
const RowsBoxKernel<std::uint64_t> exactRowsBox = widestRowsBox<std::uint64_t>();
const RowsBoxKernel<double> realRowsBox = widestRowsBox<double>();
BoxSums rowsBox(const std::uint64_t *const (&rows)[4], const TableBox &box) { return exactRowsBox(rows, box); }
BoxSums rowsBox(const double *const (&rows)[4], const TableBox &box) { return realRowsBox(rows, box); }
} // namespace

BoxSums wholeTableBoxBaseline(const std::uint64_t *sums, A_long width, const TableBox &box) {
    return area_box_baseline::combineWhole(sums, width, box);
}
BoxSums wholeTableBoxBaseline(const double *sums, A_long width, const TableBox &box) {
    return area_box_baseline::combineWhole(sums, width, box);
}
BoxSums wholeTableBoxBaseline(const std::uint32_t *sums, A_long width, const TableBox &box) {
    return area_box_baseline::combineWhole(sums, width, box);
}

namespace {
template <class T> BoxSums combineRolling(const RollingRows<T> &rows, const TableBox &box) {
    const A_long wanted[4] = {box.top.cell, box.top.cell + 1, box.bottom.cell, box.bottom.cell + 1};
    return rows.read(wanted, [&](const T *row0, const T *row1, const T *row2, const T *row3) {
        const T *const four[4] = {row0, row1, row2, row3};
        return rowsBox(four, box);
    });
}

// A whole table's box on the widest lanes this processor runs.
template <class T> BoxSums combineWhole(const T *sums, A_long width, const TableBox &box) {
    BoxSums sums4;
    if (wholeTableBoxV3(sums, width, box, sums4)) return sums4;
    return wholeTableBoxBaseline(sums, width, box);
}

// A narrow table's box: from its words where the partial sums fit them,
// otherwise from the exact entries it reads.
BoxSums combineNarrow(const NarrowAreaTable &table, A_long width, const TableBox &box) {
    if (NarrowAreaTable::fits(box)) return combineWhole(table.words(), width, box);
    std::uint64_t entries[4 * 4 * kAreaSums];
    TableBox within;
    table.exactCorners(box, entries, within);
    return combineWhole(entries, 3, within);
}
} // namespace

BoxSums AreaTable::integrate(double x0, double y0, double x1, double y1) const {
    TableBox box;
    if (!cutBox(x0, y0, x1, y1, box)) return {};
    return fourPixels(box) ? quadBox(world_, box) : boxSums(box);
}

BoxSums AreaTable::boxSums(const TableBox &box) const {
    if (narrow_) return combineNarrow(*narrow_, width_, box);
    if (exact_) return combineWhole(exact_.get(), width_, box);
    if (real_) return combineWhole(real_.get(), width_, box);
    if (rollingExact_) return combineRolling(*rollingExact_, box);
    return combineRolling(*rollingReal_, box);
}

} // namespace headless
