// The trace pass stores the pixels outside the reach window (ReachWindow.h)
// without covering them. Seeded random views of textured surfaces (both
// sheets, cameras inside and outside the bowls and behind them, orthographic
// ones, opened surfaces, repetitions with gaps, blur, lights, fade-out)
// rendered with per-thread scratch, where the window applies, give the bits
// of the same views rendered without, where every pixel is covered and
// shaded on its own: the trace pass's output and the depth pass's layers,
// whose second hits at heights the window shows beyond reach are settled
// without being located.
#include "imaging/World.h"
#include "tracer/Coverage.h"
#include "tracer/PixelCallbacks.h"
#include "tracer/ReachWindow.h"
#include "tracer/ShadingTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <random>
#include <vector>

namespace {

using namespace shading_test;
using namespace tracer_test;

constexpr int kSize = 40;

// A camera at `eye` looking at `target`, with +z along the view as the
// passes' rays expect.
Matrix4 LookAt(const Vector3 &eye, const Vector3 &target)
{
    const Vector3 z = Vectormath::Aos::normalize(target - eye);
    const Vector3 up = std::fabs(z.getX()) < 0.9f ? Vector3(1, 0, 0) : Vector3(0, 1, 0);
    const Vector3 x = Vectormath::Aos::normalize(Vectormath::Aos::cross(up, z));
    return Frame(x, Vectormath::Aos::cross(z, x), z, eye);
}

struct View {
    // The trace pass's output, then the depth pass's four layers.
    std::vector<unsigned char> windowed, alone;
    int outside = 0; // pixels outside the window
    int farBeyond = 0; // covered pixels whose far crossing the window's heights leave out
};

// Appends the bytes of every pixel of `world`.
void AppendPixels(AEO::World &world, std::size_t pixelBytes, std::vector<unsigned char> &bytes)
{
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const auto *at = static_cast<const unsigned char *>(world.data(x, y));
            bytes.insert(bytes.end(), at, at + pixelBytes);
        }
}

View RenderRandomView(std::mt19937 &random)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), radius(20.0f, 120.0f), way(0.0f, 1.0f);
    std::uniform_int_distribution<int> rows(16, 64), copies(0, 2), coin(0, 1);
    const float a = radius(random), b = radius(random), c = radius(random);
    const bool orthographic = way(random) < 0.2f;
    const float side = coin(random) ? 1.0f : -1.0f;
    const float textureHeight = 30.0f + 200.0f * way(random);
    const double openFactor = coin(random) ? 1.0 : 1.0 + 2.0 * way(random);
    // Eyes in a bowl beyond the texture or outside the surface, near the
    // axis or off to the side, looking at either sheet.
    const float beyond = c + textureHeight * static_cast<float>(openFactor) * (1.5f + 4.0f * way(random));
    const Vector3 eye(unit(random) * 2 * a, unit(random) * 2 * b, side * beyond);
    const Vector3 target(unit(random) * a, unit(random) * b, (coin(random) ? side : -side) * c * (1.0f + 2.0f * way(random)));
    const float zoom = 20.0f + 60.0f * way(random);
    const double fixedPointV = way(random), blur = 2.0 * way(random);
    const double interval = coin(random) ? 0.0 : 0.5 * way(random);
    const int head = copies(random), tail = copies(random);
    const bool renderHead = way(random) < 0.8f, renderTail = way(random) < 0.8f;
    const bool lit = coin(random), fade = way(random) < 0.2f;
    const int textureRows = rows(random);
    const float aspect = coin(random) ? 1.0f : 0.8f + 0.5f * way(random);
    const int renderSide = 1 + static_cast<int>(random() % 3); // both faces, inner only, outer only

    View view;
    for (const int scratch : {Scene::kScratchAsRendered, 0}) {
        Scene s(2);
        SetSemiAxes(s->shape, a, b, c);
        if (orthographic) SetOrthographicCamera(s.info(), LookAt(eye, target), kSize / 2.0f, kSize / 2.0f);
        else SetPerspectiveCamera(s.info(), LookAt(eye, target), zoom, kSize / 2.0f, kSize / 2.0f);
        s->pixelAspect = aspect;
        s->renderSide = renderSide;
        s.setTexture<PF_PixelFloat>(12, textureRows, [](int x, int y) {
            return Pixel((x + y) % 3 ? 1.0f : 0.5f, x / 12.0f, y / 40.0f, 0.6f);
        });
        s->textureHeight = textureHeight;
        s->openFactor = openFactor;
        s->isOpen = openFactor != 1.0;
        s->fixedPointV = fixedPointV;
        s->textureBlur = blur;
        s->extension.interval = interval;
        s->extension.headExtensions = head;
        s->extension.tailExtensions = tail;
        s->extension.renderHead = renderHead;
        s->extension.renderTail = renderTail;
        s->diffuse = 0.7f;
        if (lit) {
            s->selfShadow = true;
            s.addLight(kPoint, Vector3(0, 0, side * 3 * c), Vector3(0, 0, 1), Pixel(1, 1, 1, 1), 1.0);
        }
        if (fade) {
            s->depthComposite.mode = 3;
            s->depthComposite.start = 100.0;
            s->depthComposite.range = 2000.0;
        }
        const headless::HostWorld &out = s.setOutput<PF_PixelFloat>(kSize, kSize);
        EXPECT_EQ(s.iterate(&RayTrace_PixelCallback<PF_PixelFloat>, scratch), PF_Err_NONE);
        std::vector<unsigned char> &bytes = scratch ? view.windowed : view.alone;
        for (int y = 0; y < kSize; ++y) {
            const auto *row = reinterpret_cast<const unsigned char *>(out.row(y));
            bytes.insert(bytes.end(), row, row + kSize * sizeof(PF_PixelFloat));
        }
        // The depth pass covers every pixel and writes each layer's depth;
        // outside the window it settles the hits without working them out.
        AEO::World nearColour(AEO::World::WorldType_32, kSize, kSize), farColour(AEO::World::WorldType_32, kSize, kSize);
        AEO::World nearDepth(AEO::World::WorldType_8, kSize, kSize), farDepth(AEO::World::WorldType_8, kSize, kSize);
        s->nearColorWorld = &nearColour;
        s->farColorWorld = &farColour;
        s->nearDepthWorld = &nearDepth;
        s->farDepthWorld = &farDepth;
        EXPECT_EQ(s.iterate(&RayTrace_PixelDepthCallback<PF_PixelFloat>, scratch), PF_Err_NONE);
        AppendPixels(nearColour, sizeof(PF_PixelFloat), bytes);
        AppendPixels(farColour, sizeof(PF_PixelFloat), bytes);
        AppendPixels(nearDepth, sizeof(float), bytes);
        AppendPixels(farDepth, sizeof(float), bytes);
        if (scratch) {
            s->beginPass(); // the window of the pass just rendered
            const ReachWindow window = TextureReachWindow(s.info());
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x) {
                    view.outside += !window.columnsOf(y).meet(x, x);
                    PixelCoverage p;
                    msaaRayTest(x, y, s.info(), p.count, p.A, p.Bh, p.D, p.ray);
                    const double far = std::max(p.Bh - std::sqrt(p.D), p.Bh + std::sqrt(p.D)) / p.A;
                    view.farBeyond += p.count > 0 && window.beyondHeights(p.ray.pointAt(far).getZ());
                }
        }
    }
    return view;
}

} // namespace

TEST(ReachWindowTest, PixelsLeftOutsideAreTheBitsTracingGivesThem)
{
    std::mt19937 random(2026);
    int windowed = 0, shown = 0, farBeyond = 0;
    constexpr int kViews = 80;
    for (int k = 0; k < kViews; ++k) {
        SCOPED_TRACE("view " + std::to_string(k));
        const View view = RenderRandomView(random);
        ASSERT_EQ(view.windowed, view.alone);
        windowed += view.outside > 0;
        farBeyond += view.farBeyond;
        const auto *pixels = reinterpret_cast<const PF_PixelFloat *>(view.alone.data()); // the trace pass's
        for (int i = 0; i < kSize * kSize; ++i) shown += pixels[i].alpha > 0.0f;
    }
    // The views show the texture, and many leave pixels outside the window
    // and far crossings beyond its heights.
    EXPECT_GT(shown, kViews * kSize * kSize / 10);
    EXPECT_GT(windowed, kViews / 8);
    EXPECT_GT(farBeyond, kViews * kSize * kSize / 20);
}

// Where pixels outside would not be transparent black, or the band of rows
// in reach is unbounded, there is no window.
TEST(ReachWindowTest, NoWindowWhereHitsOutOfReachShowOrTheBandIsUnbounded)
{
    const auto windowOf = [](const std::function<void(Scene &)> &vary) {
        Scene s(1);
        SetPerspectiveCamera(s.info(), Frame(Vector3(1, 0, 0), Vector3(0, -1, 0), Vector3(0, 0, -1), Vector3(0, 0, 900)),
                             40.0f, kSize / 2.0f, kSize / 2.0f);
        s.setTexture<PF_PixelFloat>(64, 64, Uniform(Pixel(1, 1, 1, 1)));
        s.setOutput<PF_PixelFloat>(kSize, kSize);
        vary(s);
        s->beginPass();
        return TextureReachWindow(s.info());
    };
    EXPECT_FALSE(windowOf([](Scene &) {}).everywhere); // the textured band lies within view
    EXPECT_TRUE(windowOf([](Scene &s) { s->showPivot = true; }).everywhere);
    EXPECT_TRUE(windowOf([](Scene &s) { s->depthComposite.mode = 2; }).everywhere); // fog colours them
    EXPECT_TRUE(windowOf([](Scene &s) { s->textureLayer = PF_LayerDef{}; }).everywhere);
    EXPECT_TRUE(windowOf([](Scene &s) { s->extension.tailExtensions = 2000000000; }).everywhere);
    EXPECT_TRUE(windowOf([](Scene &s) { s->textureHeight = HUGE_VAL; }).everywhere);
    EXPECT_TRUE(windowOf([](Scene &s) { s->openFactor = 0.0; }).everywhere);
    // The camera inside the band's box: seen all around.
    EXPECT_TRUE(windowOf([](Scene &s) { s->textureHeight = 5000.0; }).everywhere);
}
