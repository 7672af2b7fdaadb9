// The box sums of the area table on lanes, written once and compiled twice:
// AreaTable.cpp includes this file for the build's own instruction set,
// AreaBoxV3.cpp for x86-64-v3 (that file alone is compiled with
// -march=x86-64-v3, so the same source becomes AVX2 code there). Each
// including file first defines AREA_BOX_NAMESPACE, the namespace everything
// below is put in (area_box_baseline, area_box_v3). Without it the two
// compilations would define inline functions and templates of the same names,
// and the linker, taking them for one, could keep the AVX2 copy for callers on
// processors without it; in namespaces of their own they stay apart.
#include "headless/images/AreaBox.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace headless {

// The integral from the origin to (a + s, b + t) inside cell (a, b) is
//     S(a, b) + s * column(a) + t * row(b) + s * t * pixel(a, b),
// bilinear in the cell. Summed with the signs of the box's four corners this
// becomes the whole pixels inside, plus the edge columns and rows weighted by
// their covered fractions, plus the four corner pixels weighted by their
// covered areas. Each partial sum is formed in T first (exactly, for integer
// tables, where unsigned wrap-around cancels; a narrow table's 32-bit words
// only for boxes whose sums fit them, which its caller checks), then
// weighted in double.
//
// An integer partial sum is a sum of non-negative pixel products over part of
// the world, below 2^63, so it converts through int64: the same double, one
// instruction instead of the unsigned conversion's several.
namespace AREA_BOX_NAMESPACE {
inline double toDouble(double sum) { return sum; }
inline double toDouble(std::uint64_t sum) { return static_cast<double>(static_cast<std::int64_t>(sum)); }
inline double toDouble(std::uint32_t sum) { return static_cast<double>(sum); }

template <class T> T plainLoad(const T *at) { return *at; }

// The arithmetic of a box on lanes: one channel at a time (T, then double),
// with SSE2 two channels to a register, with AVX2 all four. Every lane computes exactly what
// the one-channel form computes for its channel.
inline std::uint64_t add(std::uint64_t a, std::uint64_t b) { return a + b; }
inline std::uint64_t sub(std::uint64_t a, std::uint64_t b) { return a - b; }
inline std::uint32_t add(std::uint32_t a, std::uint32_t b) { return a + b; }
inline std::uint32_t sub(std::uint32_t a, std::uint32_t b) { return a - b; }
inline double add(double a, double b) { return a + b; }
inline double sub(double a, double b) { return a - b; }
inline double mul(double a, double b) { return a * b; }
// splat<D>(x): x in every lane of D, a double or a register of doubles.
template <class D> D splat(double x);
template <> inline double splat<double>(double x) { return x; }
template <class T> void toDoubles(const T (&in)[9], double (&out)[9]) {
    for (int i = 0; i < 9; ++i) out[i] = toDouble(in[i]);
}

#if defined(__SSE2__)
inline __m128i load2(const std::uint64_t *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }
inline __m128d load2(const double *at) { return _mm_loadu_pd(at); }
inline __m128i add(__m128i a, __m128i b) { return _mm_add_epi64(a, b); }
inline __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi64(a, b); }
inline __m128d add(__m128d a, __m128d b) { return _mm_add_pd(a, b); }
inline __m128d sub(__m128d a, __m128d b) { return _mm_sub_pd(a, b); }
inline __m128d mul(__m128d a, __m128d b) { return _mm_mul_pd(a, b); }
template <> inline __m128d splat<__m128d>(double x) { return _mm_set1_pd(x); }

// Integer sums below 2^52 convert exactly by placing them in the mantissa of
// 2^52 and taking 2^52 away; larger ones (16-bit boxes of millions of
// pixels) convert one by one.
inline __m128d belowTwoTo52(__m128i sums) {
    const __m128i bits = _mm_set1_epi64x(0x4330000000000000);
    const __m128d magic = _mm_set1_pd(4503599627370496.0); // 2^52
    return _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(sums, bits)), magic);
}
inline void toDoubles(const __m128i (&in)[9], __m128d (&out)[9]) {
    __m128i any = in[0];
    for (int i = 1; i < 9; ++i) any = _mm_or_si128(any, in[i]);
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), any);
    if ((lanes[0] | lanes[1]) >> 52) {
        for (int i = 0; i < 9; ++i) {
            _mm_store_si128(reinterpret_cast<__m128i *>(lanes), in[i]);
            out[i] = _mm_set_pd(toDouble(lanes[1]), toDouble(lanes[0]));
        }
        return;
    }
    for (int i = 0; i < 9; ++i) out[i] = belowTwoTo52(in[i]);
}
inline void toDoubles(const __m128d (&in)[9], __m128d (&out)[9]) { std::copy_n(in, 9, out); }

// Two channels of a narrow (32-bit) table in the low half of a register,
// summed modulo 2^32 and widened to 64 bits, where they convert through the
// mantissa of 2^52 like any sum below it.
struct Words2 {
    __m128i words;
};
inline Words2 load2(const std::uint32_t *at) { return {_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at))}; }
inline Words2 add(Words2 a, Words2 b) { return {_mm_add_epi32(a.words, b.words)}; }
inline Words2 sub(Words2 a, Words2 b) { return {_mm_sub_epi32(a.words, b.words)}; }
inline void toDoubles(const Words2 (&in)[9], __m128d (&out)[9]) {
    for (int i = 0; i < 9; ++i) out[i] = belowTwoTo52(_mm_unpacklo_epi32(in[i].words, _mm_setzero_si128()));
}
#endif

#if defined(__AVX2__)
// Four channels to a register, on processors with AVX2 (the x86-64-v3 build).
inline __m256i load4(const std::uint64_t *at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)); }
inline __m256d load4(const double *at) { return _mm256_loadu_pd(at); }
inline __m256i add(__m256i a, __m256i b) { return _mm256_add_epi64(a, b); }
inline __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi64(a, b); }
inline __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
inline __m256d sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
inline __m256d mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
template <> inline __m256d splat<__m256d>(double x) { return _mm256_set1_pd(x); }

inline __m256d belowTwoTo52(__m256i sums) {
    const __m256i bits = _mm256_set1_epi64x(0x4330000000000000);
    const __m256d magic = _mm256_set1_pd(4503599627370496.0); // 2^52
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(sums, bits)), magic);
}
inline void toDoubles(const __m256i (&in)[9], __m256d (&out)[9]) {
    __m256i any = in[0];
    for (int i = 1; i < 9; ++i) any = _mm256_or_si256(any, in[i]);
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), any);
    if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) >> 52) {
        for (int i = 0; i < 9; ++i) {
            _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), in[i]);
            out[i] = _mm256_set_pd(toDouble(lanes[3]), toDouble(lanes[2]), toDouble(lanes[1]), toDouble(lanes[0]));
        }
        return;
    }
    for (int i = 0; i < 9; ++i) out[i] = belowTwoTo52(in[i]);
}
inline void toDoubles(const __m256d (&in)[9], __m256d (&out)[9]) { std::copy_n(in, 9, out); }

// All four channels of a narrow table in one 128-bit register, widened to
// four 64-bit lanes for the conversion.
struct Words4 {
    __m128i words;
};
inline Words4 load4(const std::uint32_t *at) { return {_mm_loadu_si128(reinterpret_cast<const __m128i *>(at))}; }
inline Words4 add(Words4 a, Words4 b) { return {_mm_add_epi32(a.words, b.words)}; }
inline Words4 sub(Words4 a, Words4 b) { return {_mm_sub_epi32(a.words, b.words)}; }
inline void toDoubles(const Words4 (&in)[9], __m256d (&out)[9]) {
    for (int i = 0; i < 9; ++i) out[i] = belowTwoTo52(_mm256_cvtepu32_epi64(in[i].words));
}
#endif

// a - b - c + d, in that order.
template <class V> V corners(V a, V b, V c, V d) { return add(sub(sub(a, b), c), d); }

// The weights of the partial sums: the covered fractions of the edge
// columns and rows and the areas of the corner pixels.
struct Weights {
    double s0, s1, t0, t1, s1t1, s0t1, s1t0, s0t0;
    explicit Weights(const TableBox &box)
        : s0(box.left.fraction), s1(box.right.fraction), t0(box.top.fraction), t1(box.bottom.fraction),
          s1t1(s1 * t1), s0t1(s0 * t1), s1t0(s1 * t0), s0t0(s0 * t0) {}
};

// The box's sum from its nine partial sums (whole pixels, right, left, bottom
// and top edges, then the bottom right, bottom left, top right and top left
// corner pixels), each weighted by what the box covers of it.
template <class D> D weigh(const D (&d)[9], const Weights &w) {
    D sum = add(d[0], mul(splat<D>(w.s1), d[1]));
    sum = sub(sum, mul(splat<D>(w.s0), d[2]));
    sum = add(sum, mul(splat<D>(w.t1), d[3]));
    sum = sub(sum, mul(splat<D>(w.t0), d[4]));
    sum = add(sum, mul(splat<D>(w.s1t1), d[5]));
    sum = sub(sum, mul(splat<D>(w.s0t1), d[6]));
    sum = sub(sum, mul(splat<D>(w.s1t0), d[7]));
    return add(sum, mul(splat<D>(w.s0t0), d[8]));
}

// The sums of a box on the lanes `load` reads from table rows b0, b0 + 1, b1
// and b1 + 1 (`rows`, already at the lanes' first channel), at columns a0,
// a0 + 1, a1 and a1 + 1 (`columns`).
// Always inline: a call would pass the 16 values' addresses and the weights
// through memory, several times what a box costs to add up.
template <class D, class T, class Load>
[[gnu::always_inline]] inline D boxLanes(const T *const (&rows)[4], const std::size_t (&columns)[4], const Weights &w, Load load) {
    using V = decltype(load(rows[0]));
    // Unrolled, so that the 16 values stay in registers (a loop kept them on
    // the stack).
    V r[4][4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) r[i][j] = load(rows[i] + columns[j]);
    const V partial[9] = {
        corners(r[2][2], r[2][0], r[0][2], r[0][0]), // whole pixels
        corners(r[2][3], r[2][2], r[0][3], r[0][2]), // right column
        corners(r[2][1], r[2][0], r[0][1], r[0][0]), // left column
        corners(r[3][2], r[2][2], r[3][0], r[2][0]), // bottom row
        corners(r[1][2], r[0][2], r[1][0], r[0][0]), // top row
        corners(r[3][3], r[3][2], r[2][3], r[2][2]), // bottom right pixel
        corners(r[3][1], r[3][0], r[2][1], r[2][0]), // bottom left pixel
        corners(r[1][3], r[1][2], r[0][3], r[0][2]), // top right pixel
        corners(r[1][1], r[1][0], r[0][1], r[0][0]), // top left pixel
    };
    D d[9];
    toDoubles(partial, d);
    return weigh(d, w);
}

// Where columns a0, a0 + 1, a1 and a1 + 1 start in a row.
[[gnu::always_inline]] inline void columnsOf(const TableBox &box, std::size_t (&columns)[4]) {
    columns[0] = static_cast<std::size_t>(box.left.cell) * kAreaSums;
    columns[1] = columns[0] + kAreaSums;
    columns[2] = static_cast<std::size_t>(box.right.cell) * kAreaSums;
    columns[3] = columns[2] + kAreaSums;
}

// The sums of `box` from table rows b0, b0 + 1, b1 and b1 + 1, one channel at
// a time, each value taken through `load`.
template <class T, class Load>
BoxSums combine(const T *const (&rows)[4], const TableBox &box, Load load) {
    std::size_t cols[4];
    columnsOf(box, cols);
    const Weights weights(box);
    double out[kAreaSums];
    for (std::size_t c = 0; c < kAreaSums; ++c) {
        const T *const channel[4] = {rows[0] + c, rows[1] + c, rows[2] + c, rows[3] + c};
        out[c] = boxLanes<double>(channel, cols, weights, load);
    }
    return {out[0], out[1], out[2], out[3]};
}

// The same on the widest lanes the build has.
template <class T> BoxSums combineRows(const T *const (&rows)[4], const TableBox &box) {
#if defined(__AVX2__)
    static_assert(kAreaSums == 4);
    std::size_t cols[4];
    columnsOf(box, cols);
    const Weights weights(box);
    alignas(32) double out[kAreaSums];
    _mm256_store_pd(out, boxLanes<__m256d>(rows, cols, weights, [](const T *at) { return load4(at); }));
    return {out[0], out[1], out[2], out[3]};
#elif defined(__SSE2__)
    std::size_t cols[4];
    columnsOf(box, cols);
    const Weights weights(box);
    alignas(16) double out[kAreaSums];
#pragma GCC unroll 2
    for (std::size_t c = 0; c < kAreaSums; c += 2) {
        const T *const channels[4] = {rows[0] + c, rows[1] + c, rows[2] + c, rows[3] + c};
        _mm_store_pd(out + c, boxLanes<__m128d>(channels, cols, weights, [](const T *at) { return load2(at); }));
    }
    return {out[0], out[1], out[2], out[3]};
#else
    return combine(rows, box, plainLoad<T>);
#endif
}

template <class T> BoxSums combineWhole(const T *sums, A_long width, const TableBox &box) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 1) * kAreaSums;
    const auto row = [&](A_long b) { return sums + static_cast<std::size_t>(b) * stride; };
    const T *const rows[4] = {row(box.top.cell), row(box.top.cell + 1), row(box.bottom.cell),
                              row(box.bottom.cell + 1)};
    return combineRows(rows, box);
}

// A box whose edges fall in neighbouring columns and rows (a1 = a0 + 1,
// b1 = b0 + 1), the commonest of small boxes, straight from its four pixels:
// every partial sum the table gives for it is one pixel's products (alpha and
// each colour times alpha), the same integers, converted and weighted alike,
// so the result is the table's to the bit. It reads two pixels from each of
// two rows of the world, instead of 16 entries from four rows of a table
// four or eight times the pixels' size.
#if defined(__AVX2__)
// Alpha, then each colour times alpha, of an 8-bit or 16-bit pixel (alpha,
// red, green, blue): at most 65535 x 65535, below 2^32, so the low 32 bits
// of each lane's product are the whole product. They are unsigned: above
// 2^31 (16-bit values beyond 32768) a signed conversion would turn them
// negative, so they are widened to 64 bits and converted as unsigned.
inline __m256i premultipliedProducts(__m128i argb) {
    const __m128i scale = _mm_blend_epi32(_mm_shuffle_epi32(argb, 0), _mm_set1_epi32(1), 1); // 1, a, a, a
    return _mm256_cvtepu32_epi64(_mm_mullo_epi32(argb, scale));
}
// A pixel's four channels in 32-bit lanes.
inline __m128i channelsOf(const PF_Pixel &p) {
    std::uint32_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(bits)));
}
inline __m128i channelsOf(const PF_Pixel16 &p) {
    std::uint64_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return _mm_cvtepu16_epi32(_mm_cvtsi64_si128(static_cast<long long>(bits)));
}
template <class P> __m256d premultiplied(const P &p) { return belowTwoTo52(premultipliedProducts(channelsOf(p))); }

// Row y + 1 of an integer world's table from row y (`above`) and pixel row y
// (`pixels`), into `out`, which may be `above` (each entry is read before it
// is written): the same integers as the one-channel loop (AreaTableRows.cpp).
template <class P> void addRow(const P *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    auto load = [](const std::uint64_t *at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)); };
    auto store = [](std::uint64_t *at, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(at), v); };
    store(out, load(above));
    __m256i run = _mm256_setzero_si256();
    for (A_long x = 0; x < width; ++x) {
        run = _mm256_add_epi64(run, premultipliedProducts(channelsOf(pixels[x])));
        const std::size_t at = (static_cast<std::size_t>(x) + 1) * kAreaSums;
        store(out + at, _mm256_add_epi64(load(above + at), run));
    }
}
#endif

// From the world's rows b0 (`topRow`) and b1 = b0 + 1 (`bottomRow`).
template <class P>
[[gnu::always_inline]] inline BoxSums quadBox(const std::byte *topRow, const std::byte *bottomRow,
                                              const TableBox &box) {
    const P *top = reinterpret_cast<const P *>(topRow) + box.left.cell;
    const P *bottom = reinterpret_cast<const P *>(bottomRow) + box.left.cell;
    const Weights weights(box);
#if defined(__AVX2__)
    const __m256d tl = premultiplied(top[0]), tr = premultiplied(top[1]);
    const __m256d bl = premultiplied(bottom[0]), br = premultiplied(bottom[1]);
    // Whole pixels, right, left, bottom and top edges, then the corners.
    const __m256d d[9] = {tl, tr, tl, bl, tl, br, bl, tr, tl};
    alignas(32) double out[kAreaSums];
    _mm256_store_pd(out, weigh(d, weights));
#else
    double out[kAreaSums];
    for (std::size_t c = 0; c < kAreaSums; ++c) {
        auto channel = [c](const P &p) {
            const std::uint64_t alpha = p.alpha;
            const std::uint64_t values[kAreaSums] = {alpha, p.red * alpha, p.green * alpha, p.blue * alpha};
            return static_cast<double>(values[c]);
        };
        const double tl = channel(top[0]), tr = channel(top[1]), bl = channel(bottom[0]), br = channel(bottom[1]);
        const double d[9] = {tl, tr, tl, bl, tl, br, bl, tr, tl};
        out[c] = weigh(d, weights);
    }
#endif
    return {out[0], out[1], out[2], out[3]};
}

template <class P> BoxSums quadBox(const HostWorld &world, const TableBox &box) {
    return quadBox<P>(world.row(box.top.cell), world.row(box.bottom.cell), box);
}

// quadBox for the world's depth (8 or 16 bits).
inline BoxSums integerQuadBox(const HostWorld &world, const TableBox &box) {
    return world.depth() == PixelDepth::Eight ? quadBox<PF_Pixel>(world, box) : quadBox<PF_Pixel16>(world, box);
}

// The area filter of such a box over `area` square pixels (an integer
// table's sums have no rounding noise), in one call.
template <class P>
PF_PixelFloat quadFilter(const std::byte *topRow, const std::byte *bottomRow, const TableBox &box, double area,
                         double full) {
    return resolveBox(quadBox<P>(topRow, bottomRow, box), area, 0.0, full);
}

// The nine partial sums of a box whose edges fall `Columns` columns and
// `Rows` rows apart, from its pixels (`value` gives a pixel's products on the
// lanes D), weighted. Rows start at `topRow` (row b0), `rowBytes` apart. A
// form for each span, so that the loops unroll into straight code.
template <int Columns, int Rows, class D, class P, class Value>
[[gnu::always_inline]] inline D fewLanes(const std::byte *topRow, std::size_t rowBytes, const TableBox &box,
                                         const Weights &w, Value value) {
    D whole = splat<D>(0.0), right = whole, left = whole, bottom = whole, top = whole;
    D topLeft = whole, topRight = whole, bottomLeft = whole, bottomRight = whole;
#pragma GCC unroll 4
    for (int r = 0; r <= Rows; ++r) {
        const P *row = reinterpret_cast<const P *>(topRow + static_cast<std::size_t>(r) * rowBytes) + box.left.cell;
        const D first = value(row[0]), last = value(row[Columns]);
        D inner = first; // the row's pixels in the whole columns a0 to a1 - 1
#pragma GCC unroll 4
        for (int c = 1; c < Columns; ++c) inner = add(inner, value(row[c]));
        if (r < Rows) {
            whole = add(whole, inner);
            right = add(right, last);
            left = add(left, first);
        }
        if (r == 0) {
            top = inner;
            topLeft = first;
            topRight = last;
        }
        if (r == Rows) {
            bottom = inner;
            bottomLeft = first;
            bottomRight = last;
        }
    }
    // Whole pixels, right, left, bottom and top edges, then the corners.
    const D d[9] = {whole, right, left, bottom, top, bottomRight, bottomLeft, topRight, topLeft};
    return weigh(d, w);
}

// fewLanes for the box's own span, 1 to 3 columns and rows.
template <class D, class P, class Value>
[[gnu::always_inline]] inline D fewLanesOfSpan(const std::byte *topRow, std::size_t rowBytes, const TableBox &box,
                                               const Weights &w, Value value) {
    switch ((box.right.cell - box.left.cell) * 4 + (box.bottom.cell - box.top.cell)) {
    case 1 * 4 + 1: return fewLanes<1, 1, D, P>(topRow, rowBytes, box, w, value);
    case 1 * 4 + 2: return fewLanes<1, 2, D, P>(topRow, rowBytes, box, w, value);
    case 1 * 4 + 3: return fewLanes<1, 3, D, P>(topRow, rowBytes, box, w, value);
    case 2 * 4 + 1: return fewLanes<2, 1, D, P>(topRow, rowBytes, box, w, value);
    case 2 * 4 + 2: return fewLanes<2, 2, D, P>(topRow, rowBytes, box, w, value);
    case 2 * 4 + 3: return fewLanes<2, 3, D, P>(topRow, rowBytes, box, w, value);
    case 3 * 4 + 1: return fewLanes<3, 1, D, P>(topRow, rowBytes, box, w, value);
    case 3 * 4 + 2: return fewLanes<3, 2, D, P>(topRow, rowBytes, box, w, value);
    default: return fewLanes<3, 3, D, P>(topRow, rowBytes, box, w, value);
    }
}

// A box whose edges fall one to three columns and rows apart (a1 - a0 and
// b1 - b0 each 1, 2 or 3; the boxes of footprints a little over a pixel),
// straight from its at most 16 pixels, as quadBox takes four: every partial
// sum the table gives for it is a sum of at most nine pixels' products, each
// an integer below 2^32, whose sums in double are exact, the table's
// integers; weighted alike, they give the table's result to the bit. It
// reads a few pixels from as many rows of the world instead of 16 entries
// from four rows of a table several times the pixels' size.
template <class P>
[[gnu::always_inline]] inline BoxSums fewBox(const std::byte *topRow, std::size_t rowBytes, const TableBox &box) {
    const Weights weights(box);
#if defined(__AVX2__)
    alignas(32) double out[kAreaSums];
    _mm256_store_pd(out, fewLanesOfSpan<__m256d, P>(topRow, rowBytes, box, weights,
                                                    [](const P &p) { return premultiplied(p); }));
#else
    double out[kAreaSums];
    for (std::size_t c = 0; c < kAreaSums; ++c)
        out[c] = fewLanesOfSpan<double, P>(topRow, rowBytes, box, weights, [c](const P &p) {
            const std::uint64_t alpha = p.alpha;
            const std::uint64_t values[kAreaSums] = {alpha, p.red * alpha, p.green * alpha, p.blue * alpha};
            return static_cast<double>(values[c]);
        });
#endif
    return {out[0], out[1], out[2], out[3]};
}

template <class P> BoxSums fewBox(const HostWorld &world, const TableBox &box) {
    return fewBox<P>(world.row(box.top.cell), static_cast<std::size_t>(world.rowbytes()), box);
}

// fewBox for the world's depth (8 or 16 bits).
inline BoxSums integerFewBox(const HostWorld &world, const TableBox &box) {
    return world.depth() == PixelDepth::Eight ? fewBox<PF_Pixel>(world, box) : fewBox<PF_Pixel16>(world, box);
}

// The area filter of such a box, in one call, as quadFilter.
template <class P>
PF_PixelFloat fewFilter(const std::byte *topRow, std::size_t rowBytes, const TableBox &box, double area,
                        double full) {
    return resolveBox(fewBox<P>(topRow, rowBytes, box), area, 0.0, full);
}

} // namespace AREA_BOX_NAMESPACE

} // namespace headless
