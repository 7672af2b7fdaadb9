// Animated values: linear keys, holds outside the keys, hold interpolation.
#include "headless/composition/Keyframes.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

using namespace headless;

namespace {

TEST(Keyframes, WithoutKeysTheValueHoldsEverywhere) {
    Animated<double> a = 7.5;
    EXPECT_FALSE(a.isAnimated());
    EXPECT_EQ(a.at(-100.0), 7.5);
    EXPECT_EQ(a.at(0.0), 7.5);
    EXPECT_EQ(a.at(1e9), 7.5);
}

TEST(Keyframes, LinearBetweenKeysAndHeldOutsideThem) {
    Animated<double> a = 999.0; // the plain value no longer counts once there are keys
    a.keys = {{1.0, 10.0}, {3.0, 30.0}, {4.0, 0.0}};
    EXPECT_EQ(a.at(0.0), 10.0);  // before the first key
    EXPECT_EQ(a.at(1.0), 10.0);  // on a key
    EXPECT_EQ(a.at(2.0), 20.0);  // half way
    EXPECT_EQ(a.at(2.5), 25.0);
    EXPECT_EQ(a.at(3.0), 30.0);
    EXPECT_EQ(a.at(3.5), 15.0);  // the next segment, going down
    EXPECT_EQ(a.at(4.0), 0.0);   // the last key
    EXPECT_EQ(a.at(50.0), 0.0);  // after it
}

TEST(Keyframes, HoldKeepsTheEarlierKeyUntilTheNext) {
    Animated<double> a;
    a.keys = {{0.0, 1.0}, {1.0, 2.0}, {2.0, 3.0}};
    EXPECT_EQ(a.at(-1.0, Interpolation::Hold), 1.0);
    EXPECT_EQ(a.at(0.999, Interpolation::Hold), 1.0);
    EXPECT_EQ(a.at(1.0, Interpolation::Hold), 2.0);
    EXPECT_EQ(a.at(1.5, Interpolation::Hold), 2.0);
    EXPECT_EQ(a.at(10.0, Interpolation::Hold), 3.0);
}

TEST(Keyframes, KeysInAnyOrderGiveTheSameValues) {
    Animated<double> sorted, shuffled;
    sorted.keys = {{0.0, 0.0}, {1.0, 10.0}, {2.0, -10.0}};
    shuffled.keys = {{2.0, -10.0}, {0.0, 0.0}, {1.0, 10.0}};
    for (double t : {-1.0, 0.0, 0.25, 1.0, 1.5, 2.0, 3.0})
        EXPECT_EQ(sorted.at(t), shuffled.at(t)) << "at " << t;
}

TEST(Keyframes, TwoKeysAtOneTimeMakeAJumpAndNaNKeysAreIgnored) {
    Animated<double> a;
    a.keys = {{0.0, 0.0}, {1.0, 10.0}, {1.0, 50.0}, {2.0, 60.0}};
    EXPECT_EQ(a.at(0.5), 5.0);  // runs towards the first key at 1.0
    EXPECT_EQ(a.at(1.0), 50.0); // the last listed key at that time counts from then on
    EXPECT_EQ(a.at(1.5), 55.0);

    Animated<double> b;
    b.keys = {{std::numeric_limits<double>::quiet_NaN(), 1000.0}, {0.0, 1.0}, {2.0, 3.0}};
    EXPECT_EQ(b.at(1.0), 2.0);
    EXPECT_EQ(b.at(5.0), 3.0);
}

TEST(Keyframes, VectorsColoursAndParameterValuesMoveChannelByChannel) {
    Animated<Vec3> v;
    v.keys = {{0.0, Vec3{0, 10, -4}}, {4.0, Vec3{8, 10, 4}}};
    EXPECT_EQ(v.at(1.0), (Vec3{2, 10, -2}));

    Animated<ColorValue> c;
    c.keys = {{0.0, ColorValue{1, 0, 0, 0}}, {1.0, ColorValue{0, 1, 0.5, 0.25}}};
    EXPECT_EQ(c.at(0.5), (ColorValue{0.5, 0.5, 0.25, 0.125}));

    Animated<std::array<double, 4>> p;
    p.keys = {{0.0, {0, 100, 0, 0}}, {2.0, {4, 0, 0, 8}}};
    EXPECT_EQ(p.at(0.5), (std::array<double, 4>{1, 75, 0, 2}));
}

} // namespace
