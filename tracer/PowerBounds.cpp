#include "tracer/PowerBounds.h"

#include <cstdint>

#include "tracer/ArctangentBounds.h" // what the steps' arctangent lanes read

namespace {
#include "tracer/BoundsSteps.inl"
} // namespace

bool PowerBounds(double x, double y, double &lo, double &hi)
{
    if (!(x >= 0x1p-1000 && x <= 0x1p1000 && y >= 0.0 && y <= 4096.0)) return false;
    double t = 0.0, slack = 0.0;
    const double value = PowerEstimate(x, y, t, slack);
    if (!(t >= -700.0 && t <= 700.0)) return false;
    lo = value - value * slack;
    hi = value + value * slack;
    return true;
}
