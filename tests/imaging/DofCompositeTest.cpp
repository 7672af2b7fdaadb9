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
#include <functional>
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
