// Whole frames of the loaded plug-in through the smart-render protocol: the
// three depths, determinism across thread counts, and the failure paths, each
// of which must leave the output untouched and the ledger empty.
#include "SmartRenderSupport.h"

#include <set>

using namespace smart_render_test;

namespace {

// A composition with a camera (so depth of field can be switched on), a
// light, a checker footage for the texture and the effect on a solid.
Composition stagedComposition(int width = 96, int height = 64) {
    Composition comp;
    comp.width = width;
    comp.height = height;
    comp.layers.push_back(makeCamera(comp, "Camera"));
    comp.layers.push_back(makeLight(comp, "Key", LightType::Point));
    comp.layers.push_back(makeFootage(comp, "Checker", 64, 32, checker(64, 32, 8)));
    comp.layers.back().video = false;
    comp.layers.push_back(makeSolid(comp, "Canvas", width, height, {1.0, 0.2, 0.2, 0.2}));
    return comp;
}
constexpr int kStagedEffectLayer = 3;
constexpr int kStagedTexture = 2;

constexpr double kDepthOfFieldOn = 3.0;

// Brings both bowls of the surface into a small frame, tilted so that the
// camera sees into one and onto the other.
void placeSurface(EffectInstance &effect) {
    effect.setParam(PARAM_DIST_FROM_CENTER, {8.0});
    effect.setParam(PARAM_ROTATION_X, {-70.0});
    effect.setParam(PARAM_ROTATION_Y, {20.0});
}

void useTextureAndDepthOfField(EffectInstance &effect) {
    effect.chooseLayer(PARAM_TEXTURE, kStagedTexture);
    effect.setParam(PARAM_DEPTH_OF_FIELD, {kDepthOfFieldOn});
    effect.setParam(PARAM_BOOST_DOF_BLUR, {800.0});
}

// The effect with every parameter at its default on a 640 x 480 layer in a
// composition of that size, rendered at a fifth: 128 x 96.
constexpr int kDefaultDownsample = 5;
constexpr A_long kDefaultWidth = 128, kDefaultHeight = 96;

TEST(SmartRenderFrame, TheDefaultSurfaceShowsItsUVRampInEveryDepth) {
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        LoadedEffect fx(soloComposition(640, 480));
        ASSERT_EQ(fx.setupErr, PF_Err_NONE);
        const RenderResult frame = fx.render(depth, kDefaultDownsample);
        ASSERT_EQ(frame.err, PF_Err_NONE);
        ASSERT_TRUE(frame.ok());
        EXPECT_EQ(frame.output->width(), kDefaultWidth);
        EXPECT_EQ(frame.output->height(), kDefaultHeight);
        EXPECT_EQ(untouchedPixels(*frame.output), 0);

        // Where the surface covers a pixel fully its colour is the ramp:
        // red u and green v in [0, 1), no blue.
        long covered = 0, empty = 0;
        std::set<float> reds, greens;
        for (A_long y = 0; y < kDefaultHeight; ++y)
            for (A_long x = 0; x < kDefaultWidth; ++x) {
                const PF_PixelFloat p = frame.pixel(x, y);
                if (p.alpha == 0.0f) ++empty;
                if (p.alpha != 1.0f) continue;
                ++covered;
                EXPECT_EQ(p.blue, 0.0f);
                EXPECT_TRUE(p.red >= 0.0f && p.red < 1.0f) << p.red;
                EXPECT_TRUE(p.green >= 0.0f && p.green < 1.0f) << p.green;
                reds.insert(p.red);
                greens.insert(p.green);
            }
        // Two narrow bowls, above and below the centre.
        EXPECT_GT(covered, 200);
        EXPECT_GT(empty, kDefaultWidth * kDefaultHeight / 2);
        EXPECT_GT(reds.size(), 10u);
        EXPECT_GT(greens.size(), 10u);
        EXPECT_EQ(heldBeyondGlobalData(fx.host.ledger()), "");
    }
}

TEST(SmartRenderFrame, IntegerDepthsAreTheFloatFrameStoredByTheOneRule) {
    LoadedEffect fx(soloComposition(640, 480));
    ASSERT_EQ(fx.setupErr, PF_Err_NONE);
    const RenderResult f32 = fx.render(32, kDefaultDownsample),
                       f16 = fx.render(16, kDefaultDownsample),
                       f8 = fx.render(8, kDefaultDownsample);
    ASSERT_TRUE(f32.ok() && f16.ok() && f8.ok());
    long mismatches = 0;
    for (A_long y = 0; y < kDefaultHeight; ++y)
        for (A_long x = 0; x < kDefaultWidth; ++x) {
            const PF_PixelFloat &f = *f32.output->pixel<PF_PixelFloat>(x, y);
            const PF_Pixel16 &p16 = *f16.output->pixel<PF_Pixel16>(x, y);
            const PF_Pixel &p8 = *f8.output->pixel<PF_Pixel>(x, y);
            const float channels[4] = {f.alpha, f.red, f.green, f.blue};
            const A_u_short c16[4] = {p16.alpha, p16.red, p16.green, p16.blue};
            const A_u_char c8[4] = {p8.alpha, p8.red, p8.green, p8.blue};
            for (int c = 0; c < 4; ++c) {
                mismatches += c16[c] != toInteger(channels[c], 32768.0f);
                mismatches += c8[c] != toInteger(channels[c], 255.0f);
            }
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(SmartRenderFrame, OneThreadAndManyThreadsRenderTheSameBits) {
    for (bool depthOfField : {false, true})
        for (int depth : {8, 32}) {
            SCOPED_TRACE(std::to_string(depth) + (depthOfField ? " bits, depth of field" : " bits"));
            std::unique_ptr<HostWorld> frames[2];
            const int threads[2] = {1, 5};
            for (int i = 0; i < 2; ++i) {
                LoadedEffect fx(stagedComposition(), kStagedEffectLayer, threads[i]);
                ASSERT_EQ(fx.setupErr, PF_Err_NONE);
                ASSERT_EQ(fx.host.workers().threads(), threads[i]);
                placeSurface(*fx.effect);
                fx.effect->chooseLayer(PARAM_TEXTURE, kStagedTexture);
                if (depthOfField) useTextureAndDepthOfField(*fx.effect);
                RenderResult frame = fx.render(depth);
                ASSERT_TRUE(frame.ok()) << frame.err;
                EXPECT_EQ(untouchedPixels(*frame.output), 0);
                frames[i] = std::move(frame.output);
            }
            EXPECT_TRUE(samePixels(*frames[0], *frames[1]));
        }
}

// ---- failures: the error comes back, nothing past the failure is drawn, and
// ---- the effect returns everything it held ------------------------------------------

struct FailingFrame : ::testing::Test {
    LoadedEffect fx{stagedComposition(), kStagedEffectLayer};
    void SetUp() override {
        ASSERT_EQ(fx.setupErr, PF_Err_NONE);
        placeSurface(*fx.effect);
    }
    void TearDown() override { EXPECT_EQ(heldBeyondGlobalData(fx.host.ledger()), ""); }
    Faults &faults() { return fx.host.faults(); }
    // Renders with the counts zeroed first.
    RenderResult render(int depth = 16) {
        faults().resetCounts();
        return fx.render(depth);
    }
};

TEST_F(FailingFrame, AFailedInputCheckoutChecksOutNoOutput) {
    faults().arm(service::kCheckoutLayerPixels, 1, PF_Err_OUT_OF_MEMORY);
    const RenderResult frame = render();
    EXPECT_EQ(frame.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(frame.output, nullptr);
    EXPECT_EQ(faults().calls(service::kCheckoutOutput), 0);
    EXPECT_EQ(faults().calls(service::kIterate), 0);
}

TEST_F(FailingFrame, AFailedPixelFormatQueryDrawsNothing) {
    faults().arm(service::kGetPixelFormat, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    const RenderResult frame = render();
    EXPECT_EQ(frame.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    ASSERT_NE(frame.output, nullptr);
    EXPECT_EQ(untouchedPixels(*frame.output), 96 * 64);
    EXPECT_EQ(faults().calls(service::kIterate), 0);
}

TEST_F(FailingFrame, TheFirstErrorIsTheFramesEvenWhenLaterCheckoutsFailToo) {
    // Two error codes or'd together name a third: internal damage (512) with
    // out of memory (4) would read as a bad callback parameter (516).
    faults().arm(service::kGetPixelFormat, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    faults().arm(service::kCheckoutParam, 1, PF_Err_OUT_OF_MEMORY, {}, /*sticky=*/true);
    const RenderResult frame = render();
    ASSERT_TRUE(frame.smartRenderSent);
    EXPECT_EQ(frame.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_GT(faults().fired(), 1);
}

TEST_F(FailingFrame, ASideBufferThatCannotBeMadeStopsTheFrameBeforeAnyPass) {
    useTextureAndDepthOfField(*fx.effect);
    for (long nth = 1; nth <= 4; ++nth) {
        SCOPED_TRACE(nth);
        faults().arm(service::kNewWorld, nth, A_Err_ALLOC, "AEGP_New");
        const RenderResult frame = render();
        EXPECT_EQ(frame.err, PF_Err_OUT_OF_MEMORY);
        ASSERT_NE(frame.output, nullptr);
        EXPECT_EQ(untouchedPixels(*frame.output), 96 * 64);
        EXPECT_EQ(faults().calls(service::kIterate), 0);
        EXPECT_EQ(fx.host.ledger().count(Ledger::kHostWorlds), 0);
        faults().disarm();
    }
    // Without the fault the same frame renders through both passes.
    const RenderResult frame = render();
    EXPECT_TRUE(frame.ok());
    EXPECT_EQ(faults().calls(service::kIterate), 2);
    EXPECT_EQ(faults().calls(service::kNewWorld, "AEGP_New"), 4);
}

TEST_F(FailingFrame, AFailedDepthPassSkipsTheCompositeAndFreesTheSideBuffers) {
    useTextureAndDepthOfField(*fx.effect);
    faults().arm(service::kIterate, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    const RenderResult frame = render(32);
    EXPECT_EQ(frame.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    ASSERT_NE(frame.output, nullptr);
    EXPECT_EQ(untouchedPixels(*frame.output), 96 * 64);
    EXPECT_EQ(faults().calls(service::kIterate), 1);
    EXPECT_EQ(fx.host.ledger().count(Ledger::kHostWorlds), 0);
}

TEST_F(FailingFrame, AMissingSamplingSuiteIsTheCommandsErrorNotAWorkerThreadsThrow) {
    // A frame without texture, reflection map or depth of field samples
    // nothing and does not need the suite.
    faults().arm(service::kAcquireSuite, 1, kSPSuiteNotFoundError, "PF Sampling16 Suite", true);
    EXPECT_TRUE(render(16).ok());
    faults().disarm();

    fx.effect->chooseLayer(PARAM_TEXTURE, kStagedTexture);
    for (const char *suite : {"PF Sampling8 Suite", "PF Sampling16 Suite", "PF SamplingFloat Suite"}) {
        SCOPED_TRACE(suite);
        faults().arm(service::kAcquireSuite, 1, kSPSuiteNotFoundError, suite, true);
        const int depth = suite[11] == '8' ? 8 : suite[11] == '1' ? 16 : 32;
        const RenderResult frame = render(depth);
        EXPECT_EQ(frame.err, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_FALSE(fx.host.last().threw);
        ASSERT_NE(frame.output, nullptr);
        EXPECT_EQ(untouchedPixels(*frame.output), 96 * 64);
        EXPECT_EQ(faults().calls(service::kIterate), 0);
        faults().disarm();
    }
}

// Every host service the frame uses, failed at each of its calls in turn: the
// frame either renders completely or returns an error with the output as the
// host gave it, and in both cases the effect gives everything back.
TEST(SmartRenderSweep, EveryServiceFailedAtEveryCallLeavesNoHalfFrameAndNothingHeld) {
    LoadedEffect fx(stagedComposition(24, 16), kStagedEffectLayer);
    ASSERT_EQ(fx.setupErr, PF_Err_NONE);
    Faults &faults = fx.host.faults();
    placeSurface(*fx.effect);
    fx.effect->chooseLayer(PARAM_TEXTURE, kStagedTexture);
    fx.effect->chooseLayer(PARAM_REFLECTION_MAP, kStagedTexture);
    const std::string_view services[] = {service::kCheckoutParam, service::kAcquireSuite,
                                         service::kNewHandle, service::kLockHandle};
    long runs = 0;
    for (int dof = 0; dof < 2; ++dof) {
        if (dof) useTextureAndDepthOfField(*fx.effect);
        for (std::string_view svc : services) {
            faults.resetCounts();
            fx.render(8);
            const long calls = faults.calls(svc);
            ASSERT_GT(calls, 0) << svc;
            for (long nth = 1; nth <= calls; ++nth) {
                SCOPED_TRACE(std::string(svc) + " call " + std::to_string(nth));
                ++runs;
                faults.arm(svc, nth, PF_Err_OUT_OF_MEMORY);
                const RenderResult frame = fx.render(8);
                faults.disarm();
                EXPECT_FALSE(fx.host.last().threw) << fx.host.last().thrown;
                if (frame.output) {
                    const long untouched = untouchedPixels(*frame.output);
                    if (frame.err == PF_Err_NONE)
                        EXPECT_EQ(untouched, 0);
                    else
                        EXPECT_EQ(untouched, 24 * 16);
                } else {
                    EXPECT_NE(frame.err, PF_Err_NONE);
                }
                ASSERT_EQ(heldBeyondGlobalData(fx.host.ledger()), "");
            }
        }
    }
    EXPECT_GT(runs, 100); // the sweep reached the frame's many calls
}

} // namespace
