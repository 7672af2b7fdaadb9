#include "headless/images/AreaTableRows.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace headless {

#if defined(VELTRIX_AREA_BOX_V3)
// The rows on AVX2 lanes (AreaBoxV3.cpp).
namespace area_box_v3 {
void addRow8(const PF_Pixel *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out);
void addRow16(const PF_Pixel16 *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out);
} // namespace area_box_v3
#endif

namespace {

float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

// One step of compensated (Kahan) summation of `value` into `sum`.
inline void addCompensated(double &sum, double &compensation, double value) {
    const double y = value - compensation;
    const double t = sum + y;
    compensation = (t - sum) - y;
    sum = t;
}

// Row y + 1 of 8-bit or 16-bit pixels: pixel row `y` added to row y (`above`),
// written to `out`: in place where `out` is `above`, or in memory of its own.
template <class P, bool InPlace>
void addExactRow(const HostWorld &world, A_long y, const std::uint64_t *__restrict above,
                 std::uint64_t *__restrict out) {
    const auto *pixels = reinterpret_cast<const P *>(world.row(y));
    std::uint64_t run[kAreaSums] = {0, 0, 0, 0};
    if constexpr (!InPlace)
        for (std::size_t c = 0; c < kAreaSums; ++c) out[c] = above[c];
    for (A_long x = 0; x < world.width(); ++x) {
        const P &p = pixels[x];
        const std::uint64_t alpha = p.alpha;
        run[0] += alpha;
        run[1] += p.red * alpha;
        run[2] += p.green * alpha;
        run[3] += p.blue * alpha;
        const std::size_t at = (static_cast<std::size_t>(x) + 1) * kAreaSums;
        for (std::size_t c = 0; c < kAreaSums; ++c)
            if constexpr (InPlace) out[at + c] += run[c];
            else out[at + c] = above[at + c] + run[c];
    }
}

template <class P> void addExactRowAnywhere(const HostWorld &world, A_long y, const std::uint64_t *above,
                                              std::uint64_t *out) {
    // The two pointers are never used together where they are the same.
    if (out == above) addExactRow<P, true>(world, y, nullptr, out);
    else addExactRow<P, false>(world, y, above, out);
}

#if defined(VELTRIX_AREA_BOX_V3)
template <class P> void addExactRowV3(const HostWorld &world, A_long y, const std::uint64_t *above, std::uint64_t *out) {
    const auto *pixels = reinterpret_cast<const P *>(world.row(y));
    if constexpr (std::is_same_v<P, PF_Pixel>) area_box_v3::addRow8(pixels, world.width(), above, out);
    else area_box_v3::addRow16(pixels, world.width(), above, out);
}
#endif

// Row y + 1 of float pixels: pixel row `y` added to row y (`above`), written
// to `out` (which may be `above`), carrying every column's compensation on.
void addRealRow(const HostWorld &world, A_long y, const double *above, double *out, double *compensation) {
    const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(world.row(y));
    double run[kAreaSums] = {0, 0, 0, 0};
    double runCompensation[kAreaSums] = {0, 0, 0, 0};
    for (std::size_t c = 0; c < kAreaSums; ++c) out[c] = above[c];
    for (A_long x = 0; x < world.width(); ++x) {
        const PF_PixelFloat &p = pixels[x];
        // Products of two floats are exact in double.
        const double alpha = finiteOrZero(p.alpha);
        const double values[kAreaSums] = {alpha, finiteOrZero(p.red) * alpha, finiteOrZero(p.green) * alpha,
                                          finiteOrZero(p.blue) * alpha};
        const std::size_t at = (static_cast<std::size_t>(x) + 1) * kAreaSums;
        for (std::size_t c = 0; c < kAreaSums; ++c) {
            addCompensated(run[c], runCompensation[c], values[c]);
            double sum = above[at + c];
            addCompensated(sum, compensation[at + c], run[c]);
            out[at + c] = sum;
        }
    }
}

// Whether pixel row `y` has no pixel with an alpha the sums count (a
// transparent row, as the parts of a layer nothing was drawn on are).
template <class P> bool transparentRow(const HostWorld &world, A_long y) {
    const auto *pixels = reinterpret_cast<const P *>(world.row(y));
    A_long x = 0;
    if constexpr (std::is_same_v<P, PF_Pixel>) {
        // Eight pixels at a time: their alpha bytes (the first of each), as
        // words of two pixels.
        static_assert(sizeof(PF_Pixel) == 4 && offsetof(PF_Pixel, alpha) == 0);
        constexpr std::uint64_t kAlphas = 0x000000ff000000ffull;
        for (; x + 8 <= world.width(); x += 8) {
            std::uint64_t words[4];
            std::memcpy(words, pixels + x, sizeof words);
            if ((words[0] | words[1] | words[2] | words[3]) & kAlphas) return false;
        }
    }
    for (; x < world.width(); ++x)
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            if (finiteOrZero(pixels[x].alpha) != 0.0f) return false;
        } else if (pixels[x].alpha != 0) {
            return false;
        }
    return true;
}

// Whether every value is +0 (the bits of a table above nothing but
// transparent rows).
template <class T> bool allPositiveZero(const T *values, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
        if (values[k] != T{0} || std::signbit(static_cast<double>(values[k]))) return false;
    return true;
}

} // namespace

ExactRowKernel exactRowV3(PixelDepth depth) {
#if defined(VELTRIX_AREA_BOX_V3)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v3"))
        return depth == PixelDepth::Eight ? addExactRowV3<PF_Pixel> : addExactRowV3<PF_Pixel16>;
#endif
    (void)depth;
    return nullptr;
}

void exactRowBaseline(const HostWorld &world, A_long y, const std::uint64_t *above, std::uint64_t *out) {
    if (world.depth() == PixelDepth::Eight) addExactRowAnywhere<PF_Pixel>(world, y, above, out);
    else addExactRowAnywhere<PF_Pixel16>(world, y, above, out);
}

namespace {
// The widest kernel this processor runs, per depth, chosen once.
ExactRowKernel widestExactRow(PixelDepth depth) {
    const ExactRowKernel v3 = exactRowV3(depth);
    return v3 ? v3 : exactRowBaseline;
}
const ExactRowKernel exactRow8 = widestExactRow(PixelDepth::Eight);
const ExactRowKernel exactRow16 = widestExactRow(PixelDepth::Sixteen);
} // namespace

template <class T>
AreaTableRows<T>::AreaTableRows(const HostWorld &world)
    : world_(world), sums_((static_cast<std::size_t>(world.width()) + 1) * kAreaSums, T{0}), current_(sums_.data()) {
    if constexpr (std::is_same_v<T, double>) compensation_.assign(sums_.size(), 0.0);
}

template <class T> void AreaTableRows<T>::advance() { advanceInto(sums_.data()); }

// A transparent row adds nothing to exact sums. Compensated sums are left
// as they are only where that holds by construction, while they and their
// compensation are all +0 (adding zeros to them gives +0 again); with a
// compensation pending, adding a zero is left to the arithmetic.
template <class T> bool AreaTableRows<T>::rowAddsNothing() const {
    if constexpr (std::is_same_v<T, double>) {
        return zeroState_ && transparentRow<PF_PixelFloat>(world_, row_);
    } else if (world_.depth() == PixelDepth::Eight) {
        return transparentRow<PF_Pixel>(world_, row_);
    } else {
        return transparentRow<PF_Pixel16>(world_, row_);
    }
}

template <class T> void AreaTableRows<T>::advanceInto(T *out) {
    if (!nextAddsSomething_ && rowAddsNothing()) {
        if (out != current_) std::copy_n(current_, sums_.size(), out);
    } else if constexpr (std::is_same_v<T, double>) {
        addRealRow(world_, row_, current_, out, compensation_.data());
        zeroState_ = false;
    } else if (world_.depth() == PixelDepth::Eight) {
        exactRow8(world_, row_, current_, out);
    } else {
        exactRow16(world_, row_, current_, out);
    }
    current_ = out;
    ++row_;
    nextAddsSomething_ = false;
}

template <class T> bool AreaTableRows<T>::advanceIfNothingAdded() {
    if (!rowAddsNothing()) {
        nextAddsSomething_ = true; // advanceInto need not look again
        return false;
    }
    ++row_;
    return true;
}

template <class T> void AreaTableRows<T>::saveState(T *state) const {
    std::copy_n(current_, sums_.size(), state);
    std::copy(compensation_.begin(), compensation_.end(), state + sums_.size());
}

template <class T> void AreaTableRows<T>::restoreState(A_long row, const T *state) {
    row_ = row;
    nextAddsSomething_ = false;
    std::copy_n(state, sums_.size(), sums_.begin());
    current_ = sums_.data();
    zeroState_ = allPositiveZero(sums_.data(), sums_.size()) &&
                 allPositiveZero(compensation_.data(), compensation_.size());
    std::copy_n(state + sums_.size(), compensation_.size(), compensation_.begin());
}

double absoluteAlphaSum(const HostWorld &world) {
    double sum = 0;
    for (A_long y = 0; y < world.height(); ++y) {
        const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(world.row(y));
        for (A_long x = 0; x < world.width(); ++x) sum += std::fabs(static_cast<double>(finiteOrZero(pixels[x].alpha)));
    }
    return sum;
}

template class AreaTableRows<std::uint64_t>;
template class AreaTableRows<double>;

} // namespace headless
