// The per-pixel trace passes run through the host's generic iterator: near
// over far with render sides, coverage on alpha only, the one storing rule of
// the integer outputs, the depth pass's layers and marks, rays parallel to an
// asymptote, thread independence, and what the callbacks do with bad input.
#include "imaging/World.h"
#include "tracer/Coverage.h"
#include "tracer/LightLanes.h"
#include "tracer/PixelCallbacks.h"
#include "tracer/Shading.h"
#include "tracer/ShadingTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <utility>
#include <vector>

using namespace shading_test;
using headless::HostWorld;

namespace {

template <class P> const P &At(const HostWorld &w, int x, int y) { return *w.pixel<P>(x, y); }

float DepthAt(const AEO::World &w, int x, int y)
{
    return pixel_pass::LoadDepth(const_cast<AEO::World &>(w).data(x, y));
}
template <class P> PF_PixelFloat ColourAt(AEO::World &w, int x, int y)
{
    return toPixelF(static_cast<const P *>(w.data(x, y)));
}

void ExpectPixel(const PF_PixelFloat &p, float a, float r, float g, float b, float tol = 1e-5f)
{
    EXPECT_NEAR(p.alpha, a, tol);
    EXPECT_NEAR(p.red, r, tol);
    EXPECT_NEAR(p.green, g, tol);
    EXPECT_NEAR(p.blue, b, tol);
}

// Orthographic view along object +y onto the tail bowl around height zc:
// image x is object x, image y is object -z. A ray enters the bowl's wall at
// u = 0.25 (t+, the near hit) and leaves it through the far wall at u = 0.75.
constexpr int kSideSize = 8;
void LookAlongY(Record &info, float zc)
{
    tracer_test::SetOrthographicCamera(
        info, Frame(Vector3(1, 0, 0), Vector3(0, 0, -1), Vector3(0, 1, 0), Vector3(0, -1000, zc)),
        kSideSize / 2.0f, kSideSize / 2.0f);
}

// Half-transparent red where u < 0.5, half-transparent blue beyond.
void HalfTransparentHalves(Scene &s)
{
    s.setTexture<PF_PixelFloat>(
        64, 64, [](int x, int) { return x < 32 ? Pixel(0.5f, 1, 0, 0) : Pixel(0.5f, 0, 0, 1); });
}

// Orthographic view along object +x across the tail vertex: image x is
// object y, image y object z from zc - size/2 up. The silhouette
// z^2 - y^2 = 100^2 crosses the image near row size/2 - (zc - 100).
void LookAlongX(Record &info, float yc, float zc, int size)
{
    tracer_test::SetOrthographicCamera(
        info, Frame(Vector3(0, 1, 0), Vector3(0, 0, 1), Vector3(1, 0, 0), Vector3(-1000, yc, zc)),
        size / 2.0f, size / 2.0f);
}

} // namespace

// ---- single pass ---------------------------------------------------------------------

TEST(PixelCallbackTest, RenderSidesShowTheFarHitThroughAPartlyTransparentNearHit)
{
    struct Case {
        int renderSide;
        PF_PixelFloat want;
    };
    for (const Case &c : {Case{1, Pixel(0.75f, 2.0f / 3.0f, 0, 1.0f / 3.0f)},
                          Case{2, Pixel(0.5f, 1, 0, 0)}, Case{3, Pixel(0.5f, 0, 0, 1)}}) {
        SCOPED_TRACE(testing::Message() << "render side " << c.renderSide);
        Scene s;
        HalfTransparentHalves(s);
        LookAlongY(s.info(), 130.0f);
        s->renderSide = c.renderSide;
        const HostWorld &out = s.setOutput<PF_PixelFloat>(kSideSize, kSideSize);
        ASSERT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
        for (int y = 0; y < kSideSize; ++y)
            for (int x = 0; x < kSideSize; ++x) {
                const PF_PixelFloat &p = At<PF_PixelFloat>(out, x, y);
                ExpectPixel(p, c.want.alpha, c.want.red, c.want.green, c.want.blue, 1e-5f);
            }
        EXPECT_TRUE(s.host().ledger().problems().empty()) << s.host().ledger().report();
    }
}

namespace {

// The silhouette scene: the ramp lit beyond full intensity by a strong light.
constexpr int kEdgeSize = 16;
void EdgeScene(Scene &s)
{
    LookAlongX(s.info(), 0.0f, 104.0f, kEdgeSize);
    s->diffuse = 1.0f;
    s->specular = 0.5f;
    s.addLight(kPoint, Vector3(-400, 50, 150), Vector3(0, 0, 1), Pixel(1, 1, 1, 1), 3.0);
}

template <class P> std::vector<P> RenderEdge()
{
    Scene s;
    EdgeScene(s);
    const HostWorld &out = s.setOutput<P>(kEdgeSize, kEdgeSize);
    EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<P>), PF_Err_NONE);
    std::vector<P> pixels;
    for (int y = 0; y < kEdgeSize; ++y)
        for (int x = 0; x < kEdgeSize; ++x) pixels.push_back(At<P>(out, x, y));
    return pixels;
}

} // namespace

TEST(PixelCallbackTest, CoverageScalesAlphaOnly)
{
    Scene s;
    EdgeScene(s);
    const HostWorld &out = s.setOutput<PF_PixelFloat>(kEdgeSize, kEdgeSize);
    ASSERT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);

    int empty = 0, edge = 0, full = 0;
    for (int y = 0; y < kEdgeSize; ++y)
        for (int x = 0; x < kEdgeSize; ++x) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
            int count = 0;
            double A, Bh, D;
            Ray ray;
            const double coverage = msaaRayTest(x, y, s.info(), count, A, Bh, D, ray);
            const PF_PixelFloat &p = At<PF_PixelFloat>(out, x, y);
            if (count == 0) {
                ++empty;
                ExpectPixel(p, 0, 0, 0, 0, 0);
                continue;
            }
            coverage < 1.0 ? ++edge : ++full;
            // The nearer root of this view is t+, the entry into the bowl.
            PF_PixelFloat hit{};
            Ray_GetColor<PF_PixelFloat>(ray, (Bh + std::sqrt(D)) / A, s.info(), hit);
            EXPECT_EQ(p.alpha, static_cast<float>(coverage)); // the ramp is opaque
            EXPECT_EQ(p.red, hit.red);
            EXPECT_EQ(p.green, hit.green);
            EXPECT_EQ(p.blue, hit.blue);
        }
    EXPECT_GT(empty, 0);
    EXPECT_GT(edge, 0);
    EXPECT_GT(full, 0);
}

TEST(PixelCallbackTest, IntegerOutputsStoreTheFloatOutputByTheOneRule)
{
    const std::vector<PF_PixelFloat> f = RenderEdge<PF_PixelFloat>();
    const std::vector<PF_Pixel16> p16 = RenderEdge<PF_Pixel16>();
    const std::vector<PF_Pixel> p8 = RenderEdge<PF_Pixel>();
    bool clipped = false, fractional = false;
    for (size_t i = 0; i < f.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "pixel " << i);
        const PF_PixelFloat &c = f[i];
        EXPECT_EQ(p16[i].alpha, ChannelFTo16(c.alpha));
        EXPECT_EQ(p16[i].red, ChannelFTo16(c.red));
        EXPECT_EQ(p16[i].green, ChannelFTo16(c.green));
        EXPECT_EQ(p16[i].blue, ChannelFTo16(c.blue));
        EXPECT_EQ(p8[i].alpha, ChannelFTo8(c.alpha));
        EXPECT_EQ(p8[i].red, ChannelFTo8(c.red));
        EXPECT_EQ(p8[i].green, ChannelFTo8(c.green));
        EXPECT_EQ(p8[i].blue, ChannelFTo8(c.blue));
        EXPECT_LE(p16[i].red, 32768);
        clipped |= c.red > 1.0f;
        fractional |= c.alpha > 0.0f && c.alpha < 1.0f;
    }
    EXPECT_TRUE(clipped);
    EXPECT_TRUE(fractional);
}

TEST(PixelCallbackTest, HalfAlphaStoresHalfOfFullIntensity)
{
    Scene s;
    s.setTexture<PF_Pixel16>(
        64, 64, [](int x, int) { return x < 32 ? Pixel(0.5f, 1, 0, 0) : Pixel(0.5f, 0, 0, 1); });
    LookAlongY(s.info(), 130.0f);
    s->renderSide = 2;
    const HostWorld &out = s.setOutput<PF_Pixel16>(kSideSize, kSideSize);
    ASSERT_EQ(s.iterate(&RayTrace_PixelCallback<PF_Pixel16>), PF_Err_NONE);
    const PF_Pixel16 &p = At<PF_Pixel16>(out, 3, 3);
    EXPECT_EQ(p.alpha, 16384);
    EXPECT_EQ(p.red, 32768);
    EXPECT_EQ(p.blue, 0);
}

// ---- rays parallel to an asymptote --------------------------------------------------------

namespace {

// Orthographic rays along (1, 0, 1) / sqrt(2), parallel to the asymptotic
// cone of a = c: every corner "hits" with A = 0, and the roots are +infinity
// and not a number.
void AlongAsymptote(Record &info)
{
    const float h = std::sqrt(0.5f);
    tracer_test::SetOrthographicCamera(
        info, Frame(Vector3(0, 1, 0), Vector3(-h, 0, h), Vector3(h, 0, h), Vector3(300, 0, 0)), 2,
        2);
}

} // namespace

TEST(PixelCallbackTest, InfiniteRootsAreNotDrawn)
{
    Scene s;
    AlongAsymptote(s.info());
    s->depthComposite.mode = 2; // fog would colour a hit at infinity
    s->depthComposite.fogColor = Pixel(1, 1, 1, 1);
    const HostWorld &out = s.setOutput<PF_PixelFloat>(4, 4);
    ASSERT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ExpectPixel(At<PF_PixelFloat>(out, x, y), 0, 0, 0, 0, 0);

    AEO::World nearColour(AEO::World::WorldType_32, 4, 4),
        farColour(AEO::World::WorldType_32, 4, 4);
    AEO::World nearDepth(AEO::World::WorldType_8, 4, 4), farDepth(AEO::World::WorldType_8, 4, 4);
    s->nearColorWorld = &nearColour;
    s->farColorWorld = &farColour;
    s->nearDepthWorld = &nearDepth;
    s->farDepthWorld = &farDepth;
    ASSERT_EQ(s.iterate(&RayTrace_PixelDepthCallback<PF_PixelFloat>), PF_Err_NONE);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(DepthAt(nearDepth, x, y), -1.0f);
            EXPECT_EQ(DepthAt(farDepth, x, y), -1.0f);
            ExpectPixel(ColourAt<PF_PixelFloat>(nearColour, x, y), 0, 0, 0, 0, 0);
            ExpectPixel(ColourAt<PF_PixelFloat>(farColour, x, y), 0, 0, 0, 0, 0);
        }
}

// ---- depth pass -------------------------------------------------------------------------

namespace {

// The four side buffers of a frame, of pixel type P.
template <class P> struct SideBuffers {
    static constexpr AEO::World::WorldType kColourType =
        std::is_same_v<P, PF_PixelFloat> ? AEO::World::WorldType_32
        : std::is_same_v<P, PF_Pixel16>  ? AEO::World::WorldType_16
                                         : AEO::World::WorldType_8;
    AEO::World nearColour, farColour, nearDepth, farDepth;
    SideBuffers(Record &info, int w, int h)
        : nearColour(kColourType, w, h), farColour(kColourType, w, h),
          nearDepth(AEO::World::WorldType_8, w, h), farDepth(AEO::World::WorldType_8, w, h)
    {
        info.nearColorWorld = &nearColour;
        info.farColorWorld = &farColour;
        info.nearDepthWorld = &nearDepth;
        info.farDepthWorld = &farDepth;
    }
};

} // namespace

TEST(PixelDepthCallbackTest, LayersGoToFixedBuffersUncomposited)
{
    Scene s;
    HalfTransparentHalves(s);
    LookAlongY(s.info(), 130.0f);
    s.setOutput<PF_PixelFloat>(kSideSize, kSideSize);
    SideBuffers<PF_PixelFloat> buffers(s.info(), kSideSize, kSideSize);
    ASSERT_EQ(s.iterate(&RayTrace_PixelDepthCallback<PF_PixelFloat>), PF_Err_NONE);

    // Fully covered pixels trace the corner (5/6, 5/6): object x and z there.
    auto wallDistance = [](int x, int y) {
        const double ox = x + 5.0 / 6.0 - kSideSize / 2.0,
                     oz = 130.0 - (y + 5.0 / 6.0 - kSideSize / 2.0);
        return 100.0 * std::sqrt(oz * oz / 1e4 - 1.0 - ox * ox / 1e4);
    };
    std::vector<float> nearDepths;
    for (int y = 0; y < kSideSize; ++y)
        for (int x = 0; x < kSideSize; ++x) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
            // The rays start at y = -1100: t+ enters at -rho, t- leaves at +rho.
            const double rho = wallDistance(x, y);
            EXPECT_NEAR(DepthAt(buffers.nearDepth, x, y), 1100.0 + rho, 1e-2);
            EXPECT_NEAR(DepthAt(buffers.farDepth, x, y), 1100.0 - rho, 1e-2);
            ExpectPixel(ColourAt<PF_PixelFloat>(buffers.nearColour, x, y), 0.5f, 0, 0, 1);
            ExpectPixel(ColourAt<PF_PixelFloat>(buffers.farColour, x, y), 0.5f, 1, 0, 0);
            nearDepths.push_back(DepthAt(buffers.nearDepth, x, y));
        }

    // A suppressed face keeps its distance but not its colour.
    s->renderSide = 2;
    ASSERT_EQ(s.iterate(&RayTrace_PixelDepthCallback<PF_PixelFloat>), PF_Err_NONE);
    for (int y = 0; y < kSideSize; ++y)
        for (int x = 0; x < kSideSize; ++x) {
            EXPECT_EQ(DepthAt(buffers.nearDepth, x, y), nearDepths[y * kSideSize + x]);
            ExpectPixel(ColourAt<PF_PixelFloat>(buffers.nearColour, x, y), 0, 0, 0, 0, 0);
            ExpectPixel(ColourAt<PF_PixelFloat>(buffers.farColour, x, y), 0.5f, 1, 0, 0);
        }
}

TEST(PixelDepthCallbackTest, MissesFarFromTheSurfaceAreMarkedWithoutSurface)
{
    // Rays along +x at y ~ 300, z ~ 0 pass three semi-axes from the cone of
    // asymptotes; their closest approach, at x = 0, is t = 1100. There the
    // distance estimate over the ray parameter, times the zoom (1000), is
    // about 2 sqrt(5000) / 1.1 = 129.
    Scene s;
    LookAlongX(s.info(), 300.0f, 0.0f, 8);
    s.setOutput<PF_Pixel>(8, 8);
    SideBuffers<PF_Pixel> buffers(s.info(), 8, 8);
    for (const double blur : {100.0, 200.0}) {
        s->dofBlurScale = blur;
        ASSERT_EQ(s.iterate(&RayTrace_PixelDepthCallback<PF_Pixel>), PF_Err_NONE);
        const float want = blur > 129.0 ? 1100.0f : -1.0f;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                EXPECT_NEAR(DepthAt(buffers.nearDepth, x, y), want, 1e-3);
                EXPECT_NEAR(DepthAt(buffers.farDepth, x, y), want, 1e-3);
                ExpectPixel(ColourAt<PF_Pixel>(buffers.nearColour, x, y), 0, 0, 0, 0, 0);
                ExpectPixel(ColourAt<PF_Pixel>(buffers.farColour, x, y), 0, 0, 0, 0, 0);
            }
    }
}

// ---- threads ------------------------------------------------------------------------------

namespace {

// The bytes of a square output of `size` pixels of type P, row by row.
template <class P> std::vector<unsigned char> OutputBytes(const HostWorld &out, int size)
{
    std::vector<unsigned char> bytes;
    for (int y = 0; y < size; ++y) {
        const auto *row = reinterpret_cast<const unsigned char *>(out.row(y));
        bytes.insert(bytes.end(), row, row + size * sizeof(P));
    }
    return bytes;
}

// A perspective view of both sheets with their silhouettes and a texture
// with transparent stripes, in the look `look` gives it.
using Look = std::function<void(Scene &)>;
template <class P>
std::vector<unsigned char> RenderLook(const Look &look, int threads,
                                      int scratchThreads = Scene::kScratchAsRendered)
{
    constexpr int size = 48;
    Scene s(threads);
    tracer_test::SetPerspectiveCamera(
        s.info(), Frame(Vector3(0, 1, 0), Vector3(0, 0, 1), Vector3(1, 0, 0), Vector3(-700, 0, 0)),
        100.0f, size / 2.0f, size / 2.0f);
    s.setTexture<P>(40, 40, [](int x, int y) {
        const float a = (x / 5 + y / 5) % 2 ? 1.0f : 0.4f;
        return Pixel(a, x / 40.0f, y / 40.0f, 0.5f);
    });
    look(s);
    const HostWorld &out = s.setOutput<P>(size, size);
    EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<P>, scratchThreads), PF_Err_NONE);
    EXPECT_TRUE(s.host().ledger().problems().empty()) << s.host().ledger().report();
    return OutputBytes<P>(out, size);
}

// Lights on a material with a highlight and a metal tint.
void LitMaterial(Scene &s)
{
    s->diffuse = 0.8f;
    s->specular = 0.6f;
    s->shininess = 12.0f;
    s->metal = 0.4f;
    s->emit = 0.1f;
    s.addLight(kPoint, Vector3(-300, 80, 0), Vector3(0, 0, 1), Pixel(1, 1, 0.9f, 0.8f), 1.5);
    s.addLight(kAmbient, Vector3(0, 0, 0), Vector3(0, 0, 1), Pixel(1, 0.3f, 0.3f, 0.4f), 1.0);
}

// Everything at once: the lights with self shadowing and transmission, a
// reflection map, fog and the pivot marker.
template <class P> void RichLook(Scene &s)
{
    s.setReflectionMap<P>(32, 16, [](int x, int y) { return Pixel(1, x / 32.0f, 0.2f, y / 16.0f); });
    LitMaterial(s);
    s->reflectionIntensity = 0.5f;
    s->reflectionRolloff = 0.3f;
    s->selfShadow = true;
    s->lightTransmission = 0.3f;
    s->showPivot = true;
    s->fixedPointU = 0.5;
    s->fixedPointV = 0.5;
    s->depthComposite.mode = 2;
    s->depthComposite.start = 600.0;
    s->depthComposite.range = 300.0;
    s->depthComposite.fogColor = Pixel(1, 0.5f, 0.5f, 0.6f);
}

template <class P>
std::vector<unsigned char> RenderRich(int threads, int scratchThreads = Scene::kScratchAsRendered)
{
    return RenderLook<P>(RichLook<P>, threads, scratchThreads);
}

} // namespace

TEST(PixelCallbackTest, ManyThreadsGiveTheBitsOfOne)
{
    const std::vector<unsigned char> one = RenderRich<PF_PixelFloat>(1);
    EXPECT_EQ(RenderRich<PF_PixelFloat>(4), one);
    EXPECT_NE(std::count(one.begin(), one.end(), 0), static_cast<long>(one.size()));
    EXPECT_EQ(RenderRich<PF_Pixel>(4), RenderRich<PF_Pixel>(1));
}

// Each thread keeps the coverage of the pixels ahead in its block of the
// record's scratch. Without scratch, or on threads it has no block for, every
// pixel is covered on its own, to the same bits.
TEST(PixelCallbackTest, ThreadsWithoutScratchGiveTheSameBits)
{
    const std::vector<unsigned char> withScratch = RenderRich<PF_PixelFloat>(4);
    EXPECT_EQ(RenderRich<PF_PixelFloat>(4, 0), withScratch);
    EXPECT_EQ(RenderRich<PF_PixelFloat>(4, 1), withScratch); // threads 1 to 3 have none
    EXPECT_EQ(RenderRich<PF_Pixel16>(2, 0), RenderRich<PF_Pixel16>(2));
}

// Looks whose pixels a thread shades a run at a time, in lanes (no
// reflection map, no pivot marker), and some of whose pixels it leaves to
// the one-hit path: a transparent stripe's far hit, a light whose shadow
// needs a texel. Each gives the bits of pixels covered and shaded on their
// own.
TEST(PixelCallbackTest, RunsShadedTogetherGiveTheBitsOfOnePixelAtATime)
{
    const std::pair<const char *, Look> looks[] = {
        {"unlit", [](Scene &s) { s->emit = 0.7f; }},
        {"lit", LitMaterial},
        {"lit, fog",
         [](Scene &s) {
             LitMaterial(s);
             s->depthComposite.mode = 2;
             s->depthComposite.start = 600.0;
             s->depthComposite.range = 300.0;
             s->depthComposite.fogColor = Pixel(1, 0.5f, 0.5f, 0.6f);
         }},
        {"lit, the face away from the axis hidden", // far hits seen where the near is hidden
         [](Scene &s) {
             LitMaterial(s);
             s->renderSide = 3;
         }},
        {"lit, fade out",
         [](Scene &s) {
             LitMaterial(s);
             s->depthComposite.mode = 3;
             s->depthComposite.start = 650.0;
             s->depthComposite.range = 200.0;
         }},
        {"self shadow through the far side, transmission",
         [](Scene &s) {
             LitMaterial(s);
             // Beyond the bowls: its shadow rays cross their far sides,
             // where the texture's alpha sets the shadow.
             s.addLight(kPoint, Vector3(700, 0, 0), Vector3(-1, 0, 0), Pixel(1, 0.9f, 0.9f, 1.0f), 1.0);
             s->selfShadow = true;
             s->lightTransmission = 0.3f;
         }},
        {"four spots",
         [](Scene &s) {
             LitMaterial(s);
             for (int k = 0; k < 3; ++k)
                 s.addLight(kSpot, Vector3(-400, -100.0f + 100 * k, 50), Vector3(1, 0, 0),
                            Pixel(1, 0.2f * k, 0.5f, 1.0f), 0.7);
         }},
    };
    for (const auto &[name, look] : looks) {
        SCOPED_TRACE(name);
        const std::vector<unsigned char> alone = RenderLook<PF_PixelFloat>(look, 2, 0);
        EXPECT_EQ(RenderLook<PF_PixelFloat>(look, 2), alone);
        EXPECT_NE(std::count(alone.begin(), alone.end(), 0), static_cast<long>(alone.size()));
        EXPECT_EQ(RenderLook<PF_Pixel>(look, 1), RenderLook<PF_Pixel>(look, 1, 0));
    }
}

// A thread finds its block by its thread index, and only its own; a host out
// of memory leaves the scratch without blocks, which the passes then do
// without (as above).
TEST(PixelCallbackTest, ScratchBlocksBelongToOneThreadIndexEach)
{
    Scene s;
    const TraceScratch some(8);
    ASSERT_EQ(some.threads(), 8);
    EXPECT_EQ(some.forThread(-1), nullptr);
    EXPECT_EQ(some.forThread(8), nullptr);
    for (int k = 1; k < 8; ++k) {
        const auto gap = reinterpret_cast<const char *>(some.forThread(k)) -
                         reinterpret_cast<const char *>(some.forThread(k - 1));
        EXPECT_GE(gap, 128) << k; // no two threads' blocks share a pair of cache lines
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(some.forThread(k)) % 128, 0u) << k;
    }

    s.host().faults().arm(headless::service::kNewHandle, 1, PF_Err_OUT_OF_MEMORY);
    const TraceScratch none(8);
    EXPECT_EQ(none.threads(), 0);
    EXPECT_EQ(none.forThread(0), nullptr);
}

// The passes keep the coverage of the pixels ahead of each thread in the
// scratch that the passes of a frame share. A record whose camera moves
// between two passes must be drawn from the new camera, just as a fresh
// record is: a run kept from the first pass (here the whole of a short row)
// must not serve the second.
TEST(PixelCallbackTest, ARecordChangedBetweenPassesIsDrawnAfresh)
{
    constexpr int width = 6;
    const auto render = [](bool twice) {
        Scene s;
        const auto look = [&](float zoom) {
            tracer_test::SetPerspectiveCamera(
                s.info(),
                Frame(Vector3(0, 1, 0), Vector3(0, 0, 1), Vector3(1, 0, 0), Vector3(-700, 0, 0)),
                zoom, width / 2.0f, -11.0f); // the tail bowl, inside the texture
        };
        s.setTexture<PF_PixelFloat>(8, 8, [](int x, int y) { return Pixel(1, x / 8.0f, y / 8.0f, 1); });
        const HostWorld &out = s.setOutput<PF_PixelFloat>(width, 1);
        if (twice) {
            look(400.0f);
            EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
        }
        look(40.0f);
        EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
        std::vector<PF_PixelFloat> row(width);
        for (int x = 0; x < width; ++x) row[x] = At<PF_PixelFloat>(out, x, 0);
        return row;
    };
    const std::vector<PF_PixelFloat> fresh = render(false), again = render(true);
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(std::memcmp(&fresh[x], &again[x], sizeof(PF_PixelFloat)), 0) << "pixel " << x;
        EXPECT_GT(fresh[x].alpha, 0.0f) << "pixel " << x;
    }
}

// ---- bad input ----------------------------------------------------------------------------

TEST(PixelCallbackTest, BadInputIsRefusedWithoutWriting)
{
    Scene s;
    LookAlongY(s.info(), 130.0f);
    constexpr int w = 16, h = 4, n = w * h;
    HostWorld &out = s.setOutput<PF_Pixel>(w, h);
    const PF_Pixel garbage = At<PF_Pixel>(out, 0, 0);
    auto untouched = [&](int x, int y) {
        return std::memcmp(&At<PF_Pixel>(out, x, y), &garbage, sizeof garbage) == 0;
    };
    void *info = &s.info();

    EXPECT_EQ(RayTrace_PixelCallback<PF_Pixel>(info, -1, 0, n), PF_Err_NONE);
    EXPECT_TRUE(untouched(0, 0));
    EXPECT_EQ(RayTrace_PixelCallback<PF_Pixel>(nullptr, 0, 0, n), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(RayTrace_PixelCallback<PF_Pixel>(info, 0, n, n), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(RayTrace_PixelCallback<PF_Pixel>(info, 0, -1, n), PF_Err_BAD_CALLBACK_PARAM);
    // A pass of a deeper pixel type than the output would write past its rows.
    EXPECT_EQ(RayTrace_PixelCallback<PF_PixelFloat>(info, 0, n - 1, n), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(untouched(w - 1, h - 1));

    // The depth pass without its buffers, or with one the host did not make.
    EXPECT_EQ(RayTrace_PixelDepthCallback<PF_Pixel>(info, 0, 0, n), PF_Err_BAD_CALLBACK_PARAM);
    s.host().faults().arm(headless::service::kNewWorld, 1, PF_Err_OUT_OF_MEMORY);
    SideBuffers<PF_Pixel> failed(s.info(), w, h);
    ASSERT_EQ(s->nearColorWorld->err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(RayTrace_PixelDepthCallback<PF_Pixel>(info, 0, 0, n), PF_Err_OUT_OF_MEMORY);
    // Colour buffers of another depth than the pass, or smaller than the output.
    s.host().faults().disarm();
    {
        SideBuffers<PF_PixelFloat> wrongDepth(s.info(), w, h);
        EXPECT_EQ(RayTrace_PixelDepthCallback<PF_Pixel>(info, 0, 0, n), PF_Err_BAD_CALLBACK_PARAM);
    }
    SideBuffers<PF_Pixel> small(s.info(), w, h - 1);
    EXPECT_EQ(RayTrace_PixelDepthCallback<PF_Pixel>(info, 0, 0, n), PF_Err_NONE);
    EXPECT_EQ(RayTrace_PixelDepthCallback<PF_Pixel>(info, 0, n - 1, n), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(untouched(w - 1, h - 1));
}

TEST(PixelCallbackTest, MissingSamplingSuiteNeverEscapesIntoTheHost)
{
    Scene s;
    HalfTransparentHalves(s);
    LookAlongY(s.info(), 130.0f);
    const HostWorld &out = s.setOutput<PF_PixelFloat>(kSideSize, kSideSize);
    s.host().suites().remove("PF SamplingFloat Suite", 1);

    EXPECT_EQ(AcquireSamplingSuite(s.info()), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>), PF_Err_NONE);
    EXPECT_FALSE(s.host().last().threw) << s.host().last().thrown;
    ExpectPixel(At<PF_PixelFloat>(out, 3, 3), 0, 0, 0, 0, 0); // no texture could be read

    s->pixelFormat = PF_PixelFormat_ARGB32;
    EXPECT_EQ(AcquireSamplingSuite(s.info()), PF_Err_NONE);
}

// ---- work ahead of shading --------------------------------------------------------------

namespace {

// A view from the tail bowl's axis into it, as the benchmark frames see the
// surface: the texture covers the bowl from its vertex out, and beyond that
// the wall lies out of the texture's reach. `vary` sets the lights and the
// material. With scratch the pass works each run's hits out ahead in lanes;
// without, every hit is shaded on its own.
template <class P>
std::vector<unsigned char> RenderIntoBowl(const std::function<void(Scene &)> &vary,
                                          int scratchThreads)
{
    constexpr int size = 40;
    Scene s(2);
    tracer_test::SetPerspectiveCamera(
        s.info(), Frame(Vector3(1, 0, 0), Vector3(0, -1, 0), Vector3(0, 0, -1), Vector3(0, 0, 420)),
        30.0f, size / 2.0f, size / 2.0f);
    s.setTexture<P>(32, 32, [](int x, int y) {
        return Pixel((x / 4 + y / 4) % 2 ? 1.0f : 0.6f, x / 32.0f, y / 32.0f, 0.7f);
    });
    s->textureHeight = 60.0; // the texture ends well inside the view
    s->textureBlur = 0.5;
    s->emit = 0.05f;
    s->diffuse = 0.8f;
    s->specular = 0.5f;
    s->shininess = 9.0f;
    vary(s);
    const HostWorld &out = s.setOutput<P>(size, size);
    EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<P>, scratchThreads), PF_Err_NONE);
    return OutputBytes<P>(out, size);
}

} // namespace

// Hits worked out ahead (their rows, reach, normals, footprints) are shaded
// to the bits of hits shaded on their own, and hits settled out of reach are
// the transparent black shading would give them: every light type, falloff,
// self shadowing and transmission, repetitions with gaps, and fog.
TEST(PixelCallbackTest, HitsWorkedOutAheadGiveTheBitsOfHitsShadedAlone)
{
    struct Case {
        const char *name;
        std::function<void(Scene &)> vary;
        bool beyondReach; // the wall rises out of the texture's reach
    };
    const std::vector<Case> cases = {
        {"point light inside the bowl, ambient light, self shadowing",
         [](Scene &s) {
             s->selfShadow = true;
             s->lightTransmission = 0.3f;
             s.addLight(kPoint, Vector3(20, -10, 200), Vector3(0, 0, 1), Pixel(1, 1, 0.9f, 0.8f), 1.2);
             s.addLight(kAmbient, Vector3(0, 0, 0), Vector3(0, 0, 1), Pixel(1, 0.3f, 0.3f, 0.4f), 0.5);
         },
         true},
        {"spot and parallel lights, smooth falloff",
         [](Scene &s) {
             s->selfShadow = true;
             s->falloffMode = 2;
             s->falloffRadius = 50.0;
             s->falloffDistance = 300.0;
             vLight &spot = s.addLight(kSpot, Vector3(0, 60, 300), Vector3(0, -0.2f, -1), Pixel(1, 1, 1, 1), 1.0);
             spot.coneCos = 0.8;
             spot.coneFeather = 0.5;
             spot.shadowDarkness = 0.6f;
             s.addLight(kParallel, Vector3(0, 0, 0), Vector3(0.3f, 0.2f, -0.9f), Pixel(1, 0.5f, 0.6f, 1), 0.7);
         },
         true},
        {"a light outside the bowl, whose shadow rays cross its wall",
         [](Scene &s) {
             s->selfShadow = true;
             s->lightTransmission = 0.5f;
             s.addLight(kPoint, Vector3(260, 0, 230), Vector3(0, 0, 1), Pixel(1, 1, 1, 1), 1.5);
         },
         true},
        {"a reflection map, hidden in places by the surface itself, and metal",
         [](Scene &s) {
             s->selfShadow = true;
             s->lightTransmission = 0.4f; // a hidden reflection shows the texel's colour
             s->metal = 0.5f;
             s.setReflectionMap<PF_PixelFloat>(32, 16, [](int x, int y) { return Pixel(1, x / 32.0f, 0.3f, y / 16.0f); });
             s->reflectionIntensity = 0.7f;
             s->reflectionRolloff = 0.2f;
             s->textureHeight = 1e5; // texture far up the wall, where reflected rays meet it
             s.addLight(kAmbient, Vector3(0, 0, 0), Vector3(0, 0, 1), Pixel(1, 0.3f, 0.3f, 0.4f), 0.5);
         },
         false},
        {"clamped inverse-square falloff, repetitions with gaps, fog, no shadows",
         [](Scene &s) {
             s->falloffMode = 3;
             s->falloffRadius = 150.0;
             s->extension.interval = 0.4;
             s->extension.tailExtensions = 2;
             s->extension.flipVertical = true;
             s->depthComposite.mode = 2;
             s->depthComposite.start = 200.0;
             s->depthComposite.range = 300.0;
             s->depthComposite.fogColor = Pixel(1, 0.5f, 0.5f, 0.6f);
             vLight &point = s.addLight(kPoint, Vector3(-40, 0, 250), Vector3(0, 0, 1), Pixel(1, 1, 1, 1), 2.0);
             point.castsShadows = false;
         },
         true},
    };
    for (const auto &[name, vary, beyondReach] : cases) {
        SCOPED_TRACE(name);
        const std::vector<unsigned char> ahead = RenderIntoBowl<PF_PixelFloat>(vary, Scene::kScratchAsRendered);
        EXPECT_EQ(ahead, RenderIntoBowl<PF_PixelFloat>(vary, 0));
        // The view holds textured hits and, but where the texture repeats up
        // the whole wall, hits out of reach.
        const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(ahead.data());
        const std::size_t count = ahead.size() / sizeof(PF_PixelFloat);
        const auto textured = std::count_if(pixels, pixels + count, [](const PF_PixelFloat &p) { return p.alpha > 0.0f; });
        EXPECT_GT(textured, 100);
        if (beyondReach) {
            EXPECT_GT(static_cast<long>(count) - textured, 100);
        }
    }
    const auto point = [](Scene &s) {
        s->selfShadow = true;
        s.addLight(kPoint, Vector3(20, -10, 200), Vector3(0, 0, 1), Pixel(1, 1, 0.9f, 0.8f), 1.2);
    };
    EXPECT_EQ(RenderIntoBowl<PF_Pixel>(point, Scene::kScratchAsRendered), RenderIntoBowl<PF_Pixel>(point, 0));
}

// The light lanes' builds give the same bits on every lane (the pass
// above shows that the build this processor runs gives shading's own): seeded
// random lights of every type (and one of no known type), positions, axes,
// cones, falloffs, shadowing and transmission, on hits of both sheets.
TEST(PixelCallbackTest, EveryBuildOfTheLightLanesGivesTheSameBits)
{
    std::mt19937 random(41);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), height(1.0f, 6.0f), scale(0.0f, 1.0f);
    std::uniform_int_distribution<int> type(0, 4), lights(1, kLaneLights), mode(1, 3);
    int compared = 0, alone = 0, highlights = 0, settled = 0, strengths = 0, columns = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Scene s;
        s.setTexture<PF_PixelFloat>(8, 8, [](int, int) { return Pixel(1, 1, 1, 1); });
        s->selfShadow = trial % 5 != 0;
        s->lightTransmission = scale(random);
        s->falloffMode = mode(random);
        s->falloffRadius = 100.0 * scale(random);
        s->falloffDistance = 400.0 * scale(random);
        s->diffuse = scale(random);
        s->ambient = scale(random);
        s->specular = scale(random);
        s->shininess = static_cast<float>(std::tan(scale(random) * 1.5));
        if (trial % 3 == 0) { // and a reflection, whose strength the lanes bound too
            s.setReflectionMap<PF_PixelFloat>(8, 4, [](int, int) { return Pixel(1, 1, 1, 1); });
            s->reflectionIntensity = scale(random);
            s->reflectionRolloff = trial % 6 == 0 ? 0.0f : 3.0f * scale(random);
        }
        for (int j = lights(random); j > 0; --j) {
            const int t = type(random);
            vLight &light = s.addLight(t == 4 ? 7 : t, Vector3(300 * unit(random), 300 * unit(random), 400 * unit(random)),
                                       Vectormath::Aos::normalize(Vector3(unit(random), unit(random), unit(random))),
                                       Pixel(1, 1, 1, 1), 2.0 * scale(random));
            light.coneCos = scale(random);
            light.coneFeather = scale(random);
            light.shadowDarkness = scale(random);
            light.castsShadows = j % 3 != 0;
        }
        s->beginPass();
        FootprintLaneHits hits{};
        for (int k = 0; k < kHitLanes; ++k) {
            const float d = (k % 2 ? 1.0f : -1.0f) * height(random), ring = std::sqrt(d * d - 1.0f);
            const float angle = 3.14159265f * unit(random);
            const Vector3 point(kRadius * ring * std::cos(angle), kRadius * ring * std::sin(angle), kRadius * d);
            const Vector3 direction = Vectormath::Aos::normalize(Vector3(unit(random), unit(random), unit(random)));
            const double t = 50.0 + 500.0 * scale(random);
            const Vector3 origin = point - static_cast<float>(t) * direction;
            hits.ox[k] = origin.getX();
            hits.oy[k] = origin.getY();
            hits.oz[k] = origin.getZ();
            hits.dx[k] = direction.getX();
            hits.dy[k] = direction.getY();
            hits.dz[k] = direction.getZ();
            hits.t[k] = t;
        }
        HitLaneValues located{};
        LocateHitLanes(MakeHitLaneScene(s.info()), hits, located);
        const LightLaneScene scene = MakeLightLaneScene(s.info());
        LightLaneValues baseline{}, fast{}; // zeroed, padding included, for memcmp
        LightHitLanesBaseline(scene, hits, located, baseline);
        for (int j = 0; j < scene.lights; ++j)
            for (int k = 0; k < kHitLanes; ++k) {
                alone += baseline.alone[j][k] != 0.0;
                highlights += baseline.specularOn[j][k] != 0.0;
                // A highlight settled from bounds of its power is the one
                // shading works out from the power itself.
                if (baseline.specularOn[j][k] == 0.0 || baseline.highlightSettled[j][k] == 0.0) continue;
                const float exact =
                    static_cast<float>((baseline.E[j][k] * s->specular) *
                                       std::pow(baseline.toward[j][k], static_cast<double>(s->shininess)));
                ASSERT_EQ(baseline.highlight[j][k], exact) << "trial " << trial;
                ++settled;
            }
        for (int k = 0; scene.reflects && k < kHitLanes; ++k) {
            // The map's column is placed where the one-hit bounds place it.
            PF_Fixed column = 0;
            const Vector3 W(baseline.wx[k], baseline.wy[k], baseline.wz[k]);
            const bool placed = MapColumnFromBounds(s->reflectionLayer, W, column);
            ASSERT_EQ(baseline.mapPlaced[k] != 0.0, placed) << "trial " << trial << ", lane " << k;
            if (placed) {
                ASSERT_EQ(baseline.mapColumn[k], column) << "trial " << trial << ", lane " << k;
                ++columns;
            }
            // A reflection's strength settled from bounds of its power is
            // the one shading works out from the power itself.
            if (baseline.strengthSettled[k] == 0.0) continue;
            const Vector3 d(hits.dx[k], hits.dy[k], hits.dz[k]);
            Vector3 n(located.nx[k], located.ny[k], located.nz[k]);
            if (Vectormath::Aos::dot(n, d) > 0.0f) n = -n;
            const double facing = 1.0 - std::fabs(Vectormath::Aos::dot(d, n));
            const float exact = static_cast<float>(
                static_cast<double>(s->reflectionIntensity) *
                std::pow(facing, static_cast<double>(10.0f * s->reflectionRolloff)));
            ASSERT_EQ(baseline.strength[k], exact) << "trial " << trial << ", lane " << k;
            ++strengths;
        }
        for (const auto build : {LightHitLanesV3, LightHitLanesV4})
            if (build(scene, hits, located, fast)) {
                ASSERT_EQ(std::memcmp(&fast, &baseline, sizeof fast), 0) << "trial " << trial;
                ++compared;
            }
    }
    EXPECT_GT(alone, 100);      // shadow rays that meet the surface
    EXPECT_GT(highlights, 100); // and highlights
    EXPECT_GT(settled, highlights * 9 / 10); // nearly all settled from bounds
    EXPECT_GT(strengths, 500);                // and reflections' strengths
    EXPECT_GT(columns, 500);                  // and map columns
    if (compared == 0) std::cout << "no x86-64-v3 or -v4 build or processor: their lanes were not compared\n";
}
