#include "headless/images/AreaTableRows.h"

#include <algorithm>
#include <cmath>

namespace headless {

namespace {

float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

// One step of compensated (Kahan) summation of `value` into `sum`.
inline void addCompensated(double &sum, double &compensation, double value) {
    const double y = value - compensation;
    const double t = sum + y;
    compensation = (t - sum) - y;
    sum = t;
}

// Adds pixel row `y` of 8-bit or 16-bit pixels to the row above, in place.
template <class P> void addExactRow(const HostWorld &world, A_long y, std::uint64_t *sums) {
    const auto *pixels = reinterpret_cast<const P *>(world.row(y));
    std::uint64_t run[kAreaSums] = {0, 0, 0, 0};
    for (A_long x = 0; x < world.width(); ++x) {
        const P &p = pixels[x];
        const std::uint64_t alpha = p.alpha;
        run[0] += alpha;
        run[1] += p.red * alpha;
        run[2] += p.green * alpha;
        run[3] += p.blue * alpha;
        std::uint64_t *out = sums + (static_cast<std::size_t>(x) + 1) * kAreaSums;
        for (std::size_t c = 0; c < kAreaSums; ++c) out[c] += run[c];
    }
}

// Adds pixel row `y` of float pixels to the row above, in place, carrying
// every column's compensation on.
void addRealRow(const HostWorld &world, A_long y, double *sums, double *compensation) {
    const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(world.row(y));
    double run[kAreaSums] = {0, 0, 0, 0};
    double runCompensation[kAreaSums] = {0, 0, 0, 0};
    for (A_long x = 0; x < world.width(); ++x) {
        const PF_PixelFloat &p = pixels[x];
        // Products of two floats are exact in double.
        const double alpha = finiteOrZero(p.alpha);
        const double values[kAreaSums] = {alpha, finiteOrZero(p.red) * alpha, finiteOrZero(p.green) * alpha,
                                          finiteOrZero(p.blue) * alpha};
        const std::size_t at = (static_cast<std::size_t>(x) + 1) * kAreaSums;
        for (std::size_t c = 0; c < kAreaSums; ++c) {
            addCompensated(run[c], runCompensation[c], values[c]);
            addCompensated(sums[at + c], compensation[at + c], run[c]);
        }
    }
}

} // namespace

template <class T>
AreaTableRows<T>::AreaTableRows(const HostWorld &world)
    : world_(world), sums_((static_cast<std::size_t>(world.width()) + 1) * kAreaSums, T{0}) {
    if constexpr (std::is_same_v<T, double>) compensation_.assign(sums_.size(), 0.0);
}

template <class T> void AreaTableRows<T>::advance() {
    if constexpr (std::is_same_v<T, double>) {
        addRealRow(world_, row_, sums_.data(), compensation_.data());
    } else if (world_.depth() == PixelDepth::Eight) {
        addExactRow<PF_Pixel>(world_, row_, sums_.data());
    } else {
        addExactRow<PF_Pixel16>(world_, row_, sums_.data());
    }
    ++row_;
}

template <class T> void AreaTableRows<T>::saveState(T *state) const {
    std::copy(sums_.begin(), sums_.end(), state);
    std::copy(compensation_.begin(), compensation_.end(), state + sums_.size());
}

template <class T> void AreaTableRows<T>::restoreState(A_long row, const T *state) {
    row_ = row;
    std::copy_n(state, sums_.size(), sums_.begin());
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
