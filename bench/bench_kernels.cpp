// The per-pixel pieces of a frame, one at a time, on the headless host's own
// worlds and samplers (the record set up as the tracer tests set it up):
// msaaRayTest, Ray_GetColor without texture, with a texture, with a texture
// and lights and self shadowing, TopologycalSampling, and the depth-of-field
// composite pass. Timings are per call (per pixel for the pass).
//
//     bench_kernels --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "imaging/DofComposite.h"
#include "imaging/TextureSampling.h"
#include "imaging/World.h"
#include "tracer/ShadingTestSupport.h"
#include "tracer/Coverage.h"
#include "tracer/PixelCallbacks.h"
#include "tracer/Shading.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using shading_test::Scene;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

constexpr int kSize = 256; // pixels across the kernels' small frame

PF_PixelFloat checkerColour(int x, int y)
{
    const bool odd = ((x / 32) + (y / 32)) % 2 != 0;
    return odd ? PF_PixelFloat{1.0f, 0.15f, 0.15f, 0.6f} : PF_PixelFloat{1.0f, 0.9f, 0.9f, 0.3f};
}

// A camera on the surface's axis looking into the tail bowl, which fills
// the small frame.
void placeCamera(Scene &s)
{
    const Matrix4 frame = tracer_test::Frame(Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, -1),
                                             Vector3(0, 0, 600));
    tracer_test::SetPerspectiveCamera(s.info(), frame, 300.0f, kSize / 2.0f, kSize / 2.0f);
}

enum Shading { kRamp, kTexture, kLit };

void setShading(Scene &s, Shading shading)
{
    if (shading == kRamp) return;
    s.setTexture<PF_Pixel>(512, 512, checkerColour);
    if (shading != kLit) return;
    s->emit = 0.0f;
    s->diffuse = 0.9f;
    s->specular = 0.4f;
    s->ambient = 0.2f;
    s->shininess = 20.0f;
    s->selfShadow = true;
    s->lightTransmission = 0.3f;
    s.addLight(shading_test::kPoint, Vector3(30, -20, 400), Vector3(0, 0, 1), {1, 1, 1, 1}, 1.0);
    s.addLight(shading_test::kAmbient, Vector3(0, 0, 0), Vector3(0, 0, 1), {1, 1, 1, 1}, 0.2);
}

// The rays of every pixel of the small frame, with their hits.
struct Hits {
    std::vector<Ray> rays;
    std::vector<double> ts;
};

Hits covered(const Scene &s)
{
    Hits hits;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            int count = 0;
            double A = 0, Bh = 0, D = 0;
            Ray ray;
            msaaRayTest(x, y, const_cast<Scene &>(s).info(), count, A, Bh, D, ray);
            if (count == 0) continue;
            const double t = (Bh + std::sqrt(D)) / A;
            if (t > 0 && std::isfinite(t)) {
                hits.rays.push_back(ray);
                hits.ts.push_back(t);
            }
        }
    return hits;
}

void BM_msaaRayTest(benchmark::State &state)
{
    Scene s;
    placeCamera(s);
    for (auto _ : state)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                int count = 0;
                double A = 0, Bh = 0, D = 0;
                Ray ray;
                benchmark::DoNotOptimize(msaaRayTest(x, y, s.info(), count, A, Bh, D, ray));
            }
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_msaaRayTest);

void BM_Ray_GetColor(benchmark::State &state)
{
    Scene s;
    placeCamera(s);
    setShading(s, Shading(state.range(0)));
    const Hits hits = covered(s);
    s.info().beginPass(); // as a pass starts: the footprint's bound
    s.host().run(PF_Cmd_SMART_RENDER, [&] {
        for (auto _ : state)
            for (std::size_t i = 0; i < hits.rays.size(); ++i) {
                PF_PixelFloat out{};
                Ray_GetColor<PF_Pixel>(hits.rays[i], hits.ts[i], s.info(), out);
                benchmark::DoNotOptimize(out);
            }
    });
    state.SetItemsProcessed(state.iterations() * static_cast<long>(hits.rays.size()));
    state.SetLabel(state.range(0) == kRamp ? "ramp" : state.range(0) == kTexture ? "texture" : "texture, point + ambient light, self shadow");
}
BENCHMARK(BM_Ray_GetColor)->Arg(kRamp)->Arg(kTexture)->Arg(kLit);

void BM_TopologycalSampling(benchmark::State &state)
{
    Scene s;
    placeCamera(s);
    setShading(s, kTexture);
    const double radius = static_cast<double>(state.range(0));
    const Vector3 pn(0.3f, 0.2f, 2.0f);
    s.host().run(PF_Cmd_SMART_RENDER, [&] {
        for (auto _ : state)
            for (int i = 0; i < 4096; ++i) {
                PF_PixelFloat out{};
                TopologycalSampling<PF_Pixel>(s.info(), pn, (i % 64) / 64.0, 0.1 + (i / 64) / 80.0,
                                              radius, radius, &s->textureLayer, out);
                benchmark::DoNotOptimize(out);
            }
    });
    state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_TopologycalSampling)->Arg(0)->Arg(4)->Arg(64);

// The composite pass over a 256 x 256 frame whose two layers lie at depths
// around the focus plane.
void BM_DofComposite(benchmark::State &state)
{
    Scene s(static_cast<int>(state.range(0)));
    auto &out = s.setOutput<PF_Pixel>(kSize, kSize);
    AEO::World nearColour(AEO::World::WorldType_8, kSize, kSize), farColour(AEO::World::WorldType_8, kSize, kSize);
    AEO::World nearDepth(AEO::World::WorldType_8, kSize, kSize), farDepth(AEO::World::WorldType_8, kSize, kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const PF_PixelFloat c = checkerColour(x, y);
            *static_cast<PF_Pixel *>(nearColour.data(x, y)) = fromPixelF<PF_Pixel>(&c);
            *static_cast<PF_Pixel *>(farColour.data(x, y)) = fromPixelF<PF_Pixel>(&c);
            pixel_pass::StoreDepth(nearDepth.data(x, y), 400.0f + x);
            pixel_pass::StoreDepth(farDepth.data(x, y), 900.0f + y);
        }
    s->nearColorWorld = &nearColour;
    s->farColorWorld = &farColour;
    s->nearDepthWorld = &nearDepth;
    s->farDepthWorld = &farDepth;
    s->focusDistance = 600.0;
    s->dofBlurScale = 20.0;
    for (auto _ : state) benchmark::DoNotOptimize(s.iterate(&DofCompositeCallback<PF_Pixel>));
    benchmark::DoNotOptimize(out.effectWorld().data);
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
    s->nearColorWorld = s->farColorWorld = s->nearDepthWorld = s->farDepthWorld = nullptr;
}
BENCHMARK(BM_DofComposite)->Arg(1)->Arg(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
