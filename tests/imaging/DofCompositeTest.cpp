// The depth-of-field composite over side buffers made through the host's world
// suite and blurred by the host's area sampler: the radius law, front and
// back ordering, skipping what an opaque front hides, the storing rule, and
// errors.
#include "imaging/DofComposite.h"
#include "imaging/World.h"
#include "tracer/PixelCallbacks.h"
#include "tracer/Shading.h"
#include "tracer/ShadingTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

using namespace shading_test;
using headless::HostWorld;

namespace {

constexpr double kFocus = 100.0;
constexpr double kBlur = 8.0;

template <class P> constexpr AEO::World::WorldType ColourType()
{
    if constexpr (std::is_same_v<P, PF_PixelFloat>)
        return AEO::World::WorldType_32;
    else if constexpr (std::is_same_v<P, PF_Pixel16>)
        return AEO::World::WorldType_16;
    else
        return AEO::World::WorldType_8;
}

using DepthFn = std::function<float(int x, int y)>;
DepthFn Depth(float d)
{
    return [d](int, int) { return d; };
}

// One frame of the depth-of-field pass: a scene, its output and the four
// side buffers the depth pass would have filled.
template <class P> class DofFrame {
public:
    DofFrame(int width, int height)
        : width_(width), height_(height), nearColour(ColourType<P>(), width, height),
          farColour(ColourType<P>(), width, height),
          nearDepth(AEO::World::WorldType_8, width, height),
          farDepth(AEO::World::WorldType_8, width, height), out(s.setOutput<P>(width, height))
    {
        s->nearColorWorld = &nearColour;
        s->farColorWorld = &farColour;
        s->nearDepthWorld = &nearDepth;
        s->farDepthWorld = &farDepth;
        s->focusDistance = kFocus;
        s->dofBlurScale = kBlur;
        // Host worlds need the one live host: never keep two frames at once.
        for (const AEO::World *w : {&nearColour, &farColour, &nearDepth, &farDepth})
            if (!w->data()) throw std::runtime_error("no side buffer from the host");
    }

    void layer(AEO::World &colour, AEO::World &depth, const ColourFn &c, const DepthFn &d)
    {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const PF_PixelFloat f = c(x, y);
                *static_cast<P *>(colour.data(x, y)) = fromPixelF<P>(&f);
                pixel_pass::StoreDepth(depth.data(x, y), d(x, y));
            }
    }
    void nearLayer(const ColourFn &c, const DepthFn &d) { layer(nearColour, nearDepth, c, d); }
    void farLayer(const ColourFn &c, const DepthFn &d) { layer(farColour, farDepth, c, d); }

    PF_Err run() { return s.iterate(&DofCompositeCallback<P>); }
    PF_PixelFloat at(int x, int y) const { return toPixelF(out.pixel<P>(x, y)); }

    // Host area samples made from now on.
    void countSamples()
    {
        s.host().faults().arm(headless::service::kAreaSample, 1L << 40,
                              PF_Err_INTERNAL_STRUCT_DAMAGED);
        s.host().faults().resetCounts();
    }
    long samples() { return s.host().faults().calls(headless::service::kAreaSample); }

private:
    int width_, height_;

public:
    Scene s;
    AEO::World nearColour, farColour, nearDepth, farDepth;
    const HostWorld &out;
};

void ExpectPixel(const PF_PixelFloat &p, float a, float r, float g, float b, float tol = 1e-5f)
{
    EXPECT_NEAR(p.alpha, a, tol);
    EXPECT_NEAR(p.red, r, tol);
    EXPECT_NEAR(p.green, g, tol);
    EXPECT_NEAR(p.blue, b, tol);
}

const PF_PixelFloat kClear = Pixel(0, 0, 0, 0);
const PF_PixelFloat kRed = Pixel(1, 1, 0, 0);
const PF_PixelFloat kBlue = Pixel(1, 0, 0, 1);

} // namespace

TEST(DofCompositeTest, BlurRadiusGrowsWithTheDistanceFromTheFocusPlane)
{
    const double F = 300.0, S = 12.0;
    EXPECT_DOUBLE_EQ(DofBlurRadius(0.0, F, S), S / 2);
    EXPECT_DOUBLE_EQ(DofBlurRadius(2 * F, F, S), S / 2);
    EXPECT_DOUBLE_EQ(DofBlurRadius(F / 2, F, S), S / 3);
    EXPECT_DOUBLE_EQ(DofBlurRadius(3 * F / 2, F, S), S / 3);
    EXPECT_GT(DofBlurRadius(F, F, S), 0.0);
    EXPECT_LT(DofBlurRadius(F, F, S), 1e-6);
    EXPECT_NEAR(DofBlurRadius(1e9, F, S), S, 1e-5);
}

TEST(DofCompositeTest, HostBoxFollowsTheRadius)
{
    // One opaque column on a transparent layer: blurred over a box of radius
    // r, the column keeps 1 / (2 r) of its alpha at its own pixel.
    struct Case {
        float depth;
        double downsample, radius;
    };
    for (const Case &c :
         {Case{0.0f, 1.0, kBlur / 2}, Case{50.0f, 1.0, kBlur / 3}, Case{150.0f, 1.0, kBlur / 3},
          Case{200.0f, 1.0, kBlur / 2}, Case{0.0f, 0.5, kBlur / 4}}) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " downsample " << c.downsample);
        DofFrame<PF_PixelFloat> f(33, 9);
        f.s->downsampleX = c.downsample;
        f.s->downsampleY = c.downsample;
        f.nearLayer([](int x, int) { return x == 16 ? kRed : kClear; }, Depth(c.depth));
        f.farLayer(Uniform(kClear), Depth(-1.0f));
        ASSERT_EQ(f.run(), PF_Err_NONE);
        ExpectPixel(f.at(16, 4), static_cast<float>(1.0 / (2.0 * c.radius)), 1, 0, 0, 1e-4f);
    }

    // In the focus plane the layer stays sharp.
    DofFrame<PF_PixelFloat> f(33, 9);
    f.nearLayer([](int x, int) { return x == 16 ? kRed : kClear; }, Depth(kFocus));
    f.farLayer(Uniform(kClear), Depth(-1.0f));
    ASSERT_EQ(f.run(), PF_Err_NONE);
    ExpectPixel(f.at(16, 4), 1, 1, 0, 0);
    ExpectPixel(f.at(15, 4), 0, 0, 0, 0);
}

TEST(DofCompositeTest, OpaqueFrontHidesTheBackWithoutSamplingIt)
{
    DofFrame<PF_PixelFloat> f(4, 4);
    f.nearLayer(Uniform(kRed), Depth(100.0f));
    f.farLayer(Uniform(kBlue), Depth(200.0f));
    f.countSamples();
    ASSERT_EQ(f.run(), PF_Err_NONE);
    EXPECT_EQ(f.samples(), 16);
    ExpectPixel(f.at(1, 1), 1, 1, 0, 0);

    // The nearer layer is the front, whichever buffer holds it.
    f.nearLayer(Uniform(kBlue), Depth(200.0f));
    f.farLayer(Uniform(kRed), Depth(100.0f));
    f.countSamples();
    ASSERT_EQ(f.run(), PF_Err_NONE);
    EXPECT_EQ(f.samples(), 16);
    ExpectPixel(f.at(2, 3), 1, 1, 0, 0);

    // A half-transparent front is laid over the back.
    f.farLayer(Uniform(Pixel(0.5f, 1, 0, 0)), Depth(100.0f));
    f.countSamples();
    ASSERT_EQ(f.run(), PF_Err_NONE);
    EXPECT_EQ(f.samples(), 32);
    ExpectPixel(f.at(2, 3), 1, 0.5f, 0, 0.5f);
}

TEST(DofCompositeTest, MissingLayersAreNeverSampled)
{
    DofFrame<PF_PixelFloat> f(4, 4);
    // Only the far hit: it is the back layer behind an empty front.
    f.nearLayer(Uniform(kRed), Depth(-1.0f));
    f.farLayer(Uniform(Pixel(0.5f, 0, 0, 1)), Depth(100.0f));
    f.countSamples();
    ASSERT_EQ(f.run(), PF_Err_NONE);
    EXPECT_EQ(f.samples(), 16);
    ExpectPixel(f.at(0, 0), 0.5f, 0, 0, 1);

    // No surface at all.
    f.farLayer(Uniform(kBlue), Depth(-1.0f));
    f.countSamples();
    ASSERT_EQ(f.run(), PF_Err_NONE);
    EXPECT_EQ(f.samples(), 0);
    ExpectPixel(f.at(3, 3), 0, 0, 0, 0, 0);
}

TEST(DofCompositeTest, IntegerOutputsStoreByTheOneRule)
{
    {
        DofFrame<PF_Pixel16> f(4, 4);
        f.nearLayer(Uniform(Pixel(0.5f, 1, 0.5f, 0.25f)), Depth(kFocus));
        f.farLayer(Uniform(kClear), Depth(-1.0f));
        ASSERT_EQ(f.run(), PF_Err_NONE);
        const PF_Pixel16 &p = *f.out.pixel<PF_Pixel16>(1, 2);
        EXPECT_EQ(p.alpha, 16384);
        EXPECT_EQ(p.red, 32768);
        EXPECT_EQ(p.green, 16384);
        EXPECT_EQ(p.blue, 8192);
    }
    DofFrame<PF_Pixel> f(4, 4);
    f.nearLayer(Uniform(Pixel(1, 1, 0.5f, 0)), Depth(kFocus));
    f.farLayer(Uniform(kClear), Depth(-1.0f));
    ASSERT_EQ(f.run(), PF_Err_NONE);
    const PF_Pixel &q = *f.out.pixel<PF_Pixel>(3, 0);
    EXPECT_EQ(q.alpha, 255);
    EXPECT_EQ(q.green, 127); // 0.5 is stored as 127/255 and read back as such
}

TEST(DofCompositeTest, ErrorsAreReturnedNeverThrown)
{
    DofFrame<PF_PixelFloat> f(4, 4);
    f.nearLayer(Uniform(kRed), Depth(100.0f));
    f.farLayer(Uniform(kBlue), Depth(200.0f));
    void *info = &f.s.info();

    EXPECT_EQ(DofCompositeCallback<PF_PixelFloat>(info, -1, 0, 16), PF_Err_NONE);
    EXPECT_EQ(DofCompositeCallback<PF_PixelFloat>(nullptr, 0, 0, 16), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(DofCompositeCallback<PF_PixelFloat>(info, 0, 16, 16), PF_Err_BAD_CALLBACK_PARAM);
    // Colour buffers of another depth than the output.
    EXPECT_EQ(DofCompositeCallback<PF_Pixel>(info, 0, 0, 16), PF_Err_BAD_CALLBACK_PARAM);
    f.s->farDepthWorld = nullptr;
    EXPECT_EQ(DofCompositeCallback<PF_PixelFloat>(info, 0, 0, 16), PF_Err_BAD_CALLBACK_PARAM);
    f.s->farDepthWorld = &f.farDepth;

    // A host without the sampler: the pass fails instead of drawing nothing.
    f.s.host().suites().remove("PF SamplingFloat Suite", 1);
    EXPECT_EQ(f.run(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_FALSE(f.s.host().last().threw) << f.s.host().last().thrown;
}

TEST(DofCompositeTest, SharpFrameAfterTheDepthPassMatchesTheSinglePass)
{
    // The tail bowl seen along +y through a texture of half-transparent red
    // (u < 0.5, the near wall) and blue (the far wall), focused on the near
    // wall with almost no blur.
    constexpr int size = 6;
    auto look = [](Scene &s) {
        s.setTexture<PF_PixelFloat>(64, 64, [](int x, int) {
            return x < 32 ? Pixel(0.5f, 1, 0, 0) : Pixel(0.5f, 0, 0, 1);
        });
        tracer_test::SetOrthographicCamera(
            s.info(),
            Frame(Vector3(1, 0, 0), Vector3(0, 0, -1), Vector3(0, 1, 0), Vector3(0, -1000, 130)),
            size / 2.0f, size / 2.0f);
    };
    std::vector<PF_PixelFloat> single;
    {
        Scene s;
        look(s);
        const HostWorld &out = s.setOutput<PF_PixelFloat>(size, size);
        ASSERT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
        for (int i = 0; i < size * size; ++i)
            single.push_back(*out.pixel<PF_PixelFloat>(i % size, i / size));
    }
    DofFrame<PF_PixelFloat> f(size, size);
    look(f.s);
    f.s->focusDistance = 1017.0;
    f.s->dofBlurScale = 0.01;
    ASSERT_EQ(f.s.iterate(&RayTrace_PixelDepthCallback<PF_PixelFloat>), PF_Err_NONE);
    ASSERT_EQ(f.run(), PF_Err_NONE);
    for (int i = 0; i < size * size; ++i) {
        const PF_PixelFloat &want = single[i];
        ExpectPixel(f.at(i % size, i / size), want.alpha, want.red, want.green, want.blue, 1e-5f);
    }
    EXPECT_NEAR(single[0].alpha, 0.75f, 1e-5f);
}

namespace {

// A frame of a few blobs of specks on transparent black (`blobs` in the near
// layer, one fewer in the far one), at random depths, some without surface:
// most boxes reach nothing, some reach a speck or the frame's edge. Specks
// may be transparent with colour, which still counts as something. A few
// layers lie infinitely far.
template <class P> void Scatter(DofFrame<P> &f, unsigned seed, int width, int height, int blobs)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto layer = [&](int count) {
        std::vector<std::pair<int, int>> centres;
        for (int k = 0; k < count; ++k)
            centres.emplace_back(static_cast<int>(unit(rng) * width),
                                 static_cast<int>(unit(rng) * height));
        return [&, centres](int x, int y) {
            bool inBlob = false;
            for (const auto &[cx, cy] : centres)
                inBlob = inBlob || (std::abs(x - cx) <= 2 && std::abs(y - cy) <= 2);
            const float roll = unit(rng);
            if (!inBlob || roll < 0.4f) return kClear;
            if (roll < 0.5f) return Pixel(0.0f, unit(rng), unit(rng), 0.0f);
            return Pixel(unit(rng), unit(rng), unit(rng), unit(rng));
        };
    };
    auto depth = [&](int, int) {
        const float roll = unit(rng);
        if (roll > 0.97f) return INFINITY;
        return roll < 0.2f ? -1.0f : roll * 3.0f * static_cast<float>(kFocus);
    };
    f.nearLayer(layer(blobs), depth);
    f.farLayer(layer(blobs - 1), depth);
}

template <class P> std::vector<unsigned char> OutputBytes(const DofFrame<P> &f, int w, int h)
{
    std::vector<unsigned char> bytes;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto *p = reinterpret_cast<const unsigned char *>(f.out.template pixel<P>(x, y));
            bytes.insert(bytes.end(), p, p + sizeof(P));
        }
    return bytes;
}

template <class P> void SurveyLeavesEveryBitAsSampled()
{
    // Sizes off the tile grid, blur from sharp to wider than the frame
    // (where nearly every box reaches a speck), a negative blur scale, whose
    // boxes turn inside out, a frame wide enough for whole calm tiles, and
    // focus distances that give the blur no bound: behind the camera, and
    // infinitely far (which makes every radius NaN, and every box the frame).
    struct Case {
        int width, height;
        double blur, focus;
        int blobs;
        bool leavesOut;
    };
    for (const Case &c : {Case{37, 21, 0.01, kFocus, 2, true}, Case{37, 21, 3.0, kFocus, 2, true},
                          Case{29, 19, 9.0, kFocus, 2, true}, Case{8, 8, 2.0, kFocus, 1, true},
                          Case{37, 21, -3.0, kFocus, 2, true}, Case{96, 64, 5.0, kFocus, 3, true},
                          Case{37, 21, 3.0, -50.0, 2, true}, Case{37, 21, 3.0, INFINITY, 2, false},
                          Case{70, 5, 400.0, kFocus, 9, false}}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << sizeof(P) << "-byte pixels, " << c.width << " x "
                                            << c.height << ", blur " << c.blur << ", focus "
                                            << c.focus << ", seed " << seed);
            DofFrame<P> f(c.width, c.height);
            f.s->dofBlurScale = c.blur;
            f.s->focusDistance = c.focus;
            Scatter(f, seed, c.width, c.height, c.blobs);

            f.countSamples();
            ASSERT_EQ(f.run(), PF_Err_NONE);
            const long sampled = f.samples();
            const std::vector<unsigned char> want = OutputBytes(f, c.width, c.height);

            DofSideBuffers side;
            ASSERT_TRUE(side.survey(f.s.info()));
            f.s->dofSideBuffers = &side;
            f.countSamples();
            ASSERT_EQ(f.run(), PF_Err_NONE);
            if (c.leavesOut)
                EXPECT_LT(f.samples(), sampled);
            else
                EXPECT_LE(f.samples(), sampled);
            EXPECT_TRUE(OutputBytes(f, c.width, c.height) == want);

            // The samples still made still carry the host's errors.
            f.s.host().faults().arm(headless::service::kAreaSample, 1, PF_Err_OUT_OF_MEMORY);
            EXPECT_EQ(f.run(), PF_Err_OUT_OF_MEMORY);
            f.s.host().faults().disarm();
            f.s->dofSideBuffers = nullptr;
        }
    }
}

} // namespace

TEST(DofCompositeTest, SkippedClearBoxesLeaveEveryBitAsSampled)
{
    SurveyLeavesEveryBitAsSampled<PF_PixelFloat>();
    SurveyLeavesEveryBitAsSampled<PF_Pixel16>();
    SurveyLeavesEveryBitAsSampled<PF_Pixel>();
}

TEST(DofCompositeTest, SurveyKnowsWhereEachLayerHoldsSomething)
{
    DofFrame<PF_Pixel16> f(19, 11);
    // One speck in the far layer at (17, 9), in the last, partial tile; one
    // of alpha 0 but with colour in the near layer at (3, 2).
    f.nearLayer([](int x, int y) { return x == 3 && y == 2 ? Pixel(0, 0, 0, 1) : kClear; },
                Depth(50.0f));
    f.farLayer([](int x, int y) { return x == 17 && y == 9 ? kBlue : kClear; }, Depth(50.0f));
    DofSideBuffers side;
    ASSERT_TRUE(side.survey(f.s.info()));
    using L = DofSideBuffers;
    struct Case {
        L::Layer layer;
        int x0, y0, x1, y1;
        bool clear;
    };
    for (const Case &c : {Case{L::Far, 17, 9, 17, 9, false}, Case{L::Far, -5, -5, 40, 40, false},
                          Case{L::Far, 0, 0, 7, 7, true}, Case{L::Far, 19, 0, 30, 30, true},
                          Case{L::Far, -9, -9, -1, 30, true}, Case{L::Far, 3, 2, 3, 2, true},
                          Case{L::Near, 3, 2, 3, 2, false}, Case{L::Near, 16, 8, 18, 10, true},
                          Case{L::Near, 0, 0, 18, 10, false}}) {
        SCOPED_TRACE(testing::Message() << "layer " << c.layer << " [" << c.x0 << ", " << c.x1
                                        << "] x [" << c.y0 << ", " << c.y1 << "]");
        EXPECT_EQ(side.clear(c.layer, c.x0, c.y0, c.x1, c.y1), c.clear);
    }
    EXPECT_TRUE(side.holds(sizeof(PF_Pixel16), 18, 10));
    EXPECT_FALSE(side.holds(sizeof(PF_Pixel16), 19, 0));
    EXPECT_FALSE(side.holds(sizeof(PF_Pixel), 0, 0));
    EXPECT_EQ(side.nearDepth(4, 4), 50.0f);

    // Calm tiles: the blur reaches at most |S| = 1 pixel (and the margins),
    // so a speck leaves its layer calm two tiles away, not one.
    f.s->dofBlurScale = -1.0;
    ASSERT_TRUE(side.survey(f.s.info()));
    EXPECT_EQ(side.calmAt(0, 0), L::kFarCalm);
    EXPECT_EQ(side.calmAt(8, 0), 0);
    EXPECT_EQ(side.calmAt(16, 0), L::kNearCalm);
    // A focus behind the camera or infinitely far gives the radius no bound:
    // nothing is calm.
    for (double focus : {-1.0, double(INFINITY)}) {
        f.s->focusDistance = focus;
        ASSERT_TRUE(side.survey(f.s.info()));
        EXPECT_EQ(side.calmAt(0, 0), 0) << "focus " << focus;
    }
    f.s->focusDistance = kFocus;

    // Buffers that do not fit the output, or no host memory: nothing known.
    f.s->farDepthWorld = nullptr;
    EXPECT_FALSE(side.survey(f.s.info()));
    EXPECT_FALSE(side.ready());
    f.s->farDepthWorld = &f.farDepth;
    f.s.host().faults().arm(headless::service::kNewHandle, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(side.survey(f.s.info()));
    f.s.host().faults().disarm();
    EXPECT_TRUE(side.survey(f.s.info()));
}
