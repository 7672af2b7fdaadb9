#include "tracer/ArctangentBounds.h"

#include <cmath>
#include <numbers>

const double kArctangentOfSixteenths[17] = {
    0.0,
    0.06241880999595735,
    0.12435499454676144,
    0.18534794999569476,
    0.24497866312686414,
    0.3028848683749714,
    0.35877067027057225,
    0.4124104415973873,
    0.4636476090008061,
    0.5123894603107377,
    0.5585993153435624,
    0.6022873461349642,
    0.6435011087932844,
    0.6823165548747481,
    0.7188299996216245,
    0.7531512809621944,
    0.7853981633974483};

namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;
constexpr double kPi = std::numbers::pi;

// atan(a) for a in [0, 1], within 2^-50: the nearest sixteenth c = i / 16
// and atan(a) = atan(c) + atan(t), t = (a - c) / (1 + a c), |t| <= 1/32,
// whose series t - t^3/3 + ... + t^9/9 leaves out less than t^11 / 11 <
// 2^-58. The rounding of a, t and the series adds a few units of 2^-53 to
// each term, all below 2^-50 together.
double ArctangentOfRatio(double a)
{
    const int i = static_cast<int>(a * 16.0 + 0.5);
    const double c = i / 16.0;
    const double t = (a - c) / (1.0 + a * c);
    const double t2 = t * t;
    const double series =
        t + t * t2 * (-1.0 / 3.0 + t2 * (1.0 / 5.0 + t2 * (-1.0 / 7.0 + t2 * (1.0 / 9.0))));
    return kArctangentOfSixteenths[i] + series;
}

} // namespace

bool ArctangentBounds(double y, double x, double &lo, double &hi)
{
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double big = ax > ay ? ax : ay, small = ax > ay ? ay : ax;
    // Also false for NaN, which fails every comparison.
    if (!(big >= 0x1p-500 && big <= 0x1p500)) return false;
    const double a = small / big; // in [0, 1], within half a unit
    if (a != 0.0 && !(a >= 0x1p-900)) return false;
    // The angle from the ratio, by octant: each step adds at most one
    // rounding of a value below 4 (2^-51) and a constant's (2^-52), so the
    // angle lies within 2^-46 of the true one; the sign of y (-0 included)
    // decides the sign, as for atan2.
    double r = ArctangentOfRatio(a);
    if (ay > ax) r = kHalfPi - r;
    if (x < 0.0) r = kPi - r;
    r = std::copysign(r, y); // r is not negative (nor -0) before
    lo = r - kArctangentSlack;
    hi = r + kArctangentSlack;
    return true;
}
