// Bounds of atan2 and pow: the C library's result always lies inside them,
// close enough to their middle that a lookup or a highlight rarely needs the
// call itself, and none are offered outside their range.
#include "tracer/ArctangentBounds.h"
#include "tracer/PowerBounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Seeded single-precision arguments (as a hit's normalised x and y are) over
// 80 binary orders of magnitude: every octant and its edges (|x| = |y|, an
// axis, signed zeros), the table's sixteenths and the points between them.
TEST(LibraryBounds, ArctangentHoldsTheLibraryAngleTightly)
{
    std::mt19937 random(3301);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double worst = 0.0;
    for (int trial = 0; trial < 400000; ++trial) {
        const double scale = std::ldexp(1.0, static_cast<int>(unit(random) * 80.0) - 40);
        double x = unit(random) * scale, y = unit(random) * scale;
        const double sixteenth = static_cast<int>(unit(random) * 17.0) / 16.0;
        const double kinds[] = {x * (1.0 + (unit(random) - 0.5) * 1e-12), x * (sixteenth + 1.0 / 32.0),
                                x * sixteenth, x * 1e-9 * unit(random), trial % 16 == 4 ? 0.0 : -0.0};
        if (trial % 8 < 5) y = kinds[trial % 8];
        x = static_cast<float>(unit(random) < 0.5 ? -x : x);
        y = static_cast<float>(unit(random) < 0.5 ? -y : y);
        if (trial % 2) std::swap(x, y);
        double lo = 0.0, hi = 0.0;
        if (x == 0.0 && y == 0.0) continue; // (no bounds: OfferNoneOutsideTheirRange)
        ASSERT_TRUE(ArctangentBounds(y, x, lo, hi)) << y << ", " << x;
        const double angle = std::atan2(y, x);
        ASSERT_TRUE(lo <= angle && angle <= hi) << "atan2(" << y << ", " << x << ") = " << angle;
        ASSERT_NEAR(hi - lo, 2.0 * kArctangentSlack, 1e-15);
        worst = std::max(worst, std::fabs((lo + hi) / 2.0 - angle));
    }
    EXPECT_LT(worst, std::ldexp(1.0, -46)) << worst; // the stated accuracy, far inside the slack
}

// Seeded bases as highlights give them (single-precision cosines, most near
// 1, some tiny) and beyond, and exponents as "Roughness" gives them
// (tangents of a quarter turn's fractions) and beyond, integers among them.
TEST(LibraryBounds, PowerHoldsTheLibraryPowerTightly)
{
    std::mt19937 random(7717);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double worst = 0.0; // the largest error of the bounds' middle, in slacks
    int bounded = 0;
    for (int trial = 0; trial < 600000; ++trial) {
        const double bases[] = {unit(random), 1.0 - unit(random) * 1e-3,
                                std::ldexp(unit(random), -static_cast<int>(unit(random) * 120.0)),
                                1.0 + unit(random) * 7.0};
        const double exponents[] = {unit(random) * 10.0,
                                    std::ldexp(unit(random), static_cast<int>(unit(random) * 12.0)),
                                    static_cast<float>(std::tan(unit(random) * M_PI / 2.0)),
                                    std::floor(unit(random) * 64.0), unit(random) * 10.0};
        const double x = static_cast<float>(bases[trial % 4]), y = exponents[trial % 5];
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

TEST(LibraryBounds, OfferNoneOutsideTheirRange)
{
    struct Case {
        bool power; // PowerBounds(a, b), else ArctangentBounds(a, b)
        double a, b;
        bool offered;
    };
    const Case cases[] = {
        {false, 0.0, 0.0, false},   {false, -0.0, -0.0, false}, {false, kNaN, 1.0, false},
        {false, 1.0, kNaN, false},  {false, kInf, 1.0, false},  {false, 1.0, -kInf, false},
        {false, 1e-160, 1e-170, false}, {false, 1e160, 1.0, false}, {false, 1.0, 1e-280, false},
        {false, 0x1p-500, 0x1p-501, true}, {false, 0.0, -3.0, true}, {false, -0.0, -3.0, true},
        {true, 0.0, 2.0, false},    {true, -0.5, 2.0, false},   {true, kNaN, 2.0, false},
        {true, kInf, 2.0, false},   {true, 0.5, kNaN, false},   {true, 0.5, -1.0, false},
        {true, 0.5, 5000, false},   {true, 1e-300, 2.0, false}, {true, 1e-30, 30, false},
        {true, 1.0, 4096.0, true},  {true, 0.25, 0.0, true}};
    for (const Case &c : cases) {
        double lo = 7.0, hi = 7.0;
        const bool offered = c.power ? PowerBounds(c.a, c.b, lo, hi) : ArctangentBounds(c.a, c.b, lo, hi);
        ASSERT_EQ(offered, c.offered) << (c.power ? "pow(" : "atan2(") << c.a << ", " << c.b << ")";
        if (!offered) {
            EXPECT_TRUE(lo == 7.0 && hi == 7.0); // untouched
            continue;
        }
        const double exact = c.power ? std::pow(c.a, c.b) : std::atan2(c.a, c.b);
        EXPECT_TRUE(lo <= exact && exact <= hi) << c.a << ", " << c.b;
    }
}

} // namespace
