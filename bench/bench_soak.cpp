// A long run in one process: frames of a scene rendered one after another by
// veltrix-render's own loop (FrameRenderer), the frame number wrapping over
// the composition's frames, with the process's resident size read after
// frames 10, 100, 1000 and the last, and the host's ledger after the effect's
// set-down. A host that keeps something per frame shows it here as growth.
//
//     bench_soak [--edit] [--frames N] [--downsample D] [--depth B] [--threads T] [SCENE]
//
// SCENE defaults to examples/animated.json, N to 2000, D to 4, B to 8, T to
// 2. --edit changes the composition between frames as a user scrubbing a
// slider does: the effect's "Dist. from Center" and the fill light's
// intensity take a new value each frame (the edit lets the layer pixels kept
// from the last frame go, so they are made again). Exits 1 when the resident
// size grew by more than 1 MiB after frame 10, or the ledger is not empty.
//
// Thread safety: a program of one driving thread (the render uses the pool).
#include "headless/boundary/Plugin.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "host/ParamIds.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The process's resident size now, in bytes (0 where unknown).
double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0.0;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

struct Settings {
    std::string scene = VELTRIX_SOURCE_DIR "/examples/animated.json";
    long frames = 2000;
    int downsample = 4, depth = 8, threads = 2;
    bool edit = false;
};

bool parse(int argc, char **argv, Settings &s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--edit") s.edit = true;
        else if (arg == "--frames" && hasValue) s.frames = std::atol(argv[++i]);
        else if (arg == "--downsample" && hasValue) s.downsample = std::atoi(argv[++i]);
        else if (arg == "--depth" && hasValue) s.depth = std::atoi(argv[++i]);
        else if (arg == "--threads" && hasValue) s.threads = std::atoi(argv[++i]);
        else if (!arg.empty() && arg[0] != '-') s.scene = arg;
        else return false;
    }
    return s.frames >= 1 && s.downsample >= 1 && s.threads >= 1 &&
           (s.depth == 8 || s.depth == 16 || s.depth == 32);
}

// The layer named `name`, or -1.
int layerNamed(const headless::Composition &comp, const std::string &name) {
    for (std::size_t i = 0; i < comp.layers.size(); ++i)
        if (comp.layers[i].shownName() == name) return int(i);
    return -1;
}

// The edit of frame `i`: a slider moved and a light turned, both in range.
void editBetweenFrames(veltrix_render::FrameRenderer &renderer, long i, int fillLight) {
    headless::EffectInstance &effect = renderer.effect();
    effect.setParam(PARAM_DIST_FROM_CENTER, {40.0 + double(i % 25)});
    headless::Composition &comp = effect.editComposition();
    if (fillLight >= 0) comp.layers[std::size_t(fillLight)].light.intensity = 20.0 + double(i % 17);
}

int soak(const Settings &s) {
    const headless::Plugin plugin(VELTRIX_PLUGIN_PATH);
    const headless::ParamCatalog catalog = veltrix_render::readParamCatalog(plugin);
    headless::Scene scene = headless::loadSceneFile(s.scene, catalog, veltrix_render::readImage);
    const headless::SceneEffect *effect = scene.effectOn("");
    if (!effect) {
        std::fprintf(stderr, "bench_soak: %s has no Veltrix effect\n", s.scene.c_str());
        return 2;
    }
    const double rate = scene.composition.frameRate > 0 ? scene.composition.frameRate : 24.0;
    const long compFrames = std::max(1L, long(scene.composition.duration * rate));
    const int fillLight = layerNamed(scene.composition, "Fill");
    veltrix_render::FrameRenderer renderer(plugin, std::move(scene.composition), *effect, s.threads, s.depth,
                                           s.downsample);

    std::printf("%s: %ld frames at downsample %d, %d bits, %d threads%s\n", s.scene.c_str(), s.frames,
                s.downsample, s.depth, s.threads, s.edit ? ", edited between frames" : "");
    const std::vector<long> marks = {10, 100, 1000, s.frames};
    double atTen = 0.0, last = 0.0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 1; i <= s.frames; ++i) {
        if (s.edit) editBetweenFrames(renderer, i, fillLight);
        renderer.render(double((i - 1) % compFrames) / rate);
        if (std::find(marks.begin(), marks.end(), i) == marks.end()) continue;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        last = residentBytes();
        if (i == 10) atTen = last;
        std::printf("  after frame %5ld: resident %8.2f MiB (%+.3f MiB since frame 10), %.1f s\n", i,
                    last / 1048576.0, atTen > 0 ? (last - atTen) / 1048576.0 : 0.0, seconds);
        std::fflush(stdout);
        if (i == s.frames) break; // the last mark may repeat an earlier one
    }
    std::string ledger = renderer.setDown();
    while (!ledger.empty() && ledger.back() == '\n') ledger.pop_back();
    std::printf("  ledger after set-down: %s\n", ledger.c_str());
    const double growth = atTen > 0 ? last - atTen : 0.0;
    const bool flat = growth <= 1048576.0, empty = ledger == "ledger empty";
    std::printf("  growth after frame 10: %.3f MiB (at most 1 MiB): %s\n", growth / 1048576.0,
                flat && empty ? "ok" : "FAILED");
    return flat && empty ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: bench_soak [--edit] [--frames N] [--downsample D] [--depth 8|16|32] "
                             "[--threads T] [SCENE]\n");
        return 2;
    }
    try {
        return soak(settings);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_soak: %s\n", e.what());
        return 1;
    }
}
