// Bounds of pow: the C library's power always lies inside them, and they
// are close enough to it that a highlight rarely needs the power itself.
#include "tracer/PowerBounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

// Seeded bases as highlights give them (single-precision cosines, most near
// 1, some tiny) and beyond, and exponents as "Roughness" gives them (tangents
// of a quarter turn's fractions) and beyond, integers among them.
TEST(PowerBounds, HoldTheLibraryPowerTightly)
{
    std::mt19937 random(7717);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double worst = 0.0; // the largest error of the bounds' middle, in slacks
    int bounded = 0;
    for (int trial = 0; trial < 600000; ++trial) {
        double x = unit(random);
        switch (trial % 4) {
        case 1: x = 1.0 - unit(random) * 1e-3; break;
        case 2: x = std::ldexp(unit(random), -static_cast<int>(unit(random) * 120.0)); break;
        case 3: x = 1.0 + unit(random) * 7.0; break;
        default: break;
        }
        x = static_cast<float>(x);
        double y = unit(random) * 10.0;
        switch (trial % 5) {
        case 1: y = std::ldexp(unit(random), static_cast<int>(unit(random) * 12.0)); break;
        case 2: y = static_cast<float>(std::tan(unit(random) * M_PI / 2.0)); break;
        case 3: y = std::floor(unit(random) * 64.0); break;
        default: break;
        }
        double lo = 0.0, hi = 0.0;
        if (!PowerBounds(x, y, lo, hi)) {
            ASSERT_FALSE(y <= 4096.0 && std::fabs(y * std::log(x)) < 690.0) << x << " ^ " << y;
            continue;
        }
        ++bounded;
        const double power = std::pow(x, y);
        ASSERT_TRUE(lo <= power && power <= hi) << x << " ^ " << y << " = " << power;
        worst = std::max(worst, std::fabs((lo + hi) / 2.0 - power) / ((hi - lo) / 2.0));
    }
    EXPECT_GT(bounded, 500000);
    EXPECT_LT(worst, 0.25); // the error is within a quarter of the slack
}

TEST(PowerBounds, OfferNoneOutsideTheirRange)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double none[][2] = {{0.0, 2.0},  {-0.5, 2.0}, {nan, 2.0},    {inf, 2.0},   {0.5, nan},
                              {0.5, -1.0}, {0.5, 5000}, {1e-300, 2.0}, {1e-30, 30}};
    for (const auto &args : none) {
        double lo = 7.0, hi = 7.0;
        EXPECT_FALSE(PowerBounds(args[0], args[1], lo, hi)) << args[0] << " ^ " << args[1];
        EXPECT_EQ(lo, 7.0);
        EXPECT_EQ(hi, 7.0);
    }
    double lo = 0.0, hi = 0.0; // the edges: 1 to any power, anything to the power 0
    ASSERT_TRUE(PowerBounds(1.0, 4096.0, lo, hi));
    EXPECT_TRUE(lo <= 1.0 && 1.0 <= hi);
    ASSERT_TRUE(PowerBounds(0.25, 0.0, lo, hi));
    EXPECT_TRUE(lo <= 1.0 && 1.0 <= hi);
}

} // namespace
