// Whole frames of the loaded plug-in, driven in-process through the host's
// one-call smart render: 1920 x 1080 in 8, 16 and 32 bits, on 1 and 2
// threads. The scenes are built in code (no image files, no image library):
//
//   default      the effect as applied: no texture, no lights (u/v ramp)
//   peer         a = b = 30, c = 100 with a 512 x 512 checker texture, a
//                point light, an ambient light and self shadowing, seen by a
//                camera on the surface's axis, looking into the bowl that
//                faces it (the texture covers one texture height of it, from
//                the vertex out). bench/pov_peer.sh renders the same scene in
//                POV-Ray.
//   reflection   the peer scene with a reflection map and some metal
//   dof          the peer scene with depth of field
//   photo        the peer scene with a 2048 x 2048 8-bit texture, as a
//                photograph comes
//
//     bench_frame --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//     bench_frame --frame SCENE DEPTH THREADS [REPEATS] [out.ppm] [--size WxH]
//         renders one scene REPEATS times (default 1), at W x H (default
//         1920 x 1080; the scene scales with the width), and prints the best
//         frame time, a hash of the output bytes (to check that a change
//         leaves every output value as it was) and the heap allocations a
//         frame makes, all of them and those on the pool's worker threads
//         (which run nothing but pixel passes); writes an 8-bit PPM if asked.
//         VELTRIX_BENCH_PLUGIN=path/Veltrix.so runs another build of the
//         plug-in under the same host. Image-sized blocks come from the
//         system and go back to it when freed, so that the process's peak
//         resident size is the peak of what the host and the effect hold at
//         once, not of what the C library keeps for reuse; it is printed with
//         the frame's budget (the output, the effect's own layer, the
//         textures with their tables, the four depth-of-field worlds when
//         used, and 64 MiB), the least processor time of a frame, and how
//         many pixels the surface draws (alpha above 0).
//     bench_frame --scaling SCENE DEPTH [ROUNDS] [RUN]
//         renders one scene on 1 and on 2 threads in turn, RUN frames in a
//         row (default 1) on each, ROUNDS times (default 10), and prints the
//         best frame of each and the ratio; the two outputs must be the same.
//         A run of a few frames measures the threads as a sequence render
//         keeps them: a pool whose worker slept through the other side's
//         frame may start its next frame slower.
//     bench_frame --allocations
//         the allocations of one frame of each scene at 192 x 108 and at
//         1920 x 1080: counts that do not grow with the pixels mean the pixel
//         passes allocate nothing per pixel (or per row).
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "headless/composition/SmartRenderHost.h"
#include "host/ParamIds.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#if defined(__GLIBC__)
#include <malloc.h>
#if defined(__linux__)
#include <sys/resource.h>
#endif
#endif
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// ---- allocation counting -------------------------------------------------------------
//
// Every operator new of the process is counted; the thread that drives the
// host marks itself so that allocations elsewhere (the worker threads) are
// counted apart.

namespace {
std::atomic<long> g_allocations{0};
std::atomic<long> g_workerAllocations{0};
thread_local bool t_driver = false;

void *countedAlloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (!t_driver) g_workerAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

void *operator new(std::size_t size) { return countedAlloc(size); }
void *operator new[](std::size_t size) { return countedAlloc(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace headless;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kTextureSize = 512, kCells = 8;
// Eye to image plane, and eye to the surface's centre, in pixels.
constexpr double kZoom = 1500.0;
constexpr double kEyeDistance = 1150.0;
// The point light relative to the surface's centre (x right, y down, z away
// from the eye): inside the near bowl, so that it lights the inner walls and
// the far bowl sees it through the near one.
constexpr double kLightX = 100.0, kLightY = -80.0, kLightZ = -600.0;
// "Radius Scale" that makes a = b = 30 with c = "Dist. from Center" = 100 on
// a square texture: a = c * scale * W / (2 pi H).
constexpr double kRadiusScale = 30.0 * 2.0 * 3.14159265358979323846;

std::vector<float> checker(int size, int cells) {
    std::vector<float> rgba;
    rgba.reserve(std::size_t(size) * size * 4);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool odd = ((x * cells / size) + (y * cells / size)) % 2 != 0;
            const float c = odd ? 0.15f : 0.9f;
            rgba.insert(rgba.end(), {c, c, odd ? 0.6f : 0.3f, 1.0f});
        }
    return rgba;
}

// The checker as an 8-bit file holds it, as photographs come.
std::vector<std::uint8_t> checker8(int size, int cells) {
    std::vector<std::uint8_t> rgba;
    rgba.reserve(std::size_t(size) * size * 4);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool odd = ((x * cells / size) + (y * cells / size)) % 2 != 0;
            const std::uint8_t c = odd ? 38 : 230;
            rgba.insert(rgba.end(), {c, c, std::uint8_t(odd ? 153 : 77), 255});
        }
    return rgba;
}

// An equirectangular sky over a dark ground, with bright stripes.
std::vector<float> sky(int width, int height) {
    std::vector<float> rgba;
    rgba.reserve(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float up = 1.0f - float(y) / float(height - 1);
            const bool stripe = (x * 8 / width) % 2 == 0 && y % 16 < 3;
            if (y < height / 2)
                rgba.insert(rgba.end(), {stripe ? 1.0f : 0.3f + 0.6f * up, 0.5f + 0.4f * up, 0.9f, 1.0f});
            else
                rgba.insert(rgba.end(), {0.35f, 0.2f, 0.1f, 1.0f});
        }
    return rgba;
}

enum Scene { kDefault, kPeer, kReflection, kDof, kPhoto, kSceneCount };
const char *const kSceneNames[kSceneCount] = {"default", "peer", "reflection", "dof", "photo"};

// The photo scene's texture is the size of a photograph, larger than the
// frame: its table is far larger than the peer's.
int textureSizeOf(Scene scene) { return scene == kPhoto ? 2048 : kTextureSize; }

Scene sceneNamed(const std::string &name) {
    for (int s = 0; s < kSceneCount; ++s)
        if (name == kSceneNames[s]) return Scene(s);
    throw std::invalid_argument("unknown scene " + name + " (default, peer, reflection, dof, photo)");
}

struct Stage {
    Composition comp;
    int effectLayer = 0, texture = -1, map = -1;
};

// The composition of `scene` at width x height (the frame scales with it:
// zoom, light and surface size keep their proportions to the width).
Stage stageOf(Scene scene, int width, int height) {
    const double k = double(width) / kWidth;
    Stage s;
    s.comp.width = width;
    s.comp.height = height;
    if (scene != kDefault) {
        const double cx = width / 2.0, cy = height / 2.0;
        Layer light = makeLight(s.comp, "Key", LightType::Point);
        light.transform.position = Vec3{cx + kLightX * k, cy + kLightY * k, kLightZ * k};
        light.light.intensity = 100.0;
        light.light.castsShadows = 1.0;
        s.comp.layers.push_back(std::move(light));
        Layer fill = makeLight(s.comp, "Fill", LightType::Ambient);
        fill.light.intensity = 20.0;
        s.comp.layers.push_back(std::move(fill));
        Layer camera = makeCamera(s.comp, "Camera");
        camera.transform.position = Vec3{cx, cy, -kEyeDistance * k};
        camera.camera.zoom = kZoom * k;
        camera.camera.focusDistance = (kEyeDistance - 400.0) * k;
        camera.camera.aperture = 60.0 * k;
        camera.camera.depthOfField = scene == kDof ? 1.0 : 0.0;
        s.comp.layers.push_back(std::move(camera));
        s.texture = int(s.comp.layers.size());
        FootageSource texture;
        texture.width = texture.height = textureSizeOf(scene);
        if (scene == kPhoto) texture.rgba8 = checker8(texture.width, kCells);
        else texture.rgba = checker(texture.width, kCells);
        s.comp.layers.push_back(makeFootage(s.comp, "Checker", std::move(texture)));
        s.comp.layers.back().video = false;
        if (scene == kReflection) {
            s.map = int(s.comp.layers.size());
            s.comp.layers.push_back(makeFootage(s.comp, "Sky", 1024, 512, sky(1024, 512)));
            s.comp.layers.back().video = false;
        }
    }
    s.effectLayer = int(s.comp.layers.size());
    s.comp.layers.push_back(makeSolid(s.comp, "Canvas", width, height, {1.0, 0.2, 0.2, 0.2}));
    return s;
}

void setParams(Scene scene, const Stage &s, EffectInstance &e, int width) {
    if (scene == kDefault) return;
    const double k = double(width) / kWidth;
    e.chooseLayer(PARAM_TEXTURE, s.texture);
    e.setParam(PARAM_DIST_FROM_CENTER, {100.0 * k});
    e.setParam(PARAM_RADIUS_SCALE, {kRadiusScale});
    e.setParam(PARAM_ROTATION_X, {0.0}); // the axis along the view: the surface fills the frame
    e.setParam(PARAM_SELF_SHADOW, {1.0});
    e.setParam(PARAM_LIGHT_TRANSMISSION, {30.0});
    e.setParam(PARAM_EMIT, {0.0});
    e.setParam(PARAM_DIFFUSE, {90.0});
    e.setParam(PARAM_SPECULAR, {40.0});
    e.setParam(PARAM_ROUGHNESS, {0.2});
    if (scene == kReflection) {
        e.chooseLayer(PARAM_REFLECTION_MAP, s.map);
        e.setParam(PARAM_METAL, {60.0});
        e.setParam(PARAM_REFLECTION_ROLLOFF, {20.0});
    }
    if (scene == kDof) {
        e.setParam(PARAM_DEPTH_OF_FIELD, {double(DOF_ON)});
        e.setParam(PARAM_BOOST_DOF_BLUR, {400.0});
    }
}

// The plug-in built with the benchmarks, or the one VELTRIX_BENCH_PLUGIN
// names (to compare another build's output and speed with the same host).
std::string pluginPath() {
    const char *other = std::getenv("VELTRIX_BENCH_PLUGIN");
    return other && *other ? other : VELTRIX_PLUGIN_PATH;
}

// The loaded plug-in set up on one scene, ready to render frames.
struct Rig {
    Rig(Scene scene, int threads, int width = kWidth, int height = kHeight)
        : stage(stageOf(scene, width, height)), plugin(pluginPath()), host(plugin, options(threads)) {
        // The composition moves into the effect instance: a copy would hold
        // every footage's pixels twice and count in the peak memory.
        effect = std::make_unique<EffectInstance>(host, std::move(stage.comp), stage.effectLayer);
        if (host.globalSetup() != PF_Err_NONE || host.paramsSetup() != PF_Err_NONE)
            throw std::runtime_error("the plug-in did not set up");
        setParams(scene, stage, *effect, width);
    }
    ~Rig() {
        host.globalSetdown();
        effect.reset();
    }
    static HostOptions options(int threads) {
        HostOptions o;
        o.threads = threads;
        return o;
    }
    RenderResult render(int depth) {
        RenderResult r = renderFrame(*effect, 0.0, depth, 1);
        if (!r.ok()) throw std::runtime_error("render failed with error " + std::to_string(r.err));
        return r;
    }

    Stage stage;
    Plugin plugin;
    Host host;
    std::unique_ptr<EffectInstance> effect;
};

// FNV-1a over the output's pixel bytes, row padding left out.
std::uint64_t hashOf(const HostWorld &world) {
    std::uint64_t h = 1469598103934665603ull;
    const std::size_t rowBytes = std::size_t(world.width()) * world.bytesPerPixel();
    for (A_long y = 0; y < world.height(); ++y) {
        const unsigned char *row = reinterpret_cast<const unsigned char *>(world.row(y));
        for (std::size_t i = 0; i < rowBytes; ++i) h = (h ^ row[i]) * 1099511628211ull;
    }
    return h;
}

// The output's pixels with any alpha: what the surface draws.
long drawnPixels(const RenderResult &frame) {
    long drawn = 0;
    for (A_long y = 0; y < frame.output->height(); ++y)
        for (A_long x = 0; x < frame.output->width(); ++x) drawn += frame.pixel(x, y).alpha > 0.0f;
    return drawn;
}

void writePpm(const RenderResult &frame, const std::string &path) {
    std::ofstream out(path, std::ios::binary);
    const A_long w = frame.output->width(), h = frame.output->height();
    out << "P6\n" << w << " " << h << "\n255\n";
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) {
            const PF_PixelFloat p = frame.pixel(x, y);
            for (float c : {p.red, p.green, p.blue}) {
                const float v = c * p.alpha; // over black
                out.put(char(v <= 0.0f ? 0 : v >= 1.0f ? 255 : int(v * 255.0f + 0.5f)));
            }
        }
}

struct Counted {
    long all, workers;
};

template <class F> Counted countAllocations(F &&f) {
    const long all0 = g_allocations.load(), workers0 = g_workerAllocations.load();
    f();
    return {g_allocations.load() - all0, g_workerAllocations.load() - workers0};
}

// ---- the peak-memory budget ---------------------------------------------------------

constexpr double kMiB = 1024.0 * 1024.0;

// Bytes of a world as the host allocates it (rows padded).
double worldBytes(int width, int height, int depth) {
    const double pixel = depth == 8 ? 4 : depth == 16 ? 8 : 16;
    const double row = std::ceil((width * pixel + HostWorld::kRowPadding) / 16.0) * 16.0;
    return row * height;
}

// A texture's pixels at the render depth and its summed-area table: four
// 32-bit words per entry for 8-bit textures, with the exact sums of every
// 256th row and column; four 64-bit sums otherwise.
double textureBytes(int width, int height, int depth) {
    const double entries = (width + 1.0) * (height + 1.0);
    const double table = depth == 8 ? entries * 16.0 + ((height / 256 + 1) * (width + 1.0) +
                                                         (width / 256 + 1) * (height + 1.0)) * 32.0
                                    : entries * 32.0;
    return worldBytes(width, height, depth) + table;
}

// What a frame of `scene` may hold at its peak: the output, the effect's own
// layer (checked out as its input, at the frame's size), the textures with
// their tables, the four depth-of-field worlds when used, and 64 MiB.
struct Budget {
    double output, layer, textures, dofWorlds;
    double total() const { return output + layer + textures + dofWorlds + 64.0 * kMiB; }
};
Budget budgetOf(Scene scene, int depth, int width, int height) {
    Budget b{worldBytes(width, height, depth), worldBytes(width, height, depth), 0.0, 0.0};
    if (scene != kDefault) b.textures += textureBytes(textureSizeOf(scene), textureSizeOf(scene), depth);
    if (scene == kReflection) b.textures += textureBytes(1024, 512, depth);
    if (scene == kDof) b.dofWorlds = 2 * worldBytes(width, height, depth) + 2 * worldBytes(width, height, 8);
    return b;
}

// The process's peak resident size so far, in bytes (0 where unknown).
double peakResidentBytes() {
#if defined(__linux__)
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return usage.ru_maxrss * 1024.0;
#endif
    return 0.0;
}

// Processor time the process has used so far (every thread), in seconds.
double processorSeconds() {
#if defined(__linux__)
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
#endif
    return 0.0;
}

// Takes "--size WxH" out of the arguments into width and height (false for
// a size that is not two positive whole numbers).
bool takeSize(int &argc, char **argv, int &width, int &height) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") != 0) continue;
        char end = 0;
        if (i + 1 >= argc || std::sscanf(argv[i + 1], "%dx%d%c", &width, &height, &end) != 2 || width <= 0 ||
            height <= 0)
            return false;
        std::copy(argv + i + 2, argv + argc, argv + i);
        argc -= 2;
        return true;
    }
    return true;
}

int frameCommand(int argc, char **argv) {
    int width = kWidth, height = kHeight;
    if (!takeSize(argc, argv, width, height) || argc < 5) {
        std::fprintf(stderr, "usage: bench_frame --frame SCENE DEPTH THREADS [REPEATS] [out.ppm] [--size WxH]\n");
        return 2;
    }
    t_driver = true;
#if defined(M_MMAP_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    const Scene scene = sceneNamed(argv[2]);
    const int depth = std::atoi(argv[3]), threads = std::atoi(argv[4]);
    const int repeats = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    Rig rig(scene, threads, width, height);
    double best = 1e30, leastProcessor = 1e30;
    std::uint64_t hash = 0;
    long drawn = 0;
    Counted allocations{};
    CommandRecord smartRender;
    for (int i = 0; i < repeats; ++i) {
        RenderResult frame;
        const auto start = std::chrono::steady_clock::now();
        const double processorStart = processorSeconds();
        allocations = countAllocations([&] { frame = rig.render(depth); });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        leastProcessor = std::min(leastProcessor, processorSeconds() - processorStart);
        if (seconds < best) smartRender = rig.host.last();
        best = std::min(best, seconds);
        // The last frame's hash and drawn pixels (every frame gives the
        // same), so that N frames cost N renders and one hash: a count of
        // instructions over 2 frames less 1 frame is then one render's.
        if (i == repeats - 1) {
            hash = hashOf(*frame.output);
            drawn = drawnPixels(frame);
        }
        if (i == 0 && argc > 6) writePpm(frame, argv[6]);
    }
    std::printf("scene %s depth %d threads %d: best of %d %.4f s, hash %016llx, allocations %ld "
                "(worker threads %ld)\n",
                argv[2], depth, threads, repeats, best, static_cast<unsigned long long>(hash),
                allocations.all, allocations.workers);
    std::printf("  of the best frame (%d x %d): smart render command %.4f s", width, height, smartRender.seconds);
    for (const PassTiming &pass : smartRender.passes)
        std::printf(", pass of %ld pixels %.4f s", static_cast<long>(pass.iterations), pass.seconds);
    // Processor time of all threads: the frame's work, less swayed than the
    // wall clock by other work on the machine.
    std::printf("; least processor time of a frame %.4f s\n", leastProcessor);
    const Budget budget = budgetOf(scene, depth, width, height);
    std::printf("  peak resident %.1f MiB, budget %.1f MiB (output %.1f, effect's layer %.1f, textures with "
                "tables %.1f, depth-of-field worlds %.1f, and 64)\n",
                peakResidentBytes() / kMiB, budget.total() / kMiB, budget.output / kMiB, budget.layer / kMiB,
                budget.textures / kMiB, budget.dofWorlds / kMiB);
    const long pixels = long(width) * height;
    std::printf("  drawn pixels %ld of %ld (%.1f %%): alpha above 0\n", drawn, pixels, 100.0 * drawn / pixels);
    return 0;
}

// One scene on 1 and on 2 threads, frame after frame in turn (so that both
// see the machine in the same state), the best of each and their ratio.
int scalingCommand(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_frame --scaling SCENE DEPTH [ROUNDS] [RUN]\n");
        return 2;
    }
    t_driver = true;
    const Scene scene = sceneNamed(argv[2]);
    const int depth = std::atoi(argv[3]);
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 10;
    const int run = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    Rig one(scene, 1), two(scene, 2);
    double best[2] = {1e30, 1e30};
    std::uint64_t hashes[2] = {0, 0};
    for (int i = 0; i < rounds; ++i)
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < run; ++j) {
                Rig &rig = k == 0 ? one : two;
                const auto start = std::chrono::steady_clock::now();
                const RenderResult frame = rig.render(depth);
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                best[k] = std::min(best[k], seconds);
                hashes[k] = hashOf(*frame.output);
            }
    std::printf("scene %s depth %d, best of %d frames each (%d in a row): 1 thread %.4f s, 2 threads %.4f s: "
                "%.3fx%s\n",
                argv[2], depth, rounds * run, run, best[0], best[1], best[0] / best[1],
                hashes[0] == hashes[1] ? "" : " (the outputs differ!)");
    return hashes[0] == hashes[1] ? 0 : 1;
}

int allocationsCommand() {
    t_driver = true;
    int failures = 0;
    for (int s = 0; s < kSceneCount; ++s)
        for (int depth : {8, 16, 32}) {
            long counts[2];
            long workers = 0;
            for (int big = 0; big < 2; ++big) {
                const int w = big ? kWidth : kWidth / 10, h = big ? kHeight : kHeight / 10;
                Rig rig(Scene(s), 2, w, h);
                rig.render(depth); // first frame: lazily built host state
                const Counted c = countAllocations([&] { rig.render(depth); });
                counts[big] = c.all;
                workers += c.workers;
            }
            // One allocation per row would add 972, one per pixel two million;
            // a handful comes and goes with when the host drops stale tables.
            const bool ok = std::labs(counts[1] - counts[0]) < 100;
            failures += !ok;
            std::printf("%-10s %2d bits: %ld allocations at 192x108, %ld at 1920x1080 (%ld on worker "
                        "threads)%s\n",
                        kSceneNames[s], depth, counts[0], counts[1], workers, ok ? "" : "  <- grows with pixels");
        }
    std::printf("Allocations on worker threads are the host's summed-area tables: made on the first\n"
                "sample of a pass by whichever thread takes it, or for large worlds (the depth-of-field\n"
                "layers) row by row as samples reach the rows, their memory a chunk of rows at a time.\n");
    return failures ? 1 : 0;
}

void BM_Frame(benchmark::State &state) {
    t_driver = true;
    const Scene scene = Scene(state.range(0));
    const int depth = int(state.range(1)), threads = int(state.range(2));
    Rig rig(scene, threads);
    for (auto _ : state) {
        RenderResult frame = rig.render(depth);
        benchmark::DoNotOptimize(frame.output.get());
    }
    state.SetLabel(std::string(kSceneNames[scene]) + " " + std::to_string(depth) + "-bit " +
                   std::to_string(threads) + " thread" + (threads > 1 ? "s" : ""));
    state.counters["Mpixel/s"] = benchmark::Counter(double(state.iterations()) * kWidth * kHeight / 1e6,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Frame)
    ->ArgNames({"scene", "depth", "threads"})
    ->ArgsProduct({{kDefault, kPeer, kReflection, kDof, kPhoto}, {8, 16, 32}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    try {
        if (argc > 1 && std::strcmp(argv[1], "--frame") == 0) return frameCommand(argc, argv);
        if (argc > 1 && std::strcmp(argv[1], "--allocations") == 0) return allocationsCommand();
        if (argc > 1 && std::strcmp(argv[1], "--scaling") == 0) return scalingCommand(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_frame: %s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
