// Cost of the effect's side of a texture lookup: the footprint radii, and the
// repetition and seam logic around the host's area samples. The host sampler
// here returns a constant pixel, so the numbers are the effect's overhead
// per lookup, not the host's filtering.
#include "imaging/TextureSampling.h"

#include "headless/boundary/Host.h"
#include "tracer/SurfacePoint.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;
using Record = RenderInfoTemplate<Hyperboloid>;

namespace {

template <class P>
PF_Err ConstantSample(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB *, P *out)
{
    const PF_PixelFloat grey{1.0f, 0.5f, 0.5f, 0.5f};
    *out = fromPixelF<P>(&grey);
    return PF_Err_NONE;
}

const PF_SamplingFloatSuite1 kFloatSuite{nullptr, nullptr, &ConstantSample<PF_PixelFloat>};
const PF_Sampling16Suite1 kSuite16{nullptr, nullptr, &ConstantSample<PF_Pixel16>};
const PF_Sampling8Suite1 kSuite8{nullptr, nullptr, &ConstantSample<PF_Pixel>};

// A record with a 512 x 512 texture repeated twice on each sheet.
struct Scene {
    Scene()
    {
        host.suites().add("PF SamplingFloat Suite", 1, &kFloatSuite);
        host.suites().add("PF Sampling16 Suite", 1, &kSuite16);
        host.suites().add("PF Sampling8 Suite", 1, &kSuite8);
        info = std::make_unique<Record>(host.inData());
        Hyperboloid &s = info->shape;
        s.radii = Vector3(100.0f, 100.0f, 100.0f);
        s.radiiSquared = Vector3(1e4f, 1e4f, 1e4f);
        s.invRadii = Vector3(0.01f, 0.01f, 0.01f);
        s.invRadiiSquared = Vector3(1e-4f, 1e-4f, 1e-4f);
        info->openFactor = 1.0;
        info->textureHeight = 100.0;
        info->perspective = true;
        info->imagePlane = Vector3(320.0f, 240.0f, -1000.0f);
        info->textureBlur = 0.5;
        info->extension.tailExtensions = 2;
        info->extension.headExtensions = 2;
        static int marker;
        info->textureLayer.reserved0 = &marker;
        info->textureLayer.width = 512;
        info->textureLayer.height = 512;
    }

    headless::Host host;
    std::unique_ptr<Record> info;
};

void BM_FootprintRadii(benchmark::State &state)
{
    Scene scene;
    const Vector3 p(100.0f * std::sqrt(3.0f), 0.0f, 200.0f);
    const Vector3 pn = NormalisedPoint(scene.info->shape, p);
    const Vector3 n = SurfaceNormal(scene.info->shape, p);
    const Vector3 d = Vectormath::Aos::normalize(Vector3(-0.3f, 0.2f, -1.0f));
    const Ray ray{d, Vector4(p - 500.0f * d, 1.0f)};
    double rx = 0.0, ry = 0.0;
    for (auto _ : state) {
        const double t = 500.0;
        getSampRadius(*scene.info, ray, t, pn, n, rx, ry);
        benchmark::DoNotOptimize(rx);
        benchmark::DoNotOptimize(ry);
    }
}
BENCHMARK(BM_FootprintRadii);

// Lookups spread over u and v, so some cross the seam or a repetition border.
template <class P> void BM_TextureLookup(benchmark::State &state)
{
    Scene scene;
    const Vector3 pn(1.0f, 0.5f, 2.0f);
    int i = 0;
    for (auto _ : state) {
        const double u = (i % 997) / 997.0;
        const double v = (i % 389) / 100.0;
        ++i;
        PF_PixelFloat out;
        TopologycalSampling<P>(*scene.info, pn, u, v, 4.0, 4.0, &scene.info->textureLayer, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK_TEMPLATE(BM_TextureLookup, PF_PixelFloat);
BENCHMARK_TEMPLATE(BM_TextureLookup, PF_Pixel16);
BENCHMARK_TEMPLATE(BM_TextureLookup, PF_Pixel);

} // namespace

BENCHMARK_MAIN();
