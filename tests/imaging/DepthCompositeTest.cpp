#include "imaging/DepthComposite.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using DepthCompositeInfo = RenderInfoTemplate<Hyperboloid>::DepthCompositeInfo;

constexpr int kOff = 1, kFog = 2, kFadeOut = 3;

DepthCompositeInfo settings(int mode, double start, double end) {
    DepthCompositeInfo info;
    info.mode = mode;
    info.start = start;
    info.range = end - start;
    info.fogColor = {1.0f, 0.2f, 0.4f, 0.8f};
    return info;
}

PF_PixelFloat composite(const DepthCompositeInfo &info, double depth, PF_PixelFloat pixel) {
    depthComposite(info, depth, pixel);
    return pixel;
}

void expectPixelEq(const PF_PixelFloat &expected, const PF_PixelFloat &actual) {
    EXPECT_EQ(expected.alpha, actual.alpha);
    EXPECT_EQ(expected.red, actual.red);
    EXPECT_EQ(expected.green, actual.green);
    EXPECT_EQ(expected.blue, actual.blue);
}

const PF_PixelFloat kSurface{0.5f, 0.75f, 0.5f, 0.25f};

} // namespace

TEST(DepthComposite, DefaultsAreOffOverAUnitRange) {
    const DepthCompositeInfo info;
    EXPECT_EQ(info.mode, kOff);
    EXPECT_EQ(info.range, 1.0);
    EXPECT_EQ(info.start, 0.0);
    expectPixelEq(kSurface, composite(info, 0.5, kSurface));
    expectPixelEq(kSurface, composite(settings(7, 0, 10), 500, kSurface)); // unknown mode: off
}

TEST(DepthComposite, FogRampFromStartToEnd) {
    const DepthCompositeInfo info = settings(kFog, 100, 200);
    const PF_PixelFloat fogWithSurfaceAlpha{kSurface.alpha, 0.2f, 0.4f, 0.8f};
    expectPixelEq(kSurface, composite(info, 50, kSurface));  // in front
    expectPixelEq(kSurface, composite(info, 100, kSurface)); // at the start
    expectPixelEq(fogWithSurfaceAlpha, composite(info, 200, kSurface));
    expectPixelEq(fogWithSurfaceAlpha, composite(info, 1e6, kSurface));

    // Half way, opaque: the plain average of surface and fog.
    const PF_PixelFloat opaque{1.0f, 0.75f, 0.5f, 0.25f};
    const PF_PixelFloat half = composite(info, 150, opaque);
    EXPECT_EQ(half.alpha, 1.0f);
    EXPECT_EQ(half.red, (0.75f + 0.2f) * 0.5f);
    EXPECT_EQ(half.blue, (0.25f + 0.8f) * 0.5f);

    // Partly covered: the surface colour counts by its coverage.
    const PF_PixelFloat quarter = composite(info, 125, kSurface); // f = 0.25, k = 0.375
    EXPECT_FLOAT_EQ(quarter.red, (0.75f * 0.375f + 0.2f * 0.25f) / 0.625f);
    EXPECT_EQ(quarter.alpha, kSurface.alpha);
}

TEST(DepthComposite, FogAtTheEndIgnoresSurfaceAlphaAndFogAlpha) {
    DepthCompositeInfo info = settings(kFog, 0, 10);
    info.fogColor.alpha = 0.0f;
    for (float alpha : {0.0f, 0.3f, 1.0f}) {
        const PF_PixelFloat out = composite(info, 10, {alpha, 0.9f, 0.9f, 0.9f});
        expectPixelEq({alpha, 0.2f, 0.4f, 0.8f}, out);
    }
}

TEST(DepthComposite, TransparentHitTakesThePureFogColourAndStaysTransparent) {
    const DepthCompositeInfo info = settings(kFog, 0, 100);
    expectPixelEq({0.0f, 0.2f, 0.4f, 0.8f}, composite(info, 25, {0.0f, 0.9f, 0.1f, 0.6f}));
}

TEST(DepthComposite, FadeOutRampFromStartToEnd) {
    const DepthCompositeInfo info = settings(kFadeOut, 100, 200);
    expectPixelEq(kSurface, composite(info, 20, kSurface));
    expectPixelEq(kSurface, composite(info, 100, kSurface));
    expectPixelEq({0.25f, 0.75f, 0.5f, 0.25f}, composite(info, 150, kSurface));
    expectPixelEq({0.0f, 0.75f, 0.5f, 0.25f}, composite(info, 200, kSurface));
    expectPixelEq({0.0f, 0.75f, 0.5f, 0.25f}, composite(info, 900, kSurface));
    // The ramp value is narrowed to float before it scales alpha.
    const PF_PixelFloat opaque{1.0f, 1.0f, 1.0f, 1.0f};
    EXPECT_EQ(composite(info, 170, opaque).alpha, static_cast<float>(1.0 - 70.0 / 100.0));
}

TEST(DepthComposite, ZeroRangeIsAHardStepAtTheStartDepth) {
    const DepthCompositeInfo fog = settings(kFog, 100, 100);
    const PF_PixelFloat fogged{kSurface.alpha, 0.2f, 0.4f, 0.8f};
    expectPixelEq(kSurface, composite(fog, 99.999, kSurface));
    expectPixelEq(kSurface, composite(fog, 100, kSurface));
    expectPixelEq(fogged, composite(fog, 100.001, kSurface));

    const DepthCompositeInfo fade = settings(kFadeOut, 100, 100);
    const PF_PixelFloat hidden{0.0f, kSurface.red, kSurface.green, kSurface.blue};
    expectPixelEq(kSurface, composite(fade, 99.999, kSurface));
    expectPixelEq(hidden, composite(fade, 100, kSurface));
    expectPixelEq(hidden, composite(fade, 100.001, kSurface));
}

TEST(DepthComposite, NegativeRangeTurnsTheRampsAround) {
    const DepthCompositeInfo fog = settings(kFog, 100, 50);
    expectPixelEq({kSurface.alpha, 0.2f, 0.4f, 0.8f}, composite(fog, 50, kSurface));
    expectPixelEq({kSurface.alpha, 0.2f, 0.4f, 0.8f}, composite(fog, 10, kSurface));
    expectPixelEq(kSurface, composite(fog, 100, kSurface));
    expectPixelEq(kSurface, composite(fog, 150, kSurface));

    const DepthCompositeInfo fade = settings(kFadeOut, 100, 50);
    EXPECT_EQ(composite(fade, 50, kSurface).alpha, 0.0f);
    EXPECT_EQ(composite(fade, 75, kSurface).alpha, 0.25f);
    EXPECT_EQ(composite(fade, 100, kSurface).alpha, 0.5f);
    EXPECT_EQ(composite(fade, 400, kSurface).alpha, 0.5f);
}

TEST(DepthComposite, NonFiniteDepthLeavesNoNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const DepthCompositeInfo &info : {settings(kFog, 0, 10), settings(kFog, 5, 5),
                                           settings(kFadeOut, 0, 10), settings(kFadeOut, 5, 5)}) {
        const PF_PixelFloat out = composite(info, nan, kSurface);
        EXPECT_FALSE(std::isnan(out.alpha) || std::isnan(out.red) || std::isnan(out.green) ||
                     std::isnan(out.blue));
    }
}
