#include "tracer/ArctangentBounds.h"

#include <cmath>
#include <cstdint>

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
#include "tracer/BoundsSteps.inl"
} // namespace

bool ArctangentBounds(double y, double x, double &lo, double &hi)
{
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double big = ax > ay ? ax : ay, small = ax > ay ? ay : ax;
    const double a = small / big; // in [0, 1], within half a unit
    if (!ArctangentArgumentsInRange(big, a)) return false; // (NaN fails every test)
    int row = 0;
    const double series = ArctangentSeries(a, row);
    const double r = ArctangentByOctant(kArctangentOfSixteenths[row] + series, x, y);
    lo = r - kArctangentSlack;
    hi = r + kArctangentSlack;
    return true;
}
