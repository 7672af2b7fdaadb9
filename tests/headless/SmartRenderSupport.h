// What the smart-render tests share: the loaded plug-in on a small
// composition, and the one conversion rule from float to the integer depths.
#pragma once

#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "headless/composition/SmartRenderHost.h"
#include "host/ParamIds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <memory>
#include <vector>

namespace smart_render_test {

using namespace headless;

inline bool IsEmpty(const PF_LRect &r) { return r.left >= r.right || r.top >= r.bottom; }

// A composition of `width` x `height` whose only layer, a grey solid of the
// same size, carries the effect.
inline Composition soloComposition(int width = 96, int height = 64) {
    Composition comp;
    comp.width = width;
    comp.height = height;
    comp.layers.push_back(makeSolid(comp, "Canvas", width, height, {1.0, 0.5, 0.5, 0.5}));
    return comp;
}

// A checker texture: `cells` x `cells` squares alternating between two
// opaque colours, straight float RGBA as footage takes it.
inline std::vector<float> checker(int width, int height, int cells) {
    std::vector<float> rgba;
    rgba.reserve(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool odd = ((x * cells / width) + (y * cells / height)) % 2 != 0;
            const float light[4] = {0.95f, 0.85f, 0.3f, 1.0f};
            const float dark[4] = {0.1f, 0.2f, 0.6f, 1.0f};
            rgba.insert(rgba.end(), odd ? dark : light, (odd ? dark : light) + 4);
        }
    return rgba;
}

// The loaded plug-in on `comp` (the effect on layer `effectLayer`), set up
// and parameters registered; set down again when the fixture ends.
struct LoadedEffect {
    explicit LoadedEffect(Composition comp, int effectLayer = 0, int threads = 0)
        : plugin(VELTRIX_PLUGIN_PATH), host(plugin, options(threads)),
          effect(std::make_unique<EffectInstance>(host, std::move(comp), effectLayer)) {
        setupErr = host.globalSetup();
        if (setupErr == PF_Err_NONE) setupErr = host.paramsSetup();
    }
    ~LoadedEffect() {
        host.globalSetdown();
        effect.reset();
    }

    static HostOptions options(int threads) {
        HostOptions o;
        o.threads = threads;
        return o;
    }

    RenderResult render(int depth, int downsample = 1, double t = 0.0) {
        return renderFrame(*effect, t, depth, downsample);
    }

    Plugin plugin;
    Host host;
    std::unique_ptr<EffectInstance> effect;
    PF_Err setupErr = PF_Err_NONE;
};

// What the host's ledger shows the effect holding beyond its global data
// (one live, locked handle between global set-up and set-down), and every
// problem recorded; empty when there is nothing.
inline std::string heldBeyondGlobalData(const Ledger &ledger) {
    std::map<std::string, long> held = ledger.outstanding();
    for (std::string_view counter : {Ledger::kLiveHandles, Ledger::kLockedHandles}) {
        auto it = held.find(std::string(counter));
        if (it != held.end() && --it->second == 0) held.erase(it);
    }
    std::string text;
    for (const auto &[counter, count] : held) text += counter + ": " + std::to_string(count) + "\n";
    for (const std::string &problem : ledger.problems()) text += problem + "\n";
    return text;
}

// The system's one rule from float to an integer depth: scale in single
// precision, clamp to [0, full], truncate; NaN stores 0.
inline std::uint16_t toInteger(float value, float full) {
    const float scaled = value * full;
    if (scaled > full) return static_cast<std::uint16_t>(full);
    if (!(scaled >= 0.0f)) return 0;
    return static_cast<std::uint16_t>(scaled);
}

// Pixels of `world` that still hold the garbage the host filled it with,
// byte for byte.
inline long untouchedPixels(const HostWorld &world) {
    const HostWorld fresh(world.depth(), 1, 1, WorldFill::Garbage);
    const std::size_t size = world.bytesPerPixel();
    long n = 0;
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < world.width(); ++x)
            n += std::memcmp(world.row(y) + std::size_t(x) * size, fresh.row(0), size) == 0;
    return n;
}

// Whether two worlds hold the same bytes in every pixel (row padding aside).
inline bool samePixels(const HostWorld &a, const HostWorld &b) {
    if (a.depth() != b.depth() || a.width() != b.width() || a.height() != b.height()) return false;
    const std::size_t rowBytes = std::size_t(a.width()) * a.bytesPerPixel();
    for (A_long y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), rowBytes) != 0) return false;
    return true;
}

} // namespace smart_render_test
