#include "imaging/Pixel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

PF_PixelFloat grey(float c) { return {c, c, c, c}; }

void expectPixelEq(const PF_PixelFloat &expected, const PF_PixelFloat &actual) {
    EXPECT_EQ(expected.alpha, actual.alpha);
    EXPECT_EQ(expected.red, actual.red);
    EXPECT_EQ(expected.green, actual.green);
    EXPECT_EQ(expected.blue, actual.blue);
}

} // namespace

TEST(Pixel, Every8BitValueRoundTrips) {
    for (int c = 0; c <= 255; ++c) {
        const PF_Pixel in{A_u_char(c), A_u_char(255 - c), A_u_char(c), A_u_char(c / 2)};
        const PF_PixelFloat f = Pixel8ToF(&in);
        // Each channel in its own place, the quotient of one division by 255 in
        // float, whichever lanes the build divides on.
        expectPixelEq({float(in.alpha) / 255.0f, float(in.red) / 255.0f, float(in.green) / 255.0f,
                       float(in.blue) / 255.0f},
                      f);
        const PF_Pixel out = PixelFTo8(&f);
        ASSERT_EQ(out.alpha, in.alpha) << c;
        ASSERT_EQ(out.red, in.red) << c;
        ASSERT_EQ(out.green, in.green) << c;
        ASSERT_EQ(out.blue, in.blue) << c;
    }
}

TEST(Pixel, Every16BitValueRoundTrips) {
    for (int c = 0; c <= 32768; ++c) {
        const PF_Pixel16 in{A_u_short(c), A_u_short(32768 - c), A_u_short(c), A_u_short(c / 3)};
        const PF_PixelFloat f = Pixel16ToF(&in);
        ASSERT_EQ(f.alpha, static_cast<float>(c) / 32768.0f) << c;
        const PF_Pixel16 out = PixelFTo16(&f);
        ASSERT_EQ(out.alpha, in.alpha) << c;
        ASSERT_EQ(out.red, in.red) << c;
        ASSERT_EQ(out.green, in.green) << c;
        ASSERT_EQ(out.blue, in.blue) << c;
    }
    const PF_Pixel16 full{32768, 32768, 32768, 32768};
    expectPixelEq(grey(1.0f), Pixel16ToF(&full));
}

TEST(Pixel, FloatToIntegerClampsAndTruncates) {
    const PF_PixelFloat f{1.0f, 1.5f, -0.2f, 0.999f};
    const PF_Pixel p8 = PixelFTo8(&f);
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 255);
    EXPECT_EQ(p8.green, 0);
    EXPECT_EQ(p8.blue, 254); // 254.745 truncated, not rounded
    const PF_Pixel16 p16 = PixelFTo16(&f);
    EXPECT_EQ(p16.alpha, 32768);
    EXPECT_EQ(p16.red, 32768);
    EXPECT_EQ(p16.green, 0);
    EXPECT_EQ(p16.blue, 32735); // 32735.232 truncated
}

TEST(Pixel, NonFiniteChannelsStoreSafely) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const PF_PixelFloat f{nan, inf, -inf, 0.5f};
    const PF_Pixel p8 = PixelFTo8(&f);
    EXPECT_EQ(p8.alpha, 0);
    EXPECT_EQ(p8.red, 255);
    EXPECT_EQ(p8.green, 0);
    EXPECT_EQ(p8.blue, 127);
    const PF_Pixel16 p16 = PixelFTo16(&f);
    EXPECT_EQ(p16.alpha, 0);
    EXPECT_EQ(p16.red, 32768);
    EXPECT_EQ(p16.green, 0);
    EXPECT_EQ(p16.blue, 16384);
    // The same rule when a per-depth writer stores single channels.
    EXPECT_EQ(ChannelFTo8(nan), 0);
    EXPECT_EQ(ChannelFTo16(nan), 0);
    EXPECT_EQ(ChannelFTo8(1.0001f), 255);
    EXPECT_EQ(ChannelFTo16(-0.0f), 0);
}

TEST(Pixel, OutOfRange16BitInputIsNotClampedOnTheWayIn) {
    const PF_Pixel16 in{65535, 32769, 0, 16384};
    const PF_PixelFloat f = Pixel16ToF(&in);
    EXPECT_EQ(f.alpha, 1.999969482421875f);
    EXPECT_EQ(f.red, 1.000030517578125f);
    EXPECT_EQ(f.blue, 0.5f);
}

TEST(Pixel, TemplatesPickTheConversionOfTheirDepth) {
    const PF_Pixel p8{255, 51, 0, 102};
    const PF_Pixel16 p16{32768, 8192, 0, 16384};
    const PF_PixelFloat pf{1.0f, 0.2f, 0.0f, 3.5f};
    expectPixelEq(Pixel8ToF(&p8), toPixelF(&p8));
    expectPixelEq(Pixel16ToF(&p16), toPixelF(&p16));
    expectPixelEq(pf, toPixelF(&pf));

    const PF_Pixel back8 = fromPixelF<PF_Pixel>(&pf);
    EXPECT_EQ(back8.blue, 255);
    EXPECT_EQ(back8.red, 51);
    const PF_Pixel16 back16 = fromPixelF<PF_Pixel16>(&pf);
    EXPECT_EQ(back16.blue, 32768);
    EXPECT_EQ(back16.red, 6553); // 6553.6 truncated
    expectPixelEq(pf, fromPixelF<PF_PixelFloat>(&pf)); // float output keeps 3.5
}

TEST(Pixel, ClipTakesUpperBoundFirstAndCoversAlpha) {
    const PF_PixelFloat p{1.25f, -0.5f, 0.25f, 0.75f};
    expectPixelEq({1.0f, 0.0f, 0.25f, 0.75f}, ClipPixelF(&p, 1.0, 0.0));
    expectPixelEq({0.5f, 0.2f, 0.25f, 0.5f}, ClipPixelF(&p, 0.5, 0.2));
    // Lower above upper: unchanged, never a swapped clamp.
    expectPixelEq(p, ClipPixelF(&p, 0.0, 1.0));
    // Comparisons are in double: a bound between two floats is stored as float.
    const PF_PixelFloat one = grey(1.0f);
    EXPECT_EQ(ClipPixelF(&one, 0.1, 0.0).red, static_cast<float>(0.1));

    const PF_PixelFloat withNan{std::numeric_limits<float>::quiet_NaN(), 2.0f, 0.5f, 0.5f};
    const PF_PixelFloat clipped = ClipPixelF(&withNan, 1.0, 0.0);
    EXPECT_TRUE(std::isnan(clipped.alpha));
    EXPECT_EQ(clipped.red, 1.0f);
}

TEST(Pixel, ChannelWiseOperatorsIncludeAlpha) {
    const PF_PixelFloat a{1.0f, 0.5f, 0.25f, 2.0f};
    const PF_PixelFloat b{0.5f, 0.5f, 4.0f, -1.0f};
    expectPixelEq({1.5f, 1.0f, 4.25f, 1.0f}, a + b);
    expectPixelEq({0.5f, 0.0f, -3.75f, 3.0f}, a - b);
    expectPixelEq({0.5f, 0.25f, 1.0f, -2.0f}, a * b);
    expectPixelEq({3.0f, 1.5f, 0.75f, 6.0f}, 3.0 * a);
    // Scaling is done in double and rounded once; in float 0.1f * 1.1f gives another value.
    const PF_PixelFloat tenth = grey(0.1f);
    EXPECT_EQ((1.1 * tenth).red, static_cast<float>(static_cast<double>(0.1f) * 1.1));
    EXPECT_NE((1.1 * tenth).red, 0.1f * 1.1f);

    const PF_PixelFloat opaqueWhite = grey(1.0f);
    expectPixelEq(grey(0.0f), !opaqueWhite);
    expectPixelEq({0.0f, 0.5f, 0.75f, -1.0f}, !a);
}

// The store rule as branches, the way it reads: above full is full, from 0
// up truncated, anything else (below zero, NaN) 0. The stores must agree with
// it on every float, so a sweep over the bit patterns checks them.
TEST(PixelTest, ChannelStoresFollowTheRuleOnEveryKindOfFloat)
{
    const auto rule = [](float c, float full) -> long {
        const float scaled = c * full;
        if (scaled > full) return static_cast<long>(full);
        if (scaled >= 0.0f) return static_cast<long>(scaled);
        return 0;
    };
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFull; bits += 4099) {
        const std::uint32_t b = static_cast<std::uint32_t>(bits);
        float c;
        std::memcpy(&c, &b, sizeof c);
        ASSERT_EQ(static_cast<long>(ChannelFTo8(c)), rule(c, 255.0f)) << std::hexfloat << c;
        ASSERT_EQ(static_cast<long>(ChannelFTo16(c)), rule(c, 32768.0f)) << std::hexfloat << c;
    }
    for (const float c : {1.0f, std::nextafter(1.0f, 2.0f), std::nextafter(1.0f, 0.0f), 0.0f, -0.0f,
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(static_cast<long>(ChannelFTo8(c)), rule(c, 255.0f)) << c;
        EXPECT_EQ(static_cast<long>(ChannelFTo16(c)), rule(c, 32768.0f)) << c;
    }
}

// Whole pixels are stored four channels at a time; each channel must be what
// the clip to [0, 1] and the one rule give it alone. Random pixels of every
// kind of float in every channel.
TEST(PixelTest, WholePixelStoresMatchTheirChannelsOneByOne)
{
    std::mt19937 random(17);
    std::uniform_int_distribution<std::uint32_t> bits;
    std::uniform_real_distribution<float> near(-0.5f, 1.5f);
    const float special[] = {0.0f, -0.0f, 1.0f, std::nextafter(1.0f, 2.0f), 255.5f / 255.0f,
                             std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    const auto any = [&](int k) {
        if (k % 3 == 0) return special[bits(random) % 8];
        if (k % 3 == 1) return near(random);
        const std::uint32_t b = bits(random);
        float f;
        std::memcpy(&f, &b, sizeof f);
        return f;
    };
    for (int trial = 0; trial < 200000; ++trial) {
        const PF_PixelFloat p{any(trial), any(trial + 1), any(trial + 2), any(trial * 7)};
        const PF_PixelFloat c = ClipPixelF(&p, 1.0, 0.0);
        const PF_Pixel p8 = PixelFTo8(&p);
        const PF_Pixel16 p16 = PixelFTo16(&p);
        const PF_Pixel want8{ChannelFTo8(c.alpha), ChannelFTo8(c.red), ChannelFTo8(c.green), ChannelFTo8(c.blue)};
        const PF_Pixel16 want16{ChannelFTo16(c.alpha), ChannelFTo16(c.red), ChannelFTo16(c.green),
                                ChannelFTo16(c.blue)};
        ASSERT_EQ(std::memcmp(&p8, &want8, sizeof p8), 0) << "trial " << trial;
        ASSERT_EQ(std::memcmp(&p16, &want16, sizeof p16), 0) << "trial " << trial;
    }
}
