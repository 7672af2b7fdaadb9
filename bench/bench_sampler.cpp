// The host's area sampler: one sample must cost the same whatever its radius,
// and the summed-area table it reads must be quick to build at HD and 4K.
// The four-pixel box kernel on its own, on the build's lanes and on
// x86-64-v3's, for small boxes (most of a texture seen from afar).
//
//     bench_sampler --benchmark_counters_tabular=true
#include "headless/boundary/AreaSampler.h"
#include "headless/images/AreaBox.h"
#include "headless/images/AreaTable.h"
#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using headless::HostWorld;
using headless::PixelDepth;

constexpr int kPoints = 1'000'000;

template <class P> std::unique_ptr<HostWorld> randomWorld(A_long width, A_long height) {
    auto world = std::make_unique<HostWorld>(headless::depthOf<P>(), width, height);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float full = static_cast<float>(headless::fullIntensity(world->depth()));
    using C = decltype(P{}.alpha);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x)
            *world->template pixel<P>(x, y) = P{C(unit(rng) * full), C(unit(rng) * full), C(unit(rng) * full),
                                                C(unit(rng) * full)};
    world->pixelsChanged();
    return world;
}

struct Point {
    PF_Fixed x, y;
};

// A million points over the world, in random order (every sample misses the
// caches) or in scanline order (as a render visits a texture, more or less).
std::vector<Point> randomPoints(A_long width, A_long height, bool scanline = false) {
    std::mt19937 rng(2);
    std::uniform_int_distribution<PF_Fixed> x(0, width * 65536), y(0, height * 65536);
    std::vector<Point> points(kPoints);
    for (Point &p : points) p = {x(rng), y(rng)};
    if (scanline)
        std::sort(points.begin(), points.end(), [](const Point &a, const Point &b) {
            return a.y >> 16 != b.y >> 16 ? a.y < b.y : a.x < b.x;
        });
    return points;
}

// A million area samples of a 1920 x 1080 world through the suite, as the
// effect makes them during a command; the table is built before timing.
template <class P, class Sample> void sampleMillion(benchmark::State &state, Sample sample) {
    headless::Host host;
    auto world = randomWorld<P>(1920, 1080);
    auto publication = host.worlds().publish(*world, headless::WorldAccess::ReadOnly);
    const std::vector<Point> points = randomPoints(1920, 1080, state.range(1) != 0);
    PF_SampPB pb{};
    pb.x_radius = pb.y_radius = static_cast<PF_Fixed>(state.range(0) * 65536);
    pb.src = const_cast<PF_EffectWorld *>(&world->effectWorld());
    world->areaTable();

    host.run(PF_Cmd_SMART_RENDER, [&] {
        PF_ProgPtr ref = host.effectRef();
        for (auto _ : state) {
            P out{};
            for (const Point &p : points) {
                sample(ref, p.x, p.y, &pb, &out);
                benchmark::DoNotOptimize(out);
            }
        }
    });
    state.SetItemsProcessed(state.iterations() * kPoints);
    // Seconds per sample.
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPoints,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_AreaSampleFloat(benchmark::State &state) {
    sampleMillion<PF_PixelFloat>(state, headless::samplingFloatSuite1().area_sample_float);
}
void BM_AreaSample8(benchmark::State &state) {
    sampleMillion<PF_Pixel>(state, headless::sampling8Suite1().area_sample);
}
BENCHMARK(BM_AreaSampleFloat)
    ->ArgNames({"radius_px", "scanline"})
    ->ArgsProduct({{1, 100}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AreaSample8)->ArgNames({"radius_px", "scanline"})->ArgsProduct({{1, 100}, {0, 1}})->Unit(benchmark::kMillisecond);

// The same million float samples as one pass of the host's iterator, on all
// of its threads at once.
void BM_AreaSampleFloatPass(benchmark::State &state) {
    headless::Host host;
    auto world = randomWorld<PF_PixelFloat>(1920, 1080);
    auto publication = host.worlds().publish(*world, headless::WorldAccess::ReadOnly);
    struct Pass {
        PF_ProgPtr ref;
        PF_SampPB pb{};
        std::vector<Point> points;
        std::vector<PF_PixelFloat> out;
    } pass{host.effectRef(), {}, randomPoints(1920, 1080), std::vector<PF_PixelFloat>(kPoints)};
    pass.pb.x_radius = pass.pb.y_radius = static_cast<PF_Fixed>(state.range(0) * 65536);
    pass.pb.src = const_cast<PF_EffectWorld *>(&world->effectWorld());
    world->areaTable();

    host.run(PF_Cmd_SMART_RENDER, [&] {
        for (auto _ : state) {
            host.inData()->utils->iterate_generic(kPoints, &pass, [](void *refcon, A_long, A_long i, A_long) -> PF_Err {
                auto &p = *static_cast<Pass *>(refcon);
                return headless::samplingFloatSuite1().area_sample_float(p.ref, p.points[i].x, p.points[i].y, &p.pb,
                                                                         &p.out[i]);
            });
        }
    });
    state.SetItemsProcessed(state.iterations() * kPoints);
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPoints,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["threads"] = host.workers().threads();
}
BENCHMARK(BM_AreaSampleFloatPass)->ArgName("radius_px")->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

// A million boxes whose edges fall in neighbouring columns and rows, summed
// from their four pixels by one kernel: the build's own (kernel 0) or the
// x86-64-v3 one (kernel 1, skipped where the processor lacks it).
template <class P> void quadBoxMillion(benchmark::State &state) {
    const headless::QuadBoxKernel kernel = state.range(0) ? headless::quadBoxV3() : headless::quadBoxBaseline;
    if (!kernel) {
        state.SkipWithError("no x86-64-v3 on this processor");
        return;
    }
    auto world = randomWorld<P>(1920, 1080);
    std::mt19937 rng(3);
    std::uniform_int_distribution<A_long> column(0, 1918), row(0, 1078);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    std::vector<headless::TableBox> boxes(kPoints);
    for (headless::TableBox &box : boxes) {
        const A_long a = column(rng), b = row(rng);
        box = {{a, fraction(rng)}, {a + 1, fraction(rng)}, {b, fraction(rng)}, {b + 1, fraction(rng)}};
    }
    for (auto _ : state)
        for (const headless::TableBox &box : boxes) benchmark::DoNotOptimize(kernel(*world, box));
    state.SetItemsProcessed(state.iterations() * kPoints);
}
void BM_QuadBox8(benchmark::State &state) { quadBoxMillion<PF_Pixel>(state); }
void BM_QuadBox16(benchmark::State &state) { quadBoxMillion<PF_Pixel16>(state); }
BENCHMARK(BM_QuadBox8)->ArgName("kernel")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuadBox16)->ArgName("kernel")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Building the table of a float world.
void BM_TableBuildFloat(benchmark::State &state) {
    auto world = randomWorld<PF_PixelFloat>(static_cast<A_long>(state.range(0)), static_cast<A_long>(state.range(1)));
    for (auto _ : state) {
        headless::AreaTable table(*world, 0);
        benchmark::DoNotOptimize(table.alphaNoise());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_TableBuildFloat)->ArgNames({"w", "h"})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void BM_TableBuild8(benchmark::State &state) {
    auto world = randomWorld<PF_Pixel>(static_cast<A_long>(state.range(0)), static_cast<A_long>(state.range(1)));
    for (auto _ : state) {
        headless::AreaTable table(*world, 0);
        benchmark::DoNotOptimize(table.alphaNoise());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_TableBuild8)->ArgNames({"w", "h"})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
