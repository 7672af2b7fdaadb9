// Fuzz target: every value the effect reads from its host. Each input sets
// the effect's parameters to arbitrary raw values (within and far outside
// their ranges: any 16.16 number, any popup choice, any double for the float
// slider, NaN and infinities included), picks arbitrary layers for the layer
// parameters, and gives the composition's camera and lights arbitrary stream
// values and transforms (NaN and infinities included). Then the host sends
// the parameter UI commands and renders a small frame in a random depth.
//
// Nothing may crash, hang, trip a sanitizer, throw out of the entry point or
// leave anything checked out.
#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/composition/SmartRenderHost.h"
#include "host/Handlers.h"
#include "host/ParamIds.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace headless;

constexpr int kWidth = 8, kHeight = 6;

// The composition, top first.
enum LayerIndex { kLightA, kLightB, kCamera, kTexture, kControl, kEffect, kLayerCount };

std::vector<float> ramp(int width, int height) {
    std::vector<float> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(), {float(x) / float(width), float(y) / float(height), 0.5f,
                                     (x + y) % 3 ? 1.0f : 0.5f});
    return rgba;
}

Composition makeComposition() {
    Composition comp;
    comp.width = kWidth;
    comp.height = kHeight;
    comp.layers.push_back(makeLight(comp, "A", LightType::Spot));
    comp.layers.push_back(makeLight(comp, "B", LightType::Point));
    comp.layers.push_back(makeCamera(comp, "Camera"));
    comp.layers.push_back(makeFootage(comp, "Texture", 6, 4, ramp(6, 4)));
    comp.layers.back().video = false;
    comp.layers.push_back(makeNull(comp, "Control"));
    comp.layers.push_back(makeSolid(comp, "Canvas", kWidth, kHeight, {1, 0.2, 0.3, 0.4}));
    return comp;
}

// The loaded effect with its global data, set up afresh for every input:
// nothing carries over from one input to the next, so a finding reproduces on
// its own, and every input gives back all the memory it took (libFuzzer's
// leak check then stays quiet instead of scanning the heap on every input).
struct Fixture {
    Fixture() {
        static const Composition pristine = makeComposition();
        HostOptions options;
        options.threads = 1;
        host = std::make_unique<Host>(&EntryPointFunc, options);
        effect = std::make_unique<EffectInstance>(*host, pristine, kEffect);
        if (host->globalSetup() || host->paramsSetup()) {
            std::fprintf(stderr, "set-up failed: %s\n", host->last().thrown.c_str());
            std::abort();
        }
        held = host->ledger().outstanding();
    }
    std::unique_ptr<Host> host;
    std::unique_ptr<EffectInstance> effect;
    std::map<std::string, long> held; // the global data
};

// Mostly ordinary numbers, sometimes any bit pattern.
double streamValue(FuzzInput &data) {
    switch (data.consumeIntegralInRange(0, 3)) {
    case 0: return data.consumeAnyDouble();
    case 1: return data.consumeDoubleInRange(-1000.0, 1000.0);
    case 2: return double(data.consumeIntegral<std::int16_t>());
    default: return data.consumeFiniteDouble();
    }
}

Vec3 anyVec3(FuzzInput &data) {
    const double x = streamValue(data), y = streamValue(data), z = streamValue(data);
    return {x, y, z};
}

// A raw 16.16 value as the host's track value that reproduces it exactly.
double rawFixed(FuzzInput &data) { return data.consumeIntegral<std::int32_t>() / 65536.0; }

void fuzzParameters(FuzzInput &data, EffectInstance &effect, ParamArray &params) {
    for (PF_ParamIndex i = 1; i < params.count(); ++i) {
        if (!data.consumeBool()) {
            effect.clearParam(i);
            continue;
        }
        switch (params.at(i).param_type) {
        case PF_Param_FIX_SLIDER:
        case PF_Param_ANGLE: effect.setParam(i, {rawFixed(data)}); break;
        case PF_Param_FLOAT_SLIDER: effect.setParam(i, {streamValue(data)}); break;
        case PF_Param_SLIDER:
        case PF_Param_POPUP:
        case PF_Param_CHECKBOX:
            effect.setParam(i, {double(data.consumeIntegral<std::int32_t>())});
            break;
        case PF_Param_COLOR: {
            const double a = data.consumeIntegral<std::uint8_t>();
            const double r = data.consumeIntegral<std::uint8_t>();
            const double g = data.consumeIntegral<std::uint8_t>();
            const double b = data.consumeIntegral<std::uint8_t>();
            effect.setParam(i, {a, r, g, b});
            break;
        }
        case PF_Param_POINT: {
            const double x = rawFixed(data), y = rawFixed(data);
            effect.setParam(i, {x, y});
            break;
        }
        case PF_Param_LAYER:
            effect.chooseLayer(i, data.consumeIntegralInRange(-1, int(kLayerCount) - 1));
            break;
        default: break;
        }
    }
}

void fuzzTransform(FuzzInput &data, Transform &transform) {
    if (!data.consumeBool()) return;
    transform.position = anyVec3(data);
    transform.anchorPoint = anyVec3(data);
    transform.scale = anyVec3(data);
    transform.orientation = anyVec3(data);
    transform.rotationX = streamValue(data);
    transform.rotationY = streamValue(data);
    transform.rotationZ = streamValue(data);
    transform.hasPointOfInterest = data.consumeBool();
    transform.pointOfInterest = anyVec3(data);
}

void fuzzLight(FuzzInput &data, Layer &layer) {
    fuzzTransform(data, layer.transform);
    if (!data.consumeBool()) return;
    LightStreams &light = layer.light;
    light.type = static_cast<LightType>(data.consumeIntegralInRange(-1, 5));
    light.intensity = streamValue(data);
    light.color = ColorValue{streamValue(data), streamValue(data), streamValue(data),
                             streamValue(data)};
    light.coneAngle = streamValue(data);
    light.coneFeather = streamValue(data);
    light.shadowDarkness = streamValue(data);
    light.shadowDiffusion = streamValue(data);
    light.castsShadows = streamValue(data);
    layer.video = data.consumeBool();
}

void fuzzCamera(FuzzInput &data, Layer &layer) {
    fuzzTransform(data, layer.transform);
    if (!data.consumeBool()) return;
    CameraStreams &camera = layer.camera;
    camera.type = static_cast<CameraType>(data.consumeIntegralInRange(-1, 2));
    camera.zoom = streamValue(data);
    camera.depthOfField = streamValue(data);
    camera.focusDistance = streamValue(data);
    camera.aperture = streamValue(data);
    camera.blurLevel = streamValue(data);
    layer.video = data.consumeBool();
}

[[noreturn]] void fail(const char *what, const Host &host) {
    std::fprintf(stderr, "%s\n%s%s\n", what, host.last().thrown.c_str(),
                 const_cast<Host &>(host).ledger().report().c_str());
    std::abort();
}

// After every command the effect holds its global data and nothing else, and
// nothing was thrown out of the entry point.
void checkAfter(const char *command, Fixture &f) {
    if (f.host->last().threw) fail(command, *f.host);
    if (f.host->ledger().outstanding() != f.held || !f.host->ledger().problems().empty())
        fail(command, *f.host);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    Fixture f;
    FuzzInput data(bytes, size);
    EffectInstance &effect = *f.effect;

    Composition &comp = effect.editComposition();
    fuzzLight(data, comp.layers[kLightA]);
    fuzzLight(data, comp.layers[kLightB]);
    fuzzCamera(data, comp.layers[kCamera]);
    fuzzTransform(data, comp.layers[kControl].transform);
    if (data.consumeBool())
        comp.pixelAspect = Ratio{data.consumeIntegralInRange<long>(-2, 8),
                                 data.consumeIntegralInRange<unsigned long>(0, 8)};
    fuzzParameters(data, effect, f.host->params());

    f.host->updateParamsUI();
    checkAfter("parameter UI update", f);
    f.host->userChangedParam(PARAM_CONTROL_LAYER);
    checkAfter("changed control layer", f);

    const int depths[] = {8, 16, 32};
    const int depth = depths[data.consumeIntegralInRange(0, 2)];
    const int downsample = data.consumeIntegralInRange(1, 3);
    const RenderResult frame = renderFrame(effect, 0.0, depth, downsample);
    (void)frame;
    checkAfter("render", f);

    f.host->globalSetdown();
    if (f.host->last().threw || !f.host->ledger().empty()) fail("global set-down", *f.host);
    return 0;
}
