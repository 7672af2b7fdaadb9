// Fuzz target: the scene-file loader. Each input is the text of a scene file.
// Loading must either give a scene the composition model accepts or throw a
// SceneError naming the file, a place and a reason - never crash, hang, trip
// a sanitizer or throw anything else. A small scene that loads is also
// rendered, so that whatever the loader lets through reaches the effect.
//
// Footage comes from a stand-in image reader: "*.bad" names are unreadable,
// anything else is a small image whose size follows the name's length.
#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/ParamCatalog.h"
#include "headless/composition/SceneFile.h"
#include "headless/composition/SmartRenderHost.h"
#include "host/Handlers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

namespace {

using namespace headless;

// The effect's parameters as it registers them, read once.
const ParamCatalog &catalog() {
    static const ParamCatalog read = [] {
        Host host(&EntryPointFunc);
        EffectInstance instance(host, Composition{}, -1);
        if (host.globalSetup() || host.paramsSetup()) std::abort();
        ParamCatalog catalog = ParamCatalog::fromParams(host.params());
        host.globalSetdown();
        return catalog;
    }();
    return read;
}

bool readImage(const std::string &path, FootageSource &out, std::string &error) {
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".bad") == 0) {
        error = "unreadable";
        return false;
    }
    out.width = 1 + int(path.size() % 5);
    out.height = 1 + int(path.size() % 3);
    out.rgba.assign(std::size_t(out.width) * out.height * 4, 0.5f);
    return true;
}

// Small enough to render on every input.
bool smallScene(const Composition &comp) {
    if (comp.width > 64 || comp.height > 64) return false;
    for (const Layer &layer : comp.layers) {
        if (layer.type == LayerType::Solid || layer.type == LayerType::Null)
            if (layer.solid.width > 64 || layer.solid.height > 64) return false;
        if (layer.type == LayerType::Footage && layer.footage.width * layer.footage.height > 4096)
            return false;
    }
    return comp.layers.size() <= 16;
}

void renderFirstEffect(const Scene &scene) {
    if (scene.effects.empty() || !smallScene(scene.composition)) return;
    HostOptions options;
    options.threads = 1;
    Host host(&EntryPointFunc, options);
    {
        EffectInstance effect(host, scene.composition, scene.effects.front().layer);
        if (host.globalSetup() || host.paramsSetup()) std::abort();
        applySceneEffect(scene.effects.front(), effect);
        // At most about 8 x 8 pixels: what matters here is that whatever
        // the loader lets through reaches the effect (the parameter target
        // fuzzes the pixels), and a smaller frame is many more inputs a second.
        const int side = std::max(scene.composition.width, scene.composition.height);
        const RenderResult frame = renderFrame(effect, 0.0, 8, std::max(1, (side + 7) / 8));
        (void)frame;
        if (host.last().threw) std::abort();
        host.globalSetdown();
    }
    if (!host.ledger().empty()) {
        std::fprintf(stderr, "%s", host.ledger().report().c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(bytes), size);
    Scene scene;
    try {
        scene = parseScene(text, "fuzz.json", ".", catalog(), readImage);
    } catch (const SceneError &e) {
        // Every refusal names the file and gives a reason.
        if (e.file() != "fuzz.json" || e.reason().empty()) std::abort();
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "the loader threw something other than a SceneError: %s\n", e.what());
        std::abort();
    }
    // What loads is a model the host accepts.
    const std::vector<std::string> problems = validate(scene.composition);
    if (!problems.empty()) {
        std::fprintf(stderr, "loaded an invalid composition: %s\n", problems.front().c_str());
        std::abort();
    }
    renderFirstEffect(scene);
    return 0;
}
