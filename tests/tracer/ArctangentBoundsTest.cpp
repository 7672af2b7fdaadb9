// Bounds of atan2: the C library's angle always lies inside them, and they
// are close enough to it that a lookup rarely needs the angle itself.
#include "tracer/ArctangentBounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Seeded arguments of every kind a hit gives and more: single-precision
// values (as the hit's normalised x and y are) over many magnitudes, every
// octant and its edges (|x| = |y|, an axis), the sixteenths of the table and
// the points between them, and signed zeros.
TEST(ArctangentBounds, HoldTheLibraryAngleTightly)
{
    std::mt19937 random(3301);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto signed_ = [&](double v) { return unit(random) < 0.5 ? -v : v; };
    double worst = 0.0;
    for (int trial = 0; trial < 400000; ++trial) {
        const double scale = std::ldexp(1.0, static_cast<int>(unit(random) * 80.0) - 40);
        double x = unit(random) * scale, y = unit(random) * scale;
        switch (trial % 8) {
        case 0: y = x * (1.0 + (unit(random) - 0.5) * 1e-12); break; // the diagonal
        case 1: y = x * (static_cast<int>(unit(random) * 17.0) / 16.0 + 1.0 / 32.0); break;
        case 2: y = x * static_cast<int>(unit(random) * 17.0) / 16.0; break; // a sixteenth
        case 3: y = x * 1e-9 * unit(random); break;                          // near an axis
        case 4: y = trial % 16 == 4 ? 0.0 : -0.0; break;                     // on it
        default: break;
        }
        x = static_cast<float>(signed_(x));
        y = static_cast<float>(signed_(y));
        if (trial % 2) std::swap(x, y);
        double lo = 0.0, hi = 0.0;
        if (x == 0.0 && y == 0.0) {
            EXPECT_FALSE(ArctangentBounds(y, x, lo, hi));
            continue;
        }
        ASSERT_TRUE(ArctangentBounds(y, x, lo, hi)) << y << ", " << x;
        const double angle = std::atan2(y, x);
        ASSERT_TRUE(lo <= angle && angle <= hi) << "atan2(" << y << ", " << x << ") = " << angle;
        ASSERT_NEAR(hi - lo, 2.0 * kArctangentSlack, 1e-15);
        worst = std::max(worst, std::fabs((lo + hi) / 2.0 - angle));
    }
    // The stated accuracy, 2^-46, far inside the slack.
    EXPECT_LT(worst, std::ldexp(1.0, -46)) << worst;
}

TEST(ArctangentBounds, OfferNoneOutsideTheirRange)
{
    double lo = 7.0, hi = 7.0;
    const double none[][2] = {{0.0, 0.0},   {-0.0, -0.0}, {kNaN, 1.0}, {1.0, kNaN},
                              {kInf, 1.0},  {1.0, -kInf}, {1e-160, 1e-170}, {1e160, 1.0},
                              {1.0, 1e-280}};
    for (const auto &args : none) {
        EXPECT_FALSE(ArctangentBounds(args[0], args[1], lo, hi)) << args[0] << ", " << args[1];
        EXPECT_EQ(lo, 7.0);
        EXPECT_EQ(hi, 7.0);
    }
    // The edges of the range, and a zero beside a number in it.
    EXPECT_TRUE(ArctangentBounds(std::ldexp(1.0, -500), std::ldexp(1.0, -501), lo, hi));
    EXPECT_TRUE(ArctangentBounds(0.0, -3.0, lo, hi));
    EXPECT_TRUE(lo <= std::atan2(0.0, -3.0) && std::atan2(0.0, -3.0) <= hi);
    EXPECT_TRUE(ArctangentBounds(-0.0, -3.0, lo, hi));
    EXPECT_TRUE(lo <= -M_PI && -M_PI <= hi);
}

} // namespace
