#include "tests/reliability/Scenarios.h"

#include "headless/composition/SmartRenderHost.h"
#include "host/GlobalData.h"
#include "host/ParamIds.h"

#include <cmath>
#include <cstring>
#include <string>

namespace reliability {

using headless::Composition;
using headless::EffectInstance;
using headless::Host;
namespace service = headless::service;

namespace {

// ---- what a sequence leaves behind ------------------------------------------------

template <class T> void append(std::string &bytes, const T &value) {
    bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void appendText(std::string &bytes, const std::string &text) {
    bytes += text;
    bytes += '\0';
}

// Global set-up: what the host learns from out_data, and whether the effect
// got a plug-in id of its own.
Observation observeGlobalSetup(Session &s) {
    Observation seen;
    const PF_OutData &out = *s.host().outData();
    append(seen.bytes, out.my_version);
    append(seen.bytes, out.out_flags);
    append(seen.bytes, out.out_flags2);
    const GlobalData *global = GlobalData::fromHandle(s.host().inData()->global_data);
    append(seen.bytes, global != nullptr);
    append(seen.bytes, global && s.effect().isRegistered(global->pluginID));
    return seen;
}

// The host's parameter array as the effect registered it, field by field (no
// padding bytes).
Observation observeParams(Session &s) {
    Observation seen;
    headless::ParamArray &params = s.host().params();
    append(seen.bytes, params.count());
    append(seen.bytes, s.host().inData()->num_params);
    for (PF_ParamIndex i = 0; i < params.count(); ++i) {
        const PF_ParamDef &def = params.at(i);
        append(seen.bytes, def.uu.id);
        append(seen.bytes, def.ui_flags);
        append(seen.bytes, def.param_type);
        appendText(seen.bytes, std::string(def.name, strnlen(def.name, sizeof def.name)));
        append(seen.bytes, def.flags);
        // A layer record carries the host's own pointers; only its default is the effect's.
        if (def.param_type == PF_Param_LAYER)
            append(seen.bytes, def.u.ld.dephault);
        else
            append(seen.bytes, def.u);
    }
    return seen;
}

// The Effect Controls as the user sees them, and the hidden slider's stream.
Observation observeControls(Session &s) {
    Observation seen;
    headless::ParamArray &params = s.host().params();
    for (PF_ParamIndex i = 0; i < params.count(); ++i) append(seen.bytes, params.at(i).ui_flags);
    append(seen.bytes, s.effect().streamFlags(PARAM_CONTROL_WATCH));
    appendText(seen.bytes, s.effect().expression(PARAM_CONTROL_WATCH).value_or("(none)"));
    for (const headless::Layer &layer : s.effect().composition().layers)
        appendText(seen.bytes, layer.name);
    return seen;
}

// A rendered frame: every output pixel in float (exact for every depth). A
// pixel the effect did not write still holds the host's garbage, which is
// NaN in float and above full intensity in 16 bits.
Observation observeFrame(const headless::RenderResult &frame) {
    Observation seen;
    if (!frame.output) {
        seen.defect = "no output world";
        return seen;
    }
    const headless::HostWorld &world = *frame.output;
    const bool isFloat = world.depth() == headless::PixelDepth::Float;
    const bool is16 = world.depth() == headless::PixelDepth::Sixteen;
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < world.width(); ++x) {
            const PF_PixelFloat p = frame.pixel(x, y);
            append(seen.bytes, p);
            if (!seen.defect.empty()) continue;
            for (float c : {p.alpha, p.red, p.green, p.blue}) {
                if ((isFloat && !std::isfinite(c)) || (is16 && c > 1.0f))
                    seen.defect = "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                  ") holds " + std::to_string(c);
            }
        }
    return seen;
}


Outcome command(PF_Err err, Observation seen) { return Outcome{err, std::move(seen)}; }

// ---- compositions ------------------------------------------------------------------

constexpr int kWidth = 32, kHeight = 24;

std::vector<float> checker(int width, int height) {
    std::vector<float> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool odd = ((x * 4 / width) + (y * 4 / height)) % 2 != 0;
            const float c[4] = {odd ? 0.1f : 0.9f, 0.5f, odd ? 0.8f : 0.2f, odd ? 1.0f : 0.6f};
            rgba.insert(rgba.end(), c, c + 4);
        }
    return rgba;
}

// The layers a frame is made of, top first; the solid that carries the
// effect comes last.
struct Stage {
    Composition comp;
    int effectLayer = -1, texture = -1, sky = -1, camera = -1;
};

Stage makeStage(bool lights, bool camera) {
    Stage stage;
    Composition &comp = stage.comp;
    comp.width = kWidth;
    comp.height = kHeight;
    if (lights) {
        headless::Layer key = headless::makeLight(comp, "Key", headless::LightType::Point);
        key.transform.position = headless::Vec3{4.0, -8.0, -20.0};
        key.light.castsShadows = 1.0;
        comp.layers.push_back(key);
        headless::Layer spot = headless::makeLight(comp, "Spot", headless::LightType::Spot);
        spot.light.coneAngle = 60.0;
        comp.layers.push_back(spot);
    }
    if (camera) {
        stage.camera = int(comp.layers.size());
        headless::Layer cam = headless::makeCamera(comp, "Camera");
        cam.camera.depthOfField = 1.0;
        cam.camera.focusDistance = 30.0;
        cam.camera.aperture = 40.0;
        comp.layers.push_back(cam);
    }
    stage.texture = int(comp.layers.size());
    comp.layers.push_back(headless::makeFootage(comp, "Checker", 24, 12, checker(24, 12)));
    comp.layers.back().video = false;
    stage.sky = int(comp.layers.size());
    comp.layers.push_back(headless::makeFootage(comp, "Sky", 16, 8, checker(16, 8)));
    comp.layers.back().video = false;
    stage.effectLayer = int(comp.layers.size());
    comp.layers.push_back(headless::makeSolid(comp, "Canvas", kWidth, kHeight, {1, 0.2, 0.2, 0.2}));
    return stage;
}

// Both bowls in view, tilted so that the camera sees into one and onto the other.
void placeSurface(EffectInstance &effect) {
    effect.setParam(PARAM_DIST_FROM_CENTER, {3.0});
    effect.setParam(PARAM_ROTATION_X, {-70.0});
    effect.setParam(PARAM_ROTATION_Y, {20.0});
}

// A layer that shows its source's name (so that choosing it renames it) and a
// named null, under the effect's layer.
Composition uiComposition() {
    Composition comp;
    comp.width = kWidth;
    comp.height = kHeight;
    comp.layers.push_back(headless::makeSolid(comp, "Surface", kWidth, kHeight, {}));
    comp.layers.push_back(headless::makeSolid(comp, "Pale Blue Solid 1", 8, 8, {}));
    comp.layers.back().name.clear();
    comp.layers.push_back(headless::makeNull(comp, "Handle"));
    return comp;
}

PF_Err setUp(Session &s) {
    if (PF_Err err = s.host().globalSetup()) return err;
    return s.host().paramsSetup();
}

bool wrapperSuite(std::string_view suite) {
    constexpr std::string_view kWrapperSuites[] = {
        "AEGP Comp Suite",         "AEGP Layer Suite",      "AEGP Stream Suite",
        "AEGP Effect Suite",       "AEGP Item Suite",       "AEGP Camera Suite",
        "AEGP Light Suite",        "AEGP PF Interface Suite", "PF Path Query Suite",
        "AEGP Layer Mask Suite",   "AEGP Dynamic Stream Suite", "AEGP Keyframe Suite",
        "AEGP Memory Suite"};
    for (std::string_view name : kWrapperSuites)
        if (name == suite) return true;
    return false;
}

// ---- the sequences ------------------------------------------------------------------

Scenario globalSetupScenario() {
    Scenario s;
    s.name = "global set-up";
    s.comp = uiComposition();
    s.act = [](Session &session) {
        const PF_Err err = session.host().globalSetup();
        return command(err, observeGlobalSetup(session));
    };
    s.actIsGlobalSetup = true;
    // A refused registration leaves the effect unregistered; set-up goes on.
    s.degradable = absorbedByWrappers;
    return s;
}

Scenario paramsSetupScenario() {
    Scenario s;
    s.name = "parameter set-up";
    s.comp = uiComposition();
    s.setup = [](Session &session) { return session.host().globalSetup(); };
    s.act = [](Session &session) {
        const PF_Err err = session.host().paramsSetup();
        return command(err, observeParams(session));
    };
    s.mustCall = {std::string(service::kAddParam)};
    return s;
}

// The UI update on a host old enough to need the hidden slider's timeline flag.
Scenario updateUIScenario(bool controlLayer) {
    Scenario s;
    s.name = controlLayer ? "parameter UI update, control layer chosen"
                          : "parameter UI update, no control layer";
    s.options.specMinor = 1; // 13.1
    s.comp = uiComposition();
    s.configure = [controlLayer](EffectInstance &effect) {
        effect.chooseLayer(PARAM_CONTROL_LAYER, controlLayer ? 2 : -1);
        effect.setParam(PARAM_FALLOFF, {FALLOFF_INVERSE_SQUARE_CLAMPED});
    };
    s.setup = setUp;
    s.act = [](Session &session) {
        const PF_Err err = session.host().updateParamsUI();
        return command(err, observeControls(session));
    };
    s.repeatable = true;
    s.degradable = absorbedByWrappers;
    s.mustCall = {std::string(service::kUpdateParamUI), std::string(service::kAegp)};
    return s;
}

Scenario changedControlLayerScenario(bool toLayer) {
    Scenario s;
    s.name = toLayer ? "changed \"Control Layer\" to a layer" : "changed \"Control Layer\" to none";
    s.comp = uiComposition();
    if (toLayer) {
        // The chosen layer shows its source's name: it is renamed first.
        s.configure = [](EffectInstance &effect) { effect.chooseLayer(PARAM_CONTROL_LAYER, 1); };
        s.setup = setUp;
    } else {
        s.configure = [](EffectInstance &effect) { effect.chooseLayer(PARAM_CONTROL_LAYER, 2); };
        s.setup = [](Session &session) -> PF_Err {
            if (PF_Err err = setUp(session)) return err;
            if (PF_Err err = session.host().userChangedParam(PARAM_CONTROL_LAYER)) return err;
            session.effect().chooseLayer(PARAM_CONTROL_LAYER, -1);
            return PF_Err_NONE;
        };
    }
    s.act = [](Session &session) {
        const PF_Err err = session.host().userChangedParam(PARAM_CONTROL_LAYER);
        return command(err, observeControls(session));
    };
    s.repeatable = true;
    s.degradable = absorbedByWrappers;
    s.mustCall = {std::string(service::kAegp)};
    return s;
}

enum class Frame { Plain, Textured, Reflection, DepthOfField };

const char *frameName(Frame frame) {
    switch (frame) {
    case Frame::Plain: return "plain";
    case Frame::Textured: return "textured, lit";
    case Frame::Reflection: return "textured, reflection map, lit";
    case Frame::DepthOfField: return "textured, reflection map, lit, depth of field";
    }
    return "";
}

Scenario renderScenario(Frame frame, int depth) {
    Scenario s;
    s.name = "render " + std::to_string(depth) + " bits, " + frameName(frame);
    const bool lit = frame != Frame::Plain;
    const Stage stage = makeStage(lit, frame == Frame::DepthOfField);
    s.comp = stage.comp;
    s.effectLayer = stage.effectLayer;
    s.configure = [frame, stage](EffectInstance &effect) {
        placeSurface(effect);
        if (frame == Frame::Plain) return;
        effect.chooseLayer(PARAM_TEXTURE, stage.texture);
        effect.setParam(PARAM_SELF_SHADOW, {1.0});
        effect.setParam(PARAM_LIGHT_TRANSMISSION, {40.0});
        effect.setParam(PARAM_FALLOFF, {FALLOFF_SMOOTH});
        if (frame == Frame::Textured) return;
        effect.chooseLayer(PARAM_REFLECTION_MAP, stage.sky);
        effect.setParam(PARAM_METAL, {60.0});
        if (frame == Frame::Reflection) return;
        effect.setParam(PARAM_DEPTH_OF_FIELD, {DOF_ON});
        effect.setParam(PARAM_BOOST_DOF_BLUR, {400.0});
    };
    s.setup = setUp;
    s.act = [depth](Session &session) {
        const headless::RenderResult result = headless::renderFrame(session.effect(), 0.0, depth, 1);
        return command(result.err, observeFrame(result));
    };
    s.repeatable = true;
    // With lights, a light record the host has no memory for is left out and
    // the frame is drawn with the others.
    s.degradable = [lit](std::string_view service, std::string_view detail) {
        if (absorbedByWrappers(service, detail)) return true;
        return lit && (service == service::kNewHandle || service == service::kLockHandle);
    };
    s.mustCall = {std::string(service::kCheckoutLayer), std::string(service::kCheckoutOutput),
                  std::string(service::kIterate), std::string(service::kAegp)};
    if (frame != Frame::Plain) s.mustCall.push_back(std::string(service::kAreaSample));
    if (frame == Frame::DepthOfField) s.mustCall.push_back(std::string(service::kNewWorld));
    return s;
}


Scenario globalSetdownScenario() {
    Scenario s;
    s.name = "global set-down";
    s.comp = uiComposition();
    s.setup = setUp;
    s.act = [](Session &session) { return command(session.host().globalSetdown(), {}); };
    s.actIsGlobalSetdown = true;
    return s;
}

} // namespace

bool absorbedByWrappers(std::string_view service, std::string_view detail) {
    return service == service::kAegp ||
           (service == service::kAcquireSuite && wrapperSuite(detail));
}

std::vector<Scenario> hostSequences() {
    std::vector<Scenario> list;
    list.push_back(globalSetupScenario());
    list.push_back(paramsSetupScenario());
    list.push_back(updateUIScenario(false));
    list.push_back(updateUIScenario(true));
    list.push_back(changedControlLayerScenario(true));
    list.push_back(changedControlLayerScenario(false));
    for (Frame frame : {Frame::Plain, Frame::Textured, Frame::Reflection, Frame::DepthOfField})
        for (int depth : {8, 16, 32}) list.push_back(renderScenario(frame, depth));
    list.push_back(globalSetdownScenario());
    return list;
}

} // namespace reliability
