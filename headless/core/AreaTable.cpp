#include "headless/core/AreaTable.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace headless {

namespace {
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

// A box by its edge cells: columns a0 and a1, rows b0 and b1, and the
// fractions of those cells it covers left of and above its edges.
struct Box {
    Edge left, right, top, bottom;
};

template <class T> std::unique_ptr<T[]> wholeTable(const HostWorld &world) {
    AreaTableRows<T> rows(world);
    const std::size_t stride = rows.stride();
    std::unique_ptr<T[]> sums(new T[stride * (static_cast<std::size_t>(world.height()) + 1)]);
    std::copy_n(rows.values(), stride, sums.get());
    for (A_long y = 0; y < world.height(); ++y) {
        rows.advance();
        std::copy_n(rows.values(), stride, sums.get() + (static_cast<std::size_t>(y) + 1) * stride);
    }
    return sums;
}

bool rollingFor(const HostWorld &world, AreaTable::Storage storage) {
    if (storage != AreaTable::Storage::BySize) return storage == AreaTable::Storage::Rolling;
    const double bytes = (world.width() + 1.0) * (world.height() + 1.0) * kAreaSums * 8.0;
    return bytes > static_cast<double>(AreaTable::kRollingFromBytes);
}
} // namespace

AreaTable::AreaTable(const HostWorld &world, std::uint64_t generation, Storage storage)
    : generation_(generation), width_(world.width()), height_(world.height()) {
    const bool rolls = rollingFor(world, storage);
    if (world.depth() == PixelDepth::Float) {
        alphaNoise_ = kRealNoise * absoluteAlphaSum(world);
        if (rolls) rollingReal_ = std::make_unique<RollingRows<double>>(world);
        else real_ = wholeTable<double>(world);
    } else {
        if (rolls) rollingExact_ = std::make_unique<RollingRows<std::uint64_t>>(world);
        else exact_ = wholeTable<std::uint64_t>(world);
    }
}

std::size_t AreaTable::rowsHeld() const {
    if (rollingExact_) return rollingExact_->rowsAllocated();
    if (rollingReal_) return rollingReal_->rowsAllocated();
    return static_cast<std::size_t>(height_) + 1;
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

template <class T> T plainLoad(const T *at) { return *at; }

// The sums of `box` from table rows b0, b0 + 1, b1 and b1 + 1, each value
// taken through `load`. The reference form: rolling rows use it (their values
// must be read as atomics), and the whole tables' two-channel form below must
// give exactly what it gives (the table tests compare the two bit for bit).
template <class T, class Load>
BoxSums combine(const T *row0, const T *row1, const T *row2, const T *row3, const Box &box, Load load) {
    const std::size_t c0 = static_cast<std::size_t>(box.left.cell) * kAreaSums, c1 = c0 + kAreaSums;
    const std::size_t c2 = static_cast<std::size_t>(box.right.cell) * kAreaSums, c3 = c2 + kAreaSums;
    const double s0 = box.left.fraction, s1 = box.right.fraction;
    const double t0 = box.top.fraction, t1 = box.bottom.fraction;
    double out[kAreaSums];
    for (std::size_t c = 0; c < kAreaSums; ++c) {
        const T r0c0 = load(row0 + c0 + c), r0c1 = load(row0 + c1 + c), r0c2 = load(row0 + c2 + c),
                r0c3 = load(row0 + c3 + c);
        const T r1c0 = load(row1 + c0 + c), r1c1 = load(row1 + c1 + c), r1c2 = load(row1 + c2 + c),
                r1c3 = load(row1 + c3 + c);
        const T r2c0 = load(row2 + c0 + c), r2c1 = load(row2 + c1 + c), r2c2 = load(row2 + c2 + c),
                r2c3 = load(row2 + c3 + c);
        const T r3c0 = load(row3 + c0 + c), r3c1 = load(row3 + c1 + c), r3c2 = load(row3 + c2 + c),
                r3c3 = load(row3 + c3 + c);
        const T whole = r2c2 - r2c0 - r0c2 + r0c0;
        const T columnLeft = r2c1 - r2c0 - r0c1 + r0c0;
        const T columnRight = r2c3 - r2c2 - r0c3 + r0c2;
        const T rowTop = r1c2 - r0c2 - r1c0 + r0c0;
        const T rowBottom = r3c2 - r2c2 - r3c0 + r2c0;
        const T topLeft = r1c1 - r1c0 - r0c1 + r0c0;
        const T topRight = r1c3 - r1c2 - r0c3 + r0c2;
        const T bottomLeft = r3c1 - r3c0 - r2c1 + r2c0;
        const T bottomRight = r3c3 - r3c2 - r2c3 + r2c2;
        out[c] = toDouble(whole) + s1 * toDouble(columnRight) - s0 * toDouble(columnLeft) +
                 t1 * toDouble(rowBottom) - t0 * toDouble(rowTop) + s1 * t1 * toDouble(bottomRight) -
                 s0 * t1 * toDouble(bottomLeft) - s1 * t0 * toDouble(topRight) +
                 s0 * t0 * toDouble(topLeft);
    }
    return {out[0], out[1], out[2], out[3]};
}

#if defined(__SSE2__)
// The same operations as combine(), two channels to a register: every lane
// computes exactly what the scalar code computes for its channel.
inline __m128i load2(const std::uint64_t *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }
inline __m128d load2(const double *at) { return _mm_loadu_pd(at); }
inline __m128i sub2(__m128i a, __m128i b) { return _mm_sub_epi64(a, b); }
inline __m128d sub2(__m128d a, __m128d b) { return _mm_sub_pd(a, b); }
inline __m128i add2(__m128i a, __m128i b) { return _mm_add_epi64(a, b); }
inline __m128d add2(__m128d a, __m128d b) { return _mm_add_pd(a, b); }

// a - b - c + d, in that order.
template <class V> V corners2(V a, V b, V c, V d) { return add2(sub2(sub2(a, b), c), d); }

// Integer sums below 2^52 convert exactly by placing them in the mantissa of
// 2^52 and taking 2^52 away; larger ones (16-bit boxes of millions of
// pixels) convert one by one.
struct Converted {
    __m128d values[9];
};
inline void convert2(const __m128i (&sums)[9], Converted &out) {
    __m128i any = sums[0];
    for (int i = 1; i < 9; ++i) any = _mm_or_si128(any, sums[i]);
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), any);
    if ((lanes[0] | lanes[1]) >> 52) {
        for (int i = 0; i < 9; ++i) {
            _mm_store_si128(reinterpret_cast<__m128i *>(lanes), sums[i]);
            out.values[i] = _mm_set_pd(toDouble(lanes[1]), toDouble(lanes[0]));
        }
        return;
    }
    const __m128i bits = _mm_set1_epi64x(0x4330000000000000);
    const __m128d magic = _mm_set1_pd(4503599627370496.0); // 2^52
    for (int i = 0; i < 9; ++i) out.values[i] = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(sums[i], bits)), magic);
}
inline void convert2(const __m128d (&sums)[9], Converted &out) {
    for (int i = 0; i < 9; ++i) out.values[i] = sums[i];
}

template <class T> BoxSums combineWhole(const T *sums, A_long width, const Box &box) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 1) * kAreaSums;
    const auto row = [&](A_long b) { return sums + static_cast<std::size_t>(b) * stride; };
    const T *row0 = row(box.top.cell), *row1 = row(box.top.cell + 1);
    const T *row2 = row(box.bottom.cell), *row3 = row(box.bottom.cell + 1);
    const std::size_t c0 = static_cast<std::size_t>(box.left.cell) * kAreaSums, c1 = c0 + kAreaSums;
    const std::size_t c2 = static_cast<std::size_t>(box.right.cell) * kAreaSums, c3 = c2 + kAreaSums;
    const double s0 = box.left.fraction, s1 = box.right.fraction;
    const double t0 = box.top.fraction, t1 = box.bottom.fraction;
    const __m128d S0 = _mm_set1_pd(s0), S1 = _mm_set1_pd(s1), T0 = _mm_set1_pd(t0), T1 = _mm_set1_pd(t1);
    const __m128d S1T1 = _mm_set1_pd(s1 * t1), S0T1 = _mm_set1_pd(s0 * t1);
    const __m128d S1T0 = _mm_set1_pd(s1 * t0), S0T0 = _mm_set1_pd(s0 * t0);
    alignas(16) double out[kAreaSums];
    for (std::size_t c = 0; c < kAreaSums; c += 2) {
        const auto r0c0 = load2(row0 + c0 + c), r0c1 = load2(row0 + c1 + c), r0c2 = load2(row0 + c2 + c),
                   r0c3 = load2(row0 + c3 + c);
        const auto r1c0 = load2(row1 + c0 + c), r1c1 = load2(row1 + c1 + c), r1c2 = load2(row1 + c2 + c),
                   r1c3 = load2(row1 + c3 + c);
        const auto r2c0 = load2(row2 + c0 + c), r2c1 = load2(row2 + c1 + c), r2c2 = load2(row2 + c2 + c),
                   r2c3 = load2(row2 + c3 + c);
        const auto r3c0 = load2(row3 + c0 + c), r3c1 = load2(row3 + c1 + c), r3c2 = load2(row3 + c2 + c),
                   r3c3 = load2(row3 + c3 + c);
        using V = decltype(r0c0);
        const V partial[9] = {
            corners2(r2c2, r2c0, r0c2, r0c0), // whole
            corners2(r2c3, r2c2, r0c3, r0c2), // column right
            corners2(r2c1, r2c0, r0c1, r0c0), // column left
            corners2(r3c2, r2c2, r3c0, r2c0), // row bottom
            corners2(r1c2, r0c2, r1c0, r0c0), // row top
            corners2(r3c3, r3c2, r2c3, r2c2), // bottom right
            corners2(r3c1, r3c0, r2c1, r2c0), // bottom left
            corners2(r1c3, r1c2, r0c3, r0c2), // top right
            corners2(r1c1, r1c0, r0c1, r0c0), // top left
        };
        Converted d;
        convert2(partial, d);
        __m128d sum = _mm_add_pd(d.values[0], _mm_mul_pd(S1, d.values[1]));
        sum = _mm_sub_pd(sum, _mm_mul_pd(S0, d.values[2]));
        sum = _mm_add_pd(sum, _mm_mul_pd(T1, d.values[3]));
        sum = _mm_sub_pd(sum, _mm_mul_pd(T0, d.values[4]));
        sum = _mm_add_pd(sum, _mm_mul_pd(S1T1, d.values[5]));
        sum = _mm_sub_pd(sum, _mm_mul_pd(S0T1, d.values[6]));
        sum = _mm_sub_pd(sum, _mm_mul_pd(S1T0, d.values[7]));
        sum = _mm_add_pd(sum, _mm_mul_pd(S0T0, d.values[8]));
        _mm_store_pd(out + c, sum);
    }
    return {out[0], out[1], out[2], out[3]};
}
#else
template <class T> BoxSums combineWhole(const T *sums, A_long width, const Box &box) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 1) * kAreaSums;
    const auto row = [&](A_long b) { return sums + static_cast<std::size_t>(b) * stride; };
    return combine(row(box.top.cell), row(box.top.cell + 1), row(box.bottom.cell), row(box.bottom.cell + 1), box,
                   plainLoad<T>);
}
#endif

template <class T> BoxSums combineRolling(const RollingRows<T> &rows, const Box &box) {
    const A_long wanted[4] = {box.top.cell, box.top.cell + 1, box.bottom.cell, box.bottom.cell + 1};
    return rows.read(wanted, [&](const T *row0, const T *row1, const T *row2, const T *row3) {
        return combine(row0, row1, row2, row3, box, RollingRows<T>::load);
    });
}
} // namespace

BoxSums AreaTable::integrate(double x0, double y0, double x1, double y1) const {
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, static_cast<double>(width_));
    y1 = std::min(y1, static_cast<double>(height_));
    if (!(x0 < x1) || !(y0 < y1)) return {}; // empty, outside the world, or NaN
    const Box box{locate(x0, width_), locate(x1, width_), locate(y0, height_), locate(y1, height_)};
    if (exact_) return combineWhole(exact_.get(), width_, box);
    if (real_) return combineWhole(real_.get(), width_, box);
    if (rollingExact_) return combineRolling(*rollingExact_, box);
    return combineRolling(*rollingReal_, box);
}

} // namespace headless
