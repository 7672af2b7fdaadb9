#include "headless/composition/AegpSuites.h"

#include "headless/composition/AegpText.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Faults.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Ledger.h"
#include "headless/composition/LayerTransform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <sstream>
#include <string>

namespace headless {

namespace {

// ---- resolving a call's target --------------------------------------------------------------

const char *kindName(AegpKind kind) {
    switch (kind) {
    case AegpKind::Composition: return "composition";
    case AegpKind::Item: return "item";
    case AegpKind::Layer: return "layer";
    case AegpKind::EffectRef: return "effect reference";
    case AegpKind::Stream: return "stream";
    case AegpKind::Memory: return "memory handle";
    }
    return "handle";
}

// Records misuse on `host` (when there is one) and answers A_Err_PARAMETER.
A_Err misuse(Host *host, const char *fn, const std::string &what) {
    if (host) host->ledger().problem(std::string(fn) + ": " + what);
    return A_Err_PARAMETER;
}

std::string describe(const char *what, const void *handle) {
    std::ostringstream text;
    text << what << ' ' << handle;
    return text.str();
}

// What one call works on once its handle, effect reference or context checked out.
struct Target {
    const char *fn;
    EffectInstance *instance = nullptr;
    AegpObject *object = nullptr;
    A_Err err = A_Err_NONE;

    Host *host() const { return instance ? &instance->host() : Host::current(); }
    // Records misuse of this call and answers A_Err_PARAMETER.
    A_Err fail(const std::string &what) const { return misuse(host(), fn, what); }
    // A_Err_NONE when `pointer` is usable as a result.
    A_Err need(const void *pointer) const { return pointer ? A_Err_NONE : fail("null result pointer"); }
    A_Err plugin(AEGP_PluginID id) const {
        if (instance->isRegistered(id)) return A_Err_NONE;
        return fail("plug-in id " + std::to_string(id) + " was not handed out by this host");
    }
};

A_Err enter(Target &t) {
    t.err = t.instance->host().faults().check(service::kAegp, t.fn);
    return t.err;
}

Target byHandle(const char *fn, const void *handle, AegpKind kind) {
    Target t{fn};
    t.object = AegpHandles::find(handle, kind);
    if (!t.object) {
        t.err = misuse(Host::current(), fn,
                       describe((std::string("unknown ") + kindName(kind)).c_str(), handle));
        return t;
    }
    t.instance = t.object->owner;
    enter(t);
    return t;
}

Target byEffectRef(const char *fn, PF_ProgPtr ref) {
    Target t{fn};
    Host *host = Host::fromEffectRef(ref);
    t.instance = host ? EffectInstance::of(host) : nullptr;
    if (!t.instance) {
        t.err = misuse(Host::current(), fn, describe("unknown effect reference", ref));
        return t;
    }
    enter(t);
    return t;
}

Target byContext(const char *fn) {
    Target t{fn};
    t.instance = EffectInstance::of(Host::current());
    if (!t.instance) {
        t.err = A_Err_GENERIC; // no host, no composition: nothing to record it on
        return t;
    }
    enter(t);
    return t;
}

// The layer a layer call works on, or null (and t.err set) when the handle
// names a position the layer list no longer has.
const Layer *layerOf(Target &t) {
    const Composition &comp = t.instance->composition();
    const int index = t.object->index;
    if (index < 0 || static_cast<std::size_t>(index) >= comp.layers.size()) {
        t.err = t.fail("layer handle names layer " + std::to_string(index) + " of " +
                       std::to_string(comp.layers.size()));
        return nullptr;
    }
    return &comp.layers[static_cast<std::size_t>(index)];
}

Layer *mutableLayerOf(Target &t) { return const_cast<Layer *>(layerOf(t)); }

// Seconds of a host time; false for a zero scale.
bool seconds(const A_Time &time, double &out) {
    if (time.scale == 0) return false;
    out = double(time.value) / double(time.scale);
    return true;
}

A_Time hostTime(double seconds, unsigned long scale) {
    double ticks = std::round(seconds * double(scale));
    if (!(ticks == ticks)) ticks = 0.0;
    ticks = std::min(std::max(ticks, double(INT32_MIN)), double(INT32_MAX));
    return {static_cast<A_long>(ticks), static_cast<A_u_long>(scale)};
}

// ---- memory handles ------------------------------------------------------------------------------

constexpr AEGP_MemSize kLargestMemHandle = AEGP_MemSize(1) << 32;

// A new memory handle holding `bytes` bytes (filled with `fill`), counted in the ledger.
A_Err newMemory(Target &t, AEGP_MemSize bytes, int fill, AEGP_MemHandle *out) {
    if (bytes > kLargestMemHandle) return A_Err_ALLOC;
    AegpObject *object = t.instance->handles().create(AegpKind::Memory, -1);
    if (!object) return A_Err_ALLOC;
    try {
        // One spare byte keeps a zero-size block lockable at a real address.
        object->bytes.assign(static_cast<std::size_t>(bytes) + 1, static_cast<unsigned char>(fill));
    } catch (const std::bad_alloc &) {
        t.instance->handles().release(object, AegpKind::Memory);
        return A_Err_ALLOC;
    }
    t.instance->host().ledger().add(aegp::kMemoryHandles);
    *out = reinterpret_cast<AEGP_MemHandle>(object);
    return A_Err_NONE;
}

// A memory handle holding `text` (NUL-terminated) for the effect to free.
template <class Char>
A_Err textHandle(Target &t, const std::basic_string<Char> &text, AEGP_MemHandle *out) {
    const AEGP_MemSize bytes = (text.size() + 1) * sizeof(Char);
    if (A_Err err = newMemory(t, bytes, 0, out)) return err;
    auto *object = reinterpret_cast<AegpObject *>(*out);
    std::memcpy(object->bytes.data(), text.c_str(), static_cast<std::size_t>(bytes));
    return A_Err_NONE;
}

// The size of a memory handle as the effect asked for it.
std::size_t memSize(const AegpObject &object) { return object.bytes.size() - 1; }

// ==== "AEGP Utility Suite" 11 ========================================================================

A_Err RegisterWithAEGP(AEGP_GlobalRefcon, const A_char *plugin_nameZ, AEGP_PluginID *plugin_id) {
    Target t = byContext("AEGP_RegisterWithAEGP");
    if (t.err) return t.err;
    if (!plugin_nameZ) return t.fail("null plug-in name");
    if (A_Err err = t.need(plugin_id)) return err;
    *plugin_id = t.instance->registerPlugin(plugin_nameZ);
    return A_Err_NONE;
}

// ==== "AEGP Comp Suite" 11 ===========================================================================

A_Err GetItemFromComp(AEGP_CompH compH, AEGP_ItemH *itemPH) {
    Target t = byHandle("AEGP_GetItemFromComp", compH, AegpKind::Composition);
    if (t.err) return t.err;
    if (A_Err err = t.need(itemPH)) return err;
    *itemPH = t.instance->itemHandle(-1);
    return A_Err_NONE;
}

// ==== "AEGP Layer Suite" 12 ==========================================================================

A_Err GetCompNumLayers(AEGP_CompH compH, A_long *num_layersPL) {
    Target t = byHandle("AEGP_GetCompNumLayers", compH, AegpKind::Composition);
    if (t.err) return t.err;
    if (A_Err err = t.need(num_layersPL)) return err;
    *num_layersPL = static_cast<A_long>(t.instance->composition().layers.size());
    return A_Err_NONE;
}

A_Err GetCompLayerByIndex(AEGP_CompH compH, A_long layer_indexL, AEGP_LayerH *layerPH) {
    Target t = byHandle("AEGP_GetCompLayerByIndex", compH, AegpKind::Composition);
    if (t.err) return t.err;
    if (A_Err err = t.need(layerPH)) return err;
    const std::size_t count = t.instance->composition().layers.size();
    if (layer_indexL < 0 || static_cast<std::size_t>(layer_indexL) >= count)
        return t.fail("layer index " + std::to_string(layer_indexL) + " out of range (" +
                      std::to_string(count) + " layers)");
    *layerPH = t.instance->layerHandle(layer_indexL);
    return A_Err_NONE;
}

A_Err GetLayerName(AEGP_PluginID plugin_id, AEGP_LayerH layerH, AEGP_MemHandle *utf_layer_namePH0,
                   AEGP_MemHandle *utf_source_namePH0) {
    Target t = byHandle("AEGP_GetLayerName", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.plugin(plugin_id)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    if (utf_layer_namePH0) *utf_layer_namePH0 = nullptr;
    if (utf_source_namePH0) *utf_source_namePH0 = nullptr;
    if (utf_layer_namePH0)
        if (A_Err err = textHandle(t, toUtf16(layer->name), utf_layer_namePH0)) return err;
    if (utf_source_namePH0) {
        if (A_Err err = textHandle(t, toUtf16(layer->sourceName), utf_source_namePH0)) {
            // Hand back nothing rather than half a result.
            if (utf_layer_namePH0 && *utf_layer_namePH0) {
                t.instance->handles().release(*utf_layer_namePH0, AegpKind::Memory);
                t.instance->host().ledger().remove(aegp::kMemoryHandles);
                *utf_layer_namePH0 = nullptr;
            }
            return err;
        }
    }
    return A_Err_NONE;
}

A_Err GetLayerSourceItem(AEGP_LayerH layerH, AEGP_ItemH *source_itemPH) {
    Target t = byHandle("AEGP_GetLayerSourceItem", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(source_itemPH)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    *source_itemPH = layer->hasSource() ? t.instance->itemHandle(t.object->index) : nullptr;
    return A_Err_NONE;
}

A_Err GetLayerParentComp(AEGP_LayerH layerH, AEGP_CompH *compPH) {
    Target t = byHandle("AEGP_GetLayerParentComp", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(compPH)) return err;
    if (!layerOf(t)) return t.err;
    *compPH = t.instance->compHandle();
    return A_Err_NONE;
}

// In point or duration of a layer, in the composition's time scale.
A_Err layerTime(const char *fn, AEGP_LayerH layerH, AEGP_LTimeMode mode, A_Time *out,
                bool duration) {
    Target t = byHandle(fn, layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(out)) return err;
    if (mode != AEGP_LTimeMode_LayerTime && mode != AEGP_LTimeMode_CompTime)
        return t.fail("unknown time mode " + std::to_string(mode));
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    const unsigned long scale = compositionTimeScale(t.instance->composition());
    double value = duration ? layer->duration : layer->inPoint;
    if (!duration && mode == AEGP_LTimeMode_LayerTime) value = 0.0; // layer time starts at its in point
    *out = hostTime(value, scale);
    return A_Err_NONE;
}

A_Err GetLayerInPoint(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, A_Time *in_pointPT) {
    return layerTime("AEGP_GetLayerInPoint", layerH, time_mode, in_pointPT, false);
}

A_Err GetLayerDuration(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, A_Time *durationPT) {
    return layerTime("AEGP_GetLayerDuration", layerH, time_mode, durationPT, true);
}

A_Err GetLayerFlags(AEGP_LayerH layerH, AEGP_LayerFlags *layer_flagsP) {
    Target t = byHandle("AEGP_GetLayerFlags", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(layer_flagsP)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    AEGP_LayerFlags flags = AEGP_LayerFlag_LAYER_IS_3D; // every layer of the model is 3D
    if (layer->video) flags |= AEGP_LayerFlag_VIDEO_ACTIVE;
    if (t.object->index == t.instance->effectLayer()) flags |= AEGP_LayerFlag_EFFECTS_ACTIVE;
    *layer_flagsP = flags;
    return A_Err_NONE;
}

A_Err GetLayerToWorldXform(AEGP_LayerH aegp_layerH, const A_Time *comp_timeP, A_Matrix4 *transform) {
    Target t = byHandle("AEGP_GetLayerToWorldXform", aegp_layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (!comp_timeP) return t.fail("null time");
    if (A_Err err = t.need(transform)) return err;
    double when = 0.0;
    if (!seconds(*comp_timeP, when)) return t.fail("time scale 0");
    if (!layerOf(t)) return t.err;
    *transform = layerToWorld(t.instance->composition(), t.object->index, when);
    return A_Err_NONE;
}

A_Err GetLayerObjectType(AEGP_LayerH layerH, AEGP_ObjectType *object_type) {
    Target t = byHandle("AEGP_GetLayerObjectType", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(object_type)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    switch (layer->type) {
    case LayerType::Camera: *object_type = AEGP_ObjectType_CAMERA; break;
    case LayerType::Light: *object_type = AEGP_ObjectType_LIGHT; break;
    default: *object_type = AEGP_ObjectType_AV; break;
    }
    return A_Err_NONE;
}

A_Err SetLayerName(AEGP_LayerH layerH, const A_UTF16Char *new_nameZ) {
    Target t = byHandle("AEGP_SetLayerName", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (!new_nameZ) return t.fail("null name");
    Layer *layer = mutableLayerOf(t);
    if (!layer) return t.err;
    layer->name = fromUtf16(new_nameZ);
    return A_Err_NONE;
}

// ==== "AEGP Layer Suite" 11 ==========================================================================

A_Err GetLayerName8(AEGP_LayerH layerH, A_char layer_nameZ[AEGP_MAX_LAYER_NAME_SIZE],
                    A_char source_nameZ[AEGP_MAX_LAYER_NAME_SIZE]) {
    Target t = byHandle("AEGP_GetLayerName", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(layer_nameZ)) return err;
    if (A_Err err = t.need(source_nameZ)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    copyName(layer->name, layer_nameZ);
    copyName(layer->sourceName, source_nameZ);
    return A_Err_NONE;
}

// ==== "AEGP Stream Suite" 9 ==========================================================================

A_Err GetNewEffectStreamByIndex(AEGP_PluginID plugin_id, AEGP_EffectRefH effect_refH,
                                PF_ParamIndex param_index, AEGP_StreamRefH *streamPH) {
    Target t = byHandle("AEGP_GetNewEffectStreamByIndex", effect_refH, AegpKind::EffectRef);
    if (t.err) return t.err;
    if (A_Err err = t.plugin(plugin_id)) return err;
    if (A_Err err = t.need(streamPH)) return err;
    const A_long count = t.instance->host().params().count();
    if (param_index < 0 || param_index >= count)
        return t.fail("parameter index " + std::to_string(param_index) + " out of range (" +
                      std::to_string(count) + " parameters)");
    AegpObject *stream = t.instance->handles().create(AegpKind::Stream, param_index);
    if (!stream) return A_Err_ALLOC;
    t.instance->host().ledger().add(aegp::kStreams);
    *streamPH = reinterpret_cast<AEGP_StreamRefH>(stream);
    return A_Err_NONE;
}

A_Err DisposeStream(AEGP_StreamRefH streamH) {
    Target t = byHandle("AEGP_DisposeStream", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    t.instance->handles().release(streamH, AegpKind::Stream);
    t.instance->host().ledger().remove(aegp::kStreams);
    return A_Err_NONE;
}

// The value of one layer stream at comp time `when`; false when the layer has no such stream.
bool streamValue(const Layer &layer, AEGP_LayerStream which, double when, AEGP_StreamVal2 &value,
                 AEGP_StreamType &type) {
    const Transform &tr = layer.transform;
    auto three = [&](const Animated<Vec3> &stream, AEGP_StreamType kind) {
        const Vec3 v = stream.at(when);
        value.three_d = {v.x, v.y, v.z};
        type = kind;
        return true;
    };
    auto one = [&](const Animated<double> &stream) {
        value.one_d = stream.at(when);
        type = AEGP_StreamType_OneD;
        return true;
    };
    const bool camera = layer.type == LayerType::Camera, light = layer.type == LayerType::Light;
    switch (which) {
    case AEGP_LayerStream_ANCHORPOINT: return three(tr.anchorPoint, AEGP_StreamType_ThreeD_SPATIAL);
    case AEGP_LayerStream_POSITION: return three(tr.position, AEGP_StreamType_ThreeD_SPATIAL);
    case AEGP_LayerStream_SCALE: return three(tr.scale, AEGP_StreamType_ThreeD);
    case AEGP_LayerStream_ROTATE_Z: return one(tr.rotationZ);
    case AEGP_LayerStream_ROTATE_X: return one(tr.rotationX);
    case AEGP_LayerStream_ROTATE_Y: return one(tr.rotationY);
    case AEGP_LayerStream_ORIENTATION: return three(tr.orientation, AEGP_StreamType_ThreeD);
    case AEGP_LayerStream_ZOOM: return camera && one(layer.camera.zoom);
    case AEGP_LayerStream_DEPTH_OF_FIELD: return camera && one(layer.camera.depthOfField);
    case AEGP_LayerStream_FOCUS_DISTANCE: return camera && one(layer.camera.focusDistance);
    case AEGP_LayerStream_APERTURE: return camera && one(layer.camera.aperture);
    case AEGP_LayerStream_BLUR_LEVEL: return camera && one(layer.camera.blurLevel);
    case AEGP_LayerStream_INTENSITY: return light && one(layer.light.intensity);
    case AEGP_LayerStream_COLOR: {
        if (!light) return false;
        const ColorValue c = layer.light.color.at(when);
        value.color = {c.alpha, c.red, c.green, c.blue};
        type = AEGP_StreamType_COLOR;
        return true;
    }
    case AEGP_LayerStream_CONE_ANGLE: return light && one(layer.light.coneAngle);
    case AEGP_LayerStream_CONE_FEATHER: return light && one(layer.light.coneFeather);
    case AEGP_LayerStream_SHADOW_DARKNESS: return light && one(layer.light.shadowDarkness);
    case AEGP_LayerStream_SHADOW_DIFFUSION: return light && one(layer.light.shadowDiffusion);
    case AEGP_LayerStream_CASTS_SHADOWS: return light && one(layer.light.castsShadows);
    default: return false;
    }
}

A_Err GetLayerStreamValue(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                          AEGP_LTimeMode time_mode, const A_Time *timePT, A_Boolean,
                          AEGP_StreamVal2 *stream_valP, AEGP_StreamType *stream_typeP0) {
    Target t = byHandle("AEGP_GetLayerStreamValue", layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (!timePT) return t.fail("null time");
    if (A_Err err = t.need(stream_valP)) return err;
    if (time_mode != AEGP_LTimeMode_LayerTime && time_mode != AEGP_LTimeMode_CompTime)
        return t.fail("unknown time mode " + std::to_string(time_mode));
    double when = 0.0;
    if (!seconds(*timePT, when)) return t.fail("time scale 0");
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    if (time_mode == AEGP_LTimeMode_LayerTime) when += layer->inPoint;

    AEGP_StreamVal2 value;
    std::memset(&value, 0, sizeof value);
    AEGP_StreamType type = AEGP_StreamType_NO_DATA;
    if (!streamValue(*layer, which_stream, when, value, type)) return A_Err_PARAMETER;
    *stream_valP = value;
    if (stream_typeP0) *stream_typeP0 = type;
    return A_Err_NONE;
}

A_Err SetExpression(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH, const A_char *expressionP) {
    Target t = byHandle("AEGP_SetExpression", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    if (A_Err err = t.plugin(plugin_id)) return err;
    if (!expressionP) return t.fail("null expression");
    t.instance->setExpression(t.object->index, expressionP);
    return A_Err_NONE;
}

A_Err GetExpression(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH, AEGP_MemHandle *expressionPH) {
    Target t = byHandle("AEGP_GetExpression", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    if (A_Err err = t.plugin(plugin_id)) return err;
    if (A_Err err = t.need(expressionPH)) return err;
    *expressionPH = nullptr;
    const std::string text = t.instance->expression(t.object->index).value_or(std::string());
    return textHandle(t, text, expressionPH);
}

// ==== "AEGP Effect Suite" 3 ==========================================================================

A_Err DisposeEffect(AEGP_EffectRefH effectH) {
    Target t = byHandle("AEGP_DisposeEffect", effectH, AegpKind::EffectRef);
    if (t.err) return t.err;
    t.instance->handles().release(effectH, AegpKind::EffectRef);
    t.instance->host().ledger().remove(aegp::kEffectRefs);
    return A_Err_NONE;
}

// ==== "AEGP Item Suite" 13 ===========================================================================

A_Err GetItemDimensions(AEGP_ItemH itemH, A_long *widthPL, A_long *heightPL) {
    Target t = byHandle("AEGP_GetItemDimensions", itemH, AegpKind::Item);
    if (t.err) return t.err;
    if (A_Err err = t.need(widthPL)) return err;
    if (A_Err err = t.need(heightPL)) return err;
    const Composition &comp = t.instance->composition();
    if (t.object->index < 0) {
        *widthPL = comp.width;
        *heightPL = comp.height;
        return A_Err_NONE;
    }
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    const bool footage = layer->type == LayerType::Footage;
    *widthPL = footage ? layer->footage.width : layer->solid.width;
    *heightPL = footage ? layer->footage.height : layer->solid.height;
    return A_Err_NONE;
}

A_Err GetItemPixelAspectRatio(AEGP_ItemH itemH, A_Ratio *pix_aspect_ratioPRt) {
    Target t = byHandle("AEGP_GetItemPixelAspectRatio", itemH, AegpKind::Item);
    if (t.err) return t.err;
    if (A_Err err = t.need(pix_aspect_ratioPRt)) return err;
    const Composition &comp = t.instance->composition();
    Ratio ratio = comp.pixelAspect;
    if (t.object->index >= 0) {
        const Layer *layer = layerOf(t);
        if (!layer) return t.err;
        ratio = layerPixelAspect(comp, *layer);
    }
    *pix_aspect_ratioPRt = {static_cast<A_long>(ratio.num), static_cast<A_u_long>(ratio.den)};
    return A_Err_NONE;
}

// ==== "AEGP Camera Suite" 2 and "AEGP Light Suite" 2 ==================================================

A_Err GetCameraType(AEGP_LayerH aegp_layerH, AEGP_CameraType *camera_type) {
    Target t = byHandle("AEGP_GetCameraType", aegp_layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(camera_type)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    *camera_type = layer->type == LayerType::Camera ? static_cast<AEGP_CameraType>(layer->camera.type)
                                                    : AEGP_CameraType_NONE;
    return A_Err_NONE;
}

A_Err GetDefaultCameraDistanceToImagePlane(AEGP_CompH compH, A_FpLong *dist_to_planePF) {
    Target t = byHandle("AEGP_GetDefaultCameraDistanceToImagePlane", compH, AegpKind::Composition);
    if (t.err) return t.err;
    if (A_Err err = t.need(dist_to_planePF)) return err;
    *dist_to_planePF = defaultCameraDistance(t.instance->composition());
    return A_Err_NONE;
}

A_Err GetLightType(AEGP_LayerH aegp_layerH, AEGP_LightType *light_type) {
    Target t = byHandle("AEGP_GetLightType", aegp_layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(light_type)) return err;
    const Layer *layer = layerOf(t);
    if (!layer) return t.err;
    *light_type = layer->type == LayerType::Light ? static_cast<AEGP_LightType>(layer->light.type)
                                                  : AEGP_LightType_NONE;
    return A_Err_NONE;
}

// ==== "AEGP PF Interface Suite" 1 =====================================================================

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH *layerPH) {
    Target t = byEffectRef("AEGP_GetEffectLayer", effect_ref);
    if (t.err) return t.err;
    if (A_Err err = t.need(layerPH)) return err;
    const int index = t.instance->effectLayer();
    if (index < 0 || static_cast<std::size_t>(index) >= t.instance->composition().layers.size())
        return t.fail("the effect sits on layer " + std::to_string(index) + ", which does not exist");
    *layerPH = t.instance->layerHandle(index);
    return A_Err_NONE;
}

A_Err GetNewEffectForEffect(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                            AEGP_EffectRefH *effectPH) {
    Target t = byEffectRef("AEGP_GetNewEffectForEffect", effect_ref);
    if (t.err) return t.err;
    if (A_Err err = t.plugin(aegp_plugin_id)) return err;
    if (A_Err err = t.need(effectPH)) return err;
    AegpObject *effect = t.instance->handles().create(AegpKind::EffectRef, t.instance->effectLayer());
    if (!effect) return A_Err_ALLOC;
    t.instance->host().ledger().add(aegp::kEffectRefs);
    *effectPH = reinterpret_cast<AEGP_EffectRefH>(effect);
    return A_Err_NONE;
}

A_Err ConvertEffectToCompTime(PF_ProgPtr effect_ref, A_long what_timeL, A_u_long time_scaleLu,
                              A_Time *comp_timePT) {
    Target t = byEffectRef("AEGP_ConvertEffectToCompTime", effect_ref);
    if (t.err) return t.err;
    if (A_Err err = t.need(comp_timePT)) return err;
    A_Time result;
    if (!t.instance->effectToCompTime(what_timeL, time_scaleLu, result))
        return t.fail("time " + std::to_string(what_timeL) + "/" + std::to_string(time_scaleLu) +
                      " cannot be converted");
    *comp_timePT = result;
    return A_Err_NONE;
}

A_Err GetEffectCamera(PF_ProgPtr effect_ref, const A_Time *comp_timePT, AEGP_LayerH *camera_layerPH) {
    Target t = byEffectRef("AEGP_GetEffectCamera", effect_ref);
    if (t.err) return t.err;
    if (!comp_timePT) return t.fail("null time");
    if (A_Err err = t.need(camera_layerPH)) return err;
    double when = 0.0;
    if (!seconds(*comp_timePT, when)) return t.fail("time scale 0");
    const int camera = t.instance->effectCamera(when);
    *camera_layerPH = camera < 0 ? nullptr : t.instance->layerHandle(camera);
    return A_Err_NONE;
}

// ==== "AEGP Dynamic Stream Suite" 5 ====================================================================

A_Err SetDynamicStreamFlag(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag, A_Boolean,
                           A_Boolean setB) {
    Target t = byHandle("AEGP_SetDynamicStreamFlag", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    if (one_flag == 0 || (one_flag & (one_flag - 1)) != 0)
        return t.fail("flag " + std::to_string(one_flag) + " is not one flag");
    t.instance->setStreamFlag(t.object->index, one_flag, setB != 0);
    return A_Err_NONE;
}

A_Err GetDynamicStreamFlags(AEGP_StreamRefH streamH, AEGP_DynStreamFlags *flagsP) {
    Target t = byHandle("AEGP_GetDynamicStreamFlags", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    if (A_Err err = t.need(flagsP)) return err;
    *flagsP = t.instance->streamFlags(t.object->index);
    return A_Err_NONE;
}

// ==== "AEGP Keyframe Suite" 4, "AEGP Layer Mask Suite" 5, "PF Path Query Suite" 1 ======================

A_Err GetStreamNumKFs(AEGP_StreamRefH streamH, A_long *num_kfsPL) {
    Target t = byHandle("AEGP_GetStreamNumKFs", streamH, AegpKind::Stream);
    if (t.err) return t.err;
    if (A_Err err = t.need(num_kfsPL)) return err;
    const PF_ParamIndex index = t.object->index;
    *num_kfsPL = t.instance->hasTrack(index)
                     ? static_cast<A_long>(t.instance->param(index).keys.size())
                     : 0;
    return A_Err_NONE;
}

A_Err GetLayerNumMasks(AEGP_LayerH aegp_layerH, A_long *num_masksPL) {
    Target t = byHandle("AEGP_GetLayerNumMasks", aegp_layerH, AegpKind::Layer);
    if (t.err) return t.err;
    if (A_Err err = t.need(num_masksPL)) return err;
    if (!layerOf(t)) return t.err;
    *num_masksPL = 0; // the model has no masks
    return A_Err_NONE;
}

PF_Err NumPaths(PF_ProgPtr effect_ref, A_long *num_pathsPL) {
    Target t = byEffectRef("PF_NumPaths", effect_ref);
    if (t.err) return t.err;
    if (A_Err err = t.need(num_pathsPL)) return err;
    *num_pathsPL = 0;
    return PF_Err_NONE;
}

// ==== "AEGP Memory Suite" 1 ===========================================================================

A_Err NewMemHandle(AEGP_PluginID plugin_id, const A_char *, AEGP_MemSize size, AEGP_MemFlag flags,
                   AEGP_MemHandle *memPH) {
    Target t = byContext("AEGP_NewMemHandle");
    if (t.err) return t.err;
    if (A_Err err = t.plugin(plugin_id)) return err;
    if (A_Err err = t.need(memPH)) return err;
    *memPH = nullptr;
    return newMemory(t, size, (flags & AEGP_MemFlag_CLEAR) ? 0 : 0xA5, memPH);
}

A_Err FreeMemHandle(AEGP_MemHandle memH) {
    Target t = byHandle("AEGP_FreeMemHandle", memH, AegpKind::Memory);
    if (t.err) return t.err;
    t.instance->handles().release(memH, AegpKind::Memory);
    t.instance->host().ledger().remove(aegp::kMemoryHandles);
    return A_Err_NONE;
}

A_Err LockMemHandle(AEGP_MemHandle memH, void **ptr_to_ptr) {
    Target t = byHandle("AEGP_LockMemHandle", memH, AegpKind::Memory);
    if (t.err) return t.err;
    if (A_Err err = t.need(ptr_to_ptr)) return err;
    ++t.object->locks;
    *ptr_to_ptr = t.object->bytes.data();
    return A_Err_NONE;
}

A_Err UnlockMemHandle(AEGP_MemHandle memH) {
    Target t = byHandle("AEGP_UnlockMemHandle", memH, AegpKind::Memory);
    if (t.err) return t.err;
    if (t.object->locks == 0) return t.fail(describe("unlocking memory handle", memH) + " that is not locked");
    --t.object->locks;
    return A_Err_NONE;
}

A_Err GetMemHandleSize(AEGP_MemHandle memH, AEGP_MemSize *sizeP) {
    Target t = byHandle("AEGP_GetMemHandleSize", memH, AegpKind::Memory);
    if (t.err) return t.err;
    if (A_Err err = t.need(sizeP)) return err;
    *sizeP = memSize(*t.object);
    return A_Err_NONE;
}

// ==== "PF Param Utils Suite" 2 ==========================================================================

PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef *defP) {
    constexpr const char *fn = "PF_UpdateParamUI";
    Host *host = Host::fromEffectRef(effect_ref);
    EffectInstance *instance = host ? EffectInstance::of(host) : nullptr;
    if (!instance) {
        misuse(Host::current(), fn, describe("unknown effect reference", effect_ref));
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (PF_Err err = host->faults().check(service::kUpdateParamUI)) return err;
    ParamArray &params = host->params();
    if (param_index < 0 || param_index >= params.count()) {
        misuse(host, fn, "parameter index " + std::to_string(param_index) + " out of range");
        return PF_Err_INVALID_INDEX;
    }
    if (!defP) {
        misuse(host, fn, "null definition");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef &stored = params.at(param_index);
    if (defP->param_type != stored.param_type) {
        misuse(host, fn, "parameter " + std::to_string(param_index) + " handed back as type " +
                             std::to_string(defP->param_type) + ", it has type " +
                             std::to_string(stored.param_type));
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    stored.ui_flags = defP->ui_flags;
    std::memcpy(stored.name, defP->name, sizeof stored.name);
    stored.name[sizeof stored.name - 1] = '\0';
    instance->countParamUIUpdate();
    return PF_Err_NONE;
}

// ---- the tables ------------------------------------------------------------------------------------------

const AEGP_UtilitySuite6 kUtilitySuite = {RegisterWithAEGP};
const AEGP_CompSuite5 kCompSuite = {GetItemFromComp};
const AEGP_LayerSuite6 kLayerSuite = {GetCompNumLayers,  GetCompLayerByIndex,  GetLayerName,
                                      GetLayerSourceItem, GetLayerParentComp,  GetLayerInPoint,
                                      GetLayerDuration,   GetLayerFlags,       GetLayerToWorldXform,
                                      GetLayerObjectType, SetLayerName};
const AEGP_LayerSuite5 kLayerSuite8Bit = {GetLayerName8};
const AEGP_StreamSuite4 kStreamSuite = {GetNewEffectStreamByIndex, DisposeStream, GetLayerStreamValue,
                                        SetExpression, GetExpression};
const AEGP_EffectSuite3 kEffectSuite = {DisposeEffect};
const AEGP_ItemSuite8 kItemSuite = {GetItemDimensions, GetItemPixelAspectRatio};
const AEGP_CameraSuite2 kCameraSuite = {GetCameraType, GetDefaultCameraDistanceToImagePlane};
const AEGP_LightSuite2 kLightSuite = {GetLightType};
const AEGP_PFInterfaceSuite1 kInterfaceSuite = {GetEffectLayer, GetNewEffectForEffect,
                                                ConvertEffectToCompTime, GetEffectCamera};
const AEGP_DynamicStreamSuite4 kDynamicStreamSuite = {SetDynamicStreamFlag, GetDynamicStreamFlags};
const AEGP_KeyframeSuite4 kKeyframeSuite = {GetStreamNumKFs};
const AEGP_MaskSuite4 kMaskSuite = {GetLayerNumMasks};
const PF_PathQuerySuite1 kPathQuerySuite = {NumPaths};
const AEGP_MemorySuite1 kMemorySuite = {NewMemHandle, FreeMemHandle, LockMemHandle, UnlockMemHandle,
                                        GetMemHandleSize};
const PF_ParamUtilsSuite2 kParamUtilsSuite = {UpdateParamUI};

struct Offer {
    const char *name;
    A_long version;
    const void *table;
};

const Offer kOffers[] = {
    {"AEGP Utility Suite", 11, &kUtilitySuite},
    {"AEGP Comp Suite", 11, &kCompSuite},
    {"AEGP Layer Suite", 12, &kLayerSuite},
    {"AEGP Layer Suite", 11, &kLayerSuite8Bit},
    {"AEGP Stream Suite", 9, &kStreamSuite},
    {"AEGP Effect Suite", 3, &kEffectSuite},
    {"AEGP Item Suite", 13, &kItemSuite},
    {"AEGP Camera Suite", 2, &kCameraSuite},
    {"AEGP Light Suite", 2, &kLightSuite},
    {"AEGP PF Interface Suite", 1, &kInterfaceSuite},
    {"AEGP Dynamic Stream Suite", 5, &kDynamicStreamSuite},
    {"AEGP Keyframe Suite", 4, &kKeyframeSuite},
    {"AEGP Layer Mask Suite", 5, &kMaskSuite},
    {"PF Path Query Suite", 1, &kPathQuerySuite},
    {"AEGP Memory Suite", 1, &kMemorySuite},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion2, &kParamUtilsSuite},
};

} // namespace

void installAegpSuites(Host &host) {
    for (const Offer &offer : kOffers) host.suites().add(offer.name, offer.version, offer.table);
}

void removeAegpSuites(Host &host) {
    for (const Offer &offer : kOffers) host.suites().remove(offer.name, offer.version);
}

} // namespace headless
