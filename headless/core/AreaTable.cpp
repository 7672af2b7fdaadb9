#include "headless/core/AreaTable.h"

#include <algorithm>
#include <cmath>

namespace headless {

namespace {
constexpr std::size_t kSums = 4; // alpha, red * alpha, green * alpha, blue * alpha

// Worst-case rounding of a box's sum from a compensated double table, in
// units of the sum of all |alpha|: each entry is within a few units in the
// last place of that total, a box combines 36 entries with weights of at most
// 1 in some 40 operations. 2^-42 leaves a margin of about 8 over that.
const double kRealNoise = std::ldexp(1.0, -42);

// Where a box edge at `x` (in [0, cells]) falls: cell a in [0, cells - 1] and
// the covered fraction s in [0, 1] of that cell left of x.
struct Edge {
    A_long cell;
    double fraction;
};
Edge locate(double x, A_long cells) {
    const A_long cell = std::min(static_cast<A_long>(std::floor(x)), cells - 1);
    return {cell, x - cell};
}

float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

// One step of compensated (Kahan) summation of `value` into `sum`.
inline void addCompensated(double &sum, double &compensation, double value) {
    const double y = value - compensation;
    const double t = sum + y;
    compensation = (t - sum) - y;
    sum = t;
}
} // namespace

AreaTable::AreaTable(const HostWorld &world, std::uint64_t generation)
    : generation_(generation), width_(world.width()), height_(world.height()) {
    switch (world.depth()) {
    case PixelDepth::Eight: buildExact<PF_Pixel>(world); break;
    case PixelDepth::Sixteen: buildExact<PF_Pixel16>(world); break;
    case PixelDepth::Float: buildReal(world); break;
    }
}

template <class P> void AreaTable::buildExact(const HostWorld &world) {
    const std::size_t stride = (static_cast<std::size_t>(width_) + 1) * kSums;
    exact_.reset(new std::uint64_t[stride * (static_cast<std::size_t>(height_) + 1)]);
    std::fill_n(exact_.get(), stride, std::uint64_t{0});

    for (A_long y = 0; y < height_; ++y) {
        const auto *pixels = reinterpret_cast<const P *>(world.row(y));
        const std::uint64_t *above = exact_.get() + static_cast<std::size_t>(y) * stride;
        std::uint64_t *out = exact_.get() + (static_cast<std::size_t>(y) + 1) * stride;
        std::uint64_t run[kSums] = {0, 0, 0, 0};
        std::fill_n(out, kSums, std::uint64_t{0});
        for (A_long x = 0; x < width_; ++x) {
            const P &p = pixels[x];
            const std::uint64_t alpha = p.alpha;
            run[0] += alpha;
            run[1] += p.red * alpha;
            run[2] += p.green * alpha;
            run[3] += p.blue * alpha;
            const std::size_t at = (static_cast<std::size_t>(x) + 1) * kSums;
            for (std::size_t c = 0; c < kSums; ++c) out[at + c] = above[at + c] + run[c];
        }
    }
}

void AreaTable::buildReal(const HostWorld &world) {
    const std::size_t stride = (static_cast<std::size_t>(width_) + 1) * kSums;
    real_.reset(new double[stride * (static_cast<std::size_t>(height_) + 1)]);
    std::fill_n(real_.get(), stride, 0.0);

    // Running compensation of every column sum, carried from row to row.
    std::vector<double> columnCompensation(stride, 0.0);
    double absoluteAlpha = 0;
    for (A_long y = 0; y < height_; ++y) {
        const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(world.row(y));
        const double *above = real_.get() + static_cast<std::size_t>(y) * stride;
        double *out = real_.get() + (static_cast<std::size_t>(y) + 1) * stride;
        double run[kSums] = {0, 0, 0, 0};
        double runCompensation[kSums] = {0, 0, 0, 0};
        std::fill_n(out, kSums, 0.0);
        for (A_long x = 0; x < width_; ++x) {
            const PF_PixelFloat &p = pixels[x];
            // Products of two floats are exact in double.
            const double alpha = finiteOrZero(p.alpha);
            const double values[kSums] = {alpha, finiteOrZero(p.red) * alpha, finiteOrZero(p.green) * alpha,
                                          finiteOrZero(p.blue) * alpha};
            absoluteAlpha += std::fabs(alpha);
            const std::size_t at = (static_cast<std::size_t>(x) + 1) * kSums;
            for (std::size_t c = 0; c < kSums; ++c) {
                addCompensated(run[c], runCompensation[c], values[c]);
                double column = above[at + c];
                addCompensated(column, columnCompensation[at + c], run[c]);
                out[at + c] = column;
            }
        }
    }
    alphaNoise_ = kRealNoise * absoluteAlpha;
}

BoxSums AreaTable::integrate(double x0, double y0, double x1, double y1) const {
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, static_cast<double>(width_));
    y1 = std::min(y1, static_cast<double>(height_));
    if (!(x0 < x1) || !(y0 < y1)) return {}; // empty, outside the world, or NaN
    return exact_ ? integrateIn(exact_.get(), x0, y0, x1, y1) : integrateIn(real_.get(), x0, y0, x1, y1);
}

// The integral from the origin to (a + s, b + t) inside cell (a, b) is
//     S(a, b) + s * column(a) + t * row(b) + s * t * pixel(a, b),
// bilinear in the cell. Summed with the signs of the box's four corners this
// becomes the whole pixels inside, plus the edge columns and rows weighted by
// their covered fractions, plus the four corner pixels weighted by their
// covered areas. Each partial sum is formed in T first (exactly, for integer
// tables, where unsigned wrap-around cancels), then weighted in double.
//
// An integer partial sum is a sum of non-negative pixel products over part of
// the world, below 2^63, so it converts through int64: the same double, one
// instruction instead of the unsigned conversion's several.
namespace {
inline double toDouble(double sum) { return sum; }
inline double toDouble(std::uint64_t sum) { return static_cast<double>(static_cast<std::int64_t>(sum)); }
} // namespace

template <class T>
BoxSums AreaTable::integrateIn(const T *sums, double x0, double y0, double x1, double y1) const {
    const Edge left = locate(x0, width_), right = locate(x1, width_);
    const Edge top = locate(y0, height_), bottom = locate(y1, height_);
    const std::size_t stride = (static_cast<std::size_t>(width_) + 1) * kSums;
    auto at = [&](A_long row, A_long column) {
        return sums + static_cast<std::size_t>(row) * stride + static_cast<std::size_t>(column) * kSums;
    };
    // Rows b0, b0 + 1, b1, b1 + 1 and columns a0, a0 + 1, a1, a1 + 1.
    const A_long a0 = left.cell, a1 = right.cell, b0 = top.cell, b1 = bottom.cell;
    const T *r0c0 = at(b0, a0), *r0c1 = at(b0, a0 + 1), *r0c2 = at(b0, a1), *r0c3 = at(b0, a1 + 1);
    const T *r1c0 = at(b0 + 1, a0), *r1c1 = at(b0 + 1, a0 + 1), *r1c2 = at(b0 + 1, a1), *r1c3 = at(b0 + 1, a1 + 1);
    const T *r2c0 = at(b1, a0), *r2c1 = at(b1, a0 + 1), *r2c2 = at(b1, a1), *r2c3 = at(b1, a1 + 1);
    const T *r3c0 = at(b1 + 1, a0), *r3c1 = at(b1 + 1, a0 + 1), *r3c2 = at(b1 + 1, a1), *r3c3 = at(b1 + 1, a1 + 1);

    const double s0 = left.fraction, s1 = right.fraction, t0 = top.fraction, t1 = bottom.fraction;
    double out[kSums];
    for (std::size_t c = 0; c < kSums; ++c) {
        const T whole = r2c2[c] - r2c0[c] - r0c2[c] + r0c0[c];
        const T columnLeft = r2c1[c] - r2c0[c] - r0c1[c] + r0c0[c];
        const T columnRight = r2c3[c] - r2c2[c] - r0c3[c] + r0c2[c];
        const T rowTop = r1c2[c] - r0c2[c] - r1c0[c] + r0c0[c];
        const T rowBottom = r3c2[c] - r2c2[c] - r3c0[c] + r2c0[c];
        const T topLeft = r1c1[c] - r1c0[c] - r0c1[c] + r0c0[c];
        const T topRight = r1c3[c] - r1c2[c] - r0c3[c] + r0c2[c];
        const T bottomLeft = r3c1[c] - r3c0[c] - r2c1[c] + r2c0[c];
        const T bottomRight = r3c3[c] - r3c2[c] - r2c3[c] + r2c2[c];
        out[c] = toDouble(whole) + s1 * toDouble(columnRight) - s0 * toDouble(columnLeft) +
                 t1 * toDouble(rowBottom) - t0 * toDouble(rowTop) + s1 * t1 * toDouble(bottomRight) -
                 s0 * t1 * toDouble(bottomLeft) - s1 * t0 * toDouble(topRight) +
                 s0 * t0 * toDouble(topLeft);
    }
    return {out[0], out[1], out[2], out[3]};
}

} // namespace headless
