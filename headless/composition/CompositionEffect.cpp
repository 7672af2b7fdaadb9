#include "headless/composition/CompositionEffect.h"

#include "headless/composition/AegpSuites.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Ledger.h"

#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace headless {

namespace {

std::mutex g_instancesMutex;
std::map<const Host *, EffectInstance *> g_instances;

// Rounds to the nearest whole number that an A_long holds; NaN gives 0.
A_long toLong(double v) {
    if (!(v == v)) return 0;
    if (v >= double(INT32_MAX)) return INT32_MAX;
    if (v <= double(INT32_MIN)) return INT32_MIN;
    return static_cast<A_long>(std::llround(v));
}

PF_Fixed toFixed(double v) { return toLong(v * 65536.0); }

A_u_char toByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<A_u_char>(std::lround(v));
}

bool holds(PF_ParamType type) {
    return type == PF_Param_POPUP || type == PF_Param_CHECKBOX || type == PF_Param_LAYER;
}

// Writes a track value into a record of a type without special handling.
void applyValue(PF_ParamDef &def, const ParamValue &v) {
    switch (def.param_type) {
    case PF_Param_SLIDER: def.u.sd.value = toLong(v[0]); break;
    case PF_Param_FIX_SLIDER: def.u.fd.value = toFixed(v[0]); break;
    case PF_Param_FLOAT_SLIDER: def.u.fs_d.value = v[0]; break;
    case PF_Param_ANGLE: def.u.ad.value = toFixed(v[0]); break;
    case PF_Param_CHECKBOX: def.u.bd.value = v[0] != 0.0 ? 1 : 0; break;
    case PF_Param_POPUP: def.u.pd.value = toLong(v[0]); break;
    case PF_Param_COLOR:
        def.u.cd.value = {toByte(v[0]), toByte(v[1]), toByte(v[2]), toByte(v[3])};
        break;
    default: break; // groups, buttons, ...: nothing to animate
    }
}

PF_RationalScale pixelAspectOf(const Composition &comp, const Layer &layer) {
    const Ratio ratio = layerPixelAspect(comp, layer);
    return {A_long(ratio.num), A_u_long(ratio.den)};
}

void clearLayerDef(PF_LayerDef &ld) {
    const A_long dephault = ld.dephault;
    std::memset(&ld, 0, sizeof ld);
    ld.dephault = dephault;
}

} // namespace

// ---- construction -------------------------------------------------------------------

EffectInstance::EffectInstance(Host &host, Composition comp, int effectLayer)
    : host_(host), comp_(std::move(comp)), effectLayer_(effectLayer), handles_(*this) {
    {
        std::lock_guard lock(g_instancesMutex);
        if (g_instances.count(&host))
            throw std::invalid_argument("the host already serves an effect instance");
        g_instances[&host] = this;
    }
    PF_InData &in = *host_.inData();
    const unsigned long scale = compositionTimeScale(comp_);
    double rate = comp_.frameRate > 0.0 && std::isfinite(comp_.frameRate) ? comp_.frameRate : 30.0;
    in.time_scale = static_cast<A_u_long>(scale);
    in.time_step = in.local_time_step = std::max<A_long>(1, toLong(double(scale) / rate));
    in.current_time = 0;
    syncInData();

    host_.params().setValueSource([this](PF_ParamIndex index, A_long what_time, A_long,
                                         A_u_long time_scale, PF_ParamDef &value) {
        return checkoutValue(index, what_time, time_scale, value);
    });
    host_.params().setCheckinObserver([this](const PF_ParamDef &value) { checkinValue(value); });
    host_.setBeforeSend([this](PF_Cmd) {
        syncInData();
        publishParams();
    });
    installAegpSuites(host_);
}

EffectInstance::~EffectInstance() {
    removeAegpSuites(host_);
    host_.setBeforeSend({});
    host_.params().setCheckinObserver({});
    host_.params().setValueSource({});
    std::lock_guard lock(g_instancesMutex);
    g_instances.erase(&host_);
}

EffectInstance *EffectInstance::of(const Host *host) {
    std::lock_guard lock(g_instancesMutex);
    auto it = g_instances.find(host);
    return it == g_instances.end() ? nullptr : it->second;
}

void EffectInstance::setEffectLayer(int index) {
    effectLayer_ = index;
    syncInData();
}

void EffectInstance::effectLayerSize(int &width, int &height) const {
    width = height = 0;
    if (effectLayer_ < 0 || static_cast<std::size_t>(effectLayer_) >= comp_.layers.size()) return;
    comp_.layers[static_cast<std::size_t>(effectLayer_)].sourceSize(width, height);
    if (width < 0 || height < 0) width = height = 0;
}

void EffectInstance::syncInData() {
    PF_InData &in = *host_.inData();
    int width, height;
    effectLayerSize(width, height);
    in.width = width;
    in.height = height;
    in.extent_hint = {0, 0, width, height};
    const bool valid =
        effectLayer_ >= 0 && static_cast<std::size_t>(effectLayer_) < comp_.layers.size();
    const Layer *layer = valid ? &comp_.layers[static_cast<std::size_t>(effectLayer_)] : nullptr;
    in.pixel_aspect_ratio = layer ? pixelAspectOf(comp_, *layer) : PF_RationalScale{1, 1};
    in.total_time = layer ? toLong(layer->duration * in.time_scale) : 0;
}

// ---- time ------------------------------------------------------------------------------

double EffectInstance::compSeconds(A_long effectTime, A_u_long timeScale) const {
    if (timeScale == 0) return 0.0;
    const bool valid =
        effectLayer_ >= 0 && static_cast<std::size_t>(effectLayer_) < comp_.layers.size();
    const double in = valid ? comp_.layers[static_cast<std::size_t>(effectLayer_)].inPoint : 0.0;
    return double(effectTime) / double(timeScale) + (std::isfinite(in) ? in : 0.0);
}

bool EffectInstance::effectToCompTime(A_long effectTime, A_u_long timeScale, A_Time &out) const {
    if (timeScale == 0) return false;
    const bool valid =
        effectLayer_ >= 0 && static_cast<std::size_t>(effectLayer_) < comp_.layers.size();
    const double in = valid ? comp_.layers[static_cast<std::size_t>(effectLayer_)].inPoint : 0.0;
    const double value = double(effectTime) + std::round(in * double(timeScale));
    if (!(value >= double(INT32_MIN) && value <= double(INT32_MAX))) return false;
    out = {static_cast<A_long>(value), timeScale};
    return true;
}

void EffectInstance::setCompTime(double t) {
    PF_InData &in = *host_.inData();
    const bool valid =
        effectLayer_ >= 0 && static_cast<std::size_t>(effectLayer_) < comp_.layers.size();
    const double start = valid ? comp_.layers[static_cast<std::size_t>(effectLayer_)].inPoint : 0.0;
    in.current_time = toLong((t - start) * double(in.time_scale));
}

double EffectInstance::currentCompTime() const {
    const PF_InData &in = *host_.inData();
    return compSeconds(in.current_time, in.time_scale);
}

// ---- render settings ----------------------------------------------------------------------

void EffectInstance::setRenderDepth(int bitsPerChannel) {
    if (bytesPerPixel(bitsPerChannel) != 0) renderDepth_ = bitsPerChannel;
}

void EffectInstance::setDownsample(PF_RationalScale x, PF_RationalScale y) {
    host_.inData()->downsample_x = x;
    host_.inData()->downsample_y = y;
}

// ---- parameters --------------------------------------------------------------------------------

Animated<ParamValue> &EffectInstance::param(PF_ParamIndex index) { return tracks_[index]; }

ParamValue EffectInstance::trackValue(PF_ParamIndex index, double t, Interpolation how) const {
    auto it = tracks_.find(index);
    return it == tracks_.end() ? ParamValue{} : it->second.at(t, how);
}

int EffectInstance::chosenLayer(PF_ParamIndex index, double t, A_long dephault) const {
    int chosen = -1;
    if (hasTrack(index))
        chosen = toLong(trackValue(index, t, Interpolation::Hold)[0]);
    else if (index == 0 || dephault == PF_LayerDefault_MYSELF)
        chosen = effectLayer_;
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= comp_.layers.size()) return -1;
    return chosen;
}

void EffectInstance::fillPoint(PF_ParamIndex index, double t, const PF_RationalScale &dsx,
                               const PF_RationalScale &dsy, PF_ParamDef &value) const {
    double x, y;
    if (hasTrack(index)) {
        const ParamValue v = trackValue(index, t, Interpolation::Linear);
        x = v[0];
        y = v[1];
    } else {
        int width, height;
        effectLayerSize(width, height);
        x = value.u.td.x_dephault / 65536.0 / 100.0 * width;
        y = value.u.td.y_dephault / 65536.0 / 100.0 * height;
    }
    const double sx = dsx.den ? double(dsx.num) / double(dsx.den) : 1.0;
    const double sy = dsy.den ? double(dsy.num) / double(dsy.den) : 1.0;
    value.u.td.x_value = toFixed(x * sx);
    value.u.td.y_value = toFixed(y * sy);
}

void EffectInstance::fillLayer(PF_ParamIndex index, double t, PF_ParamDef &value) {
    PF_LayerDef &ld = value.u.ld;
    const int chosen = chosenLayer(index, t, ld.dephault);
    clearLayerDef(ld);
    if (chosen < 0) return;
    const Layer &layer = comp_.layers[static_cast<std::size_t>(chosen)];
    if (!layer.hasSource()) return; // cameras and lights carry no image
    const PF_LayerDef *pixels = sharedPixels(chosen);
    ld.reserved0 = layerHandle(chosen);
    ld.pix_aspect_ratio = pixelAspectOf(comp_, layer);
    if (!pixels) return; // a layer without pixels: chosen, but nothing to read

    const A_long dephault = ld.dephault;
    ld = *pixels;
    ld.reserved0 = layerHandle(chosen);
    ld.pix_aspect_ratio = pixelAspectOf(comp_, layer);
    ld.dephault = dephault;
}

const PF_LayerDef *EffectInstance::sharedPixels(int chosen) {
    const PF_InData &in = *host_.inData();
    const LayerPixelsKey key{chosen, renderDepth_, in.downsample_x, in.downsample_y};
    {
        std::lock_guard lock(mutex_);
        for (auto &[data, shared] : layerPixels_)
            if (shared.key == key && !shared.stale) {
                ++shared.holders;
                shared.usedThisFrame = true;
                host_.ledger().add(kLayerParamPixels);
                return &shared.world;
            }
    }
    std::unique_ptr<LayerImage> image = layerPixels(comp_.layers[static_cast<std::size_t>(chosen)],
                                                    key.downsampleX, key.downsampleY, key.depth);
    if (!image) return nullptr;
    image->publishIn(host_.worlds());
    std::lock_guard lock(mutex_);
    const void *data = image->data();
    SharedLayerPixels &shared = layerPixels_[data];
    shared.key = key;
    shared.world = image->world();
    shared.image = std::move(image);
    shared.holders = 1;
    host_.ledger().add(kLayerParamPixels);
    return &shared.world;
}

PF_Err EffectInstance::checkoutValue(PF_ParamIndex index, A_long what_time, A_u_long time_scale,
                                     PF_ParamDef &value) {
    const double t = compSeconds(what_time, time_scale);
    const PF_InData &in = *host_.inData();
    try {
        switch (value.param_type) {
        case PF_Param_LAYER: fillLayer(index, t, value); break;
        case PF_Param_POINT: fillPoint(index, t, in.downsample_x, in.downsample_y, value); break;
        default:
            if (hasTrack(index))
                applyValue(value, trackValue(index, t,
                                             holds(value.param_type) ? Interpolation::Hold
                                                                     : Interpolation::Linear));
            break;
        }
    } catch (const std::bad_alloc &) {
        return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
}

void EffectInstance::checkinValue(const PF_ParamDef &value) {
    if (value.param_type != PF_Param_LAYER || !value.u.ld.data) return;
    std::lock_guard lock(mutex_);
    auto it = layerPixels_.find(value.u.ld.data);
    if (it == layerPixels_.end()) return; // a record the effect changed: nothing of ours
    // Kept for the next frame unless the composition changed meanwhile.
    if (--it->second.holders == 0 && it->second.stale) layerPixels_.erase(it);
    host_.ledger().remove(kLayerParamPixels);
}

void EffectInstance::frameEnded() {
    std::lock_guard lock(mutex_);
    std::erase_if(layerPixels_, [](const auto &entry) { return entry.second.holders == 0 && !entry.second.usedThisFrame; });
    for (auto &[data, shared] : layerPixels_) shared.usedThisFrame = false;
}

Composition &EffectInstance::editComposition() {
    std::lock_guard lock(mutex_);
    std::erase_if(layerPixels_, [](const auto &entry) { return entry.second.holders == 0; });
    for (auto &[data, shared] : layerPixels_) shared.stale = true;
    return comp_;
}

void EffectInstance::publishParams() {
    ParamArray &params = host_.params();
    const PF_InData &in = *host_.inData();
    const double t = currentCompTime();
    for (PF_ParamIndex i = 0; i < params.count(); ++i) {
        PF_ParamDef &def = params.at(i);
        switch (def.param_type) {
        case PF_Param_LAYER: {
            const int chosen = chosenLayer(i, t, def.u.ld.dephault);
            clearLayerDef(def.u.ld);
            if (chosen >= 0 && comp_.layers[static_cast<std::size_t>(chosen)].hasSource()) {
                def.u.ld.reserved0 = layerHandle(chosen);
                def.u.ld.pix_aspect_ratio =
                    pixelAspectOf(comp_, comp_.layers[static_cast<std::size_t>(chosen)]);
            }
            break;
        }
        case PF_Param_POINT: fillPoint(i, t, in.downsample_x, in.downsample_y, def); break;
        default:
            if (hasTrack(i))
                applyValue(def, trackValue(i, t,
                                           holds(def.param_type) ? Interpolation::Hold
                                                                 : Interpolation::Linear));
            break;
        }
    }
}

// ---- the effect's parameter streams ------------------------------------------------------

std::optional<std::string> EffectInstance::expression(PF_ParamIndex index) const {
    std::lock_guard lock(mutex_);
    auto it = expressions_.find(index);
    if (it == expressions_.end()) return std::nullopt;
    return it->second;
}

void EffectInstance::setExpression(PF_ParamIndex index, std::string text) {
    std::lock_guard lock(mutex_);
    if (text.empty())
        expressions_.erase(index);
    else
        expressions_[index] = std::move(text);
}

A_long EffectInstance::streamFlags(PF_ParamIndex index) const {
    std::lock_guard lock(mutex_);
    auto it = streamFlags_.find(index);
    return it == streamFlags_.end() ? 0 : it->second;
}

void EffectInstance::setStreamFlag(PF_ParamIndex index, A_long flag, bool on) {
    std::lock_guard lock(mutex_);
    A_long &flags = streamFlags_[index];
    flags = on ? (flags | flag) : (flags & ~flag);
}

long EffectInstance::paramUIUpdates() const {
    std::lock_guard lock(mutex_);
    return paramUIUpdates_;
}

void EffectInstance::countParamUIUpdate() {
    std::lock_guard lock(mutex_);
    ++paramUIUpdates_;
}

// ---- plug-in ids and handles ---------------------------------------------------------------

A_long EffectInstance::registerPlugin(const std::string &name) {
    std::lock_guard lock(mutex_);
    const A_long id = nextPluginId_++;
    plugins_[id] = name;
    return id;
}

bool EffectInstance::isRegistered(A_long pluginId) const {
    std::lock_guard lock(mutex_);
    return plugins_.count(pluginId) != 0;
}

std::string EffectInstance::pluginName(A_long pluginId) const {
    std::lock_guard lock(mutex_);
    auto it = plugins_.find(pluginId);
    return it == plugins_.end() ? std::string() : it->second;
}

AEGP_LayerH EffectInstance::layerHandle(int index) {
    return static_cast<AEGP_LayerH>(handles_.stable(AegpKind::Layer, index));
}

AEGP_CompH EffectInstance::compHandle() {
    return static_cast<AEGP_CompH>(handles_.stable(AegpKind::Composition, -1));
}

AEGP_ItemH EffectInstance::itemHandle(int index) {
    return static_cast<AEGP_ItemH>(handles_.stable(AegpKind::Item, index));
}

int EffectInstance::layerIndex(AEGP_LayerH layer) const {
    const AegpObject *object = AegpHandles::find(layer, AegpKind::Layer);
    if (!object || object->owner != this) return -1;
    if (object->index < 0 || static_cast<std::size_t>(object->index) >= comp_.layers.size())
        return -1;
    return object->index;
}

} // namespace headless
