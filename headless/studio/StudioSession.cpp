#include "headless/studio/StudioSession.h"

#include "headless/boundary/Host.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/render/ColourManagement.h"
#include "headless/render/FramePlan.h"
#include "headless/studio/FolderPath.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace veltrix_studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

double fixedValue(PF_Fixed raw) { return raw / 65536.0; }

// Revisions count across the scenes a process opens, so that a frame asked
// for before another scene was opened is stale there too.
long nextRevision() {
    static std::atomic<long> last{0};
    return ++last;
}

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw headless::SceneError(path, "", "cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first Veltrix effect's entry of the document, or null.
const json *effectEntry(const json &doc) {
    if (!doc.is_object() || !doc.contains("layers") || !doc["layers"].is_array()) return nullptr;
    for (const json &layer : doc["layers"]) {
        if (!layer.is_object() || !layer.contains("effects") || !layer["effects"].is_array()) continue;
        for (const json &effect : layer["effects"])
            if (effect.is_object() && effect.value("effect", "") == headless::kSceneEffectName)
                return &effect;
    }
    return nullptr;
}

// The effect's parameters as the document gives them ({} when none).
json paramsOf(const json &doc) {
    const json *effect = effectEntry(doc);
    return effect && effect->contains("params") ? (*effect)["params"] : json::object();
}

// The document without the effect's parameters: when it stays the same, an
// edit touched parameters only and the composition (and the layer pixels and
// tables kept from earlier frames) stays.
std::string compositionKey(json doc) {
    if (json *effect = const_cast<json *>(effectEntry(doc))) effect->erase("params");
    return doc.dump();
}

std::vector<std::string> layerNames(const headless::Composition &comp) {
    std::vector<std::string> names;
    for (const headless::Layer &layer : comp.layers)
        names.push_back(layer.name.empty() ? layer.sourceName : layer.name);
    return names;
}

// A sample of the frame as the page's 8-bit canvas draws it.
std::uint8_t displaySample(std::uint16_t v) { return std::uint8_t((unsigned(v) * 255u + 32767u) / 65535u); }
std::uint8_t displaySample(float v) {
    if (!(v > 0.0f)) return 0;
    return v >= 1.0f ? 255 : std::uint8_t(std::lround(v * 255.0f));
}

template <class Sample>
void toDisplay(const std::vector<Sample> &samples, std::vector<std::uint8_t> &out) {
    out.resize(samples.size());
    std::transform(samples.begin(), samples.end(), out.begin(),
                   [](Sample v) { return displaySample(v); });
}

} // namespace

StudioSession::StudioSession(const headless::Plugin &plugin, headless::ParamCatalog catalog,
                             const std::string &path, int threads)
    : catalog_(std::move(catalog)), file_(path), revision_(nextRevision()) {
    const fs::path parent = fs::path(path).parent_path();
    folder_ = parent.empty() ? std::string(".") : parent.string();
    displaySpace_ = veltrix_render::requireColourSpace(veltrix_render::defaultOutputSpace(8), "the page");
    const std::string text = readText(path);
    headless::Scene scene = headless::parseScene(text, file_, folder_, catalog_, cachedReader());
    try {
        veltrix_render::bringFootageIntoWorkingSpace(scene);
    } catch (const veltrix_render::PlanError &e) {
        throw headless::SceneError(file_, "", e.what());
    }
    const headless::SceneEffect *effect = scene.effectOn("");
    if (!effect) throw headless::SceneError(file_, "layers", "no layer carries a Veltrix effect");
    doc_ = json::parse(text); // the loader read it already: it parses
    compositionKey_ = compositionKey(doc_);
    layerNames_ = layerNames(scene.composition);
    renderer_ = std::make_unique<veltrix_render::FrameRenderer>(plugin, std::move(scene.composition),
                                                                *effect, threads, 8, 1);
    // As a host does for a project it opens: the supervised parameters the
    // scene sets are announced, then the controls brought up to date.
    sendChanges(json::object(), paramsOf(doc_));
    settled_ = renderer_->effect().host().ledger().outstanding();
}

StudioSession::~StudioSession() = default;

headless::ImageReader StudioSession::cachedReader() {
    return [this](const std::string &path, headless::FootageSource &out, std::string &error) {
        std::error_code ec;
        const auto stamp = fs::last_write_time(path, ec);
        const std::int64_t ticks = ec ? 0 : std::int64_t(stamp.time_since_epoch().count());
        auto cached = images_.find(path);
        if (!ec && cached != images_.end() && cached->second.stamp == ticks) {
            out = cached->second.image;
            return true;
        }
        if (!veltrix_render::readImage(path, out, error)) return false;
        if (!ec) images_[path] = CachedImage{ticks, out};
        return true;
    };
}

json StudioSession::state() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stateLocked();
}

json StudioSession::document() {
    std::lock_guard<std::mutex> lock(mutex_);
    return doc_;
}

json StudioSession::setParam(const std::string &name, const json &value, bool live) {
    std::lock_guard<std::mutex> lock(mutex_);
    json doc = doc_;
    json *effect = const_cast<json *>(effectEntry(doc));
    if (!effect) throw EditError("layers", "no layer carries a Veltrix effect");
    (*effect)["params"][name] = value;
    edit(std::move(doc), live ? name : std::string());
    return stateLocked();
}

namespace {

// The footage files a document names, by layer index.
std::map<std::size_t, std::string> footageSources(const json &doc) {
    std::map<std::size_t, std::string> sources;
    if (!doc.is_object() || !doc.contains("layers") || !doc["layers"].is_array()) return sources;
    for (std::size_t i = 0; i < doc["layers"].size(); ++i) {
        const json &layer = doc["layers"][i];
        if (layer.is_object() && layer.contains("source") && layer["source"].is_string())
            sources[i] = layer["source"].get<std::string>();
    }
    return sources;
}

// A footage file an edit names for the first time must lie in the scene's
// folder by its name: the page reads nothing elsewhere (links the folder
// itself holds are its owner's choice). Files the scene named as it was
// opened stay as they are.
void checkNewSources(const json &before, const json &after) {
    std::set<std::string> known;
    for (const auto &[index, source] : footageSources(before)) known.insert(source);
    for (const auto &[index, source] : footageSources(after)) {
        std::string error;
        if (!known.count(source) && !plainRelativePath(source, error))
            throw EditError("layers[" + std::to_string(index) + "].source", error);
    }
}

} // namespace

void StudioSession::edit(json doc, const std::string &liveParam) {
    checkNewSources(doc_, doc);
    json before = doc_;
    commit(std::move(doc));
    const bool sameDrag = !liveParam.empty() && liveParam == liveParam_ && !undo_.empty();
    if (!sameDrag) undo_.push_back(std::move(before));
    if (undo_.size() > kHistory) undo_.erase(undo_.begin());
    redo_.clear();
    liveParam_ = liveParam;
}

namespace {

// An array index as a JSON pointer writes it: digits, no leading zero, below `size`.
std::size_t arrayIndex(const std::string &token, std::size_t size, const std::string &pointer) {
    const bool digits = !token.empty() && token.size() < 10 &&
                        std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                        (token == "0" || token[0] != '0');
    const std::size_t index = digits ? std::stoul(token) : size;
    if (index >= size) throw EditError(pointer, "there is no element " + token + " there");
    return index;
}

} // namespace

json StudioSession::editDocument(const std::string &pointer, const json *value) {
    std::lock_guard<std::mutex> lock(mutex_);
    json::json_pointer where;
    try {
        where = json::json_pointer(pointer);
    } catch (const json::exception &) {
        throw EditError(pointer, "not a JSON pointer (\"/layers/0/transform/position\")");
    }
    if (where.empty()) throw EditError(pointer, "name a place inside the scene");
    std::vector<std::string> tokens;
    for (json::json_pointer rest = where; !rest.empty(); rest.pop_back()) tokens.insert(tokens.begin(), rest.back());
    const std::string key = tokens.back();
    tokens.pop_back();

    json doc = doc_;
    json *parent = &doc;
    for (const std::string &token : tokens) {
        if (parent->is_object()) {
            if (!parent->contains(token)) {
                if (!value) throw EditError(pointer, "there is nothing there to remove");
                (*parent)[token] = json::object();
            }
            parent = &(*parent)[token];
        } else if (parent->is_array()) {
            parent = &(*parent)[arrayIndex(token, parent->size(), pointer)];
        } else {
            throw EditError(pointer, "\"" + token + "\" is inside a value, not a list or object");
        }
    }
    if (parent->is_object()) {
        if (value)
            (*parent)[key] = *value;
        else if (parent->erase(key) == 0)
            throw EditError(pointer, "there is nothing there to remove");
    } else if (parent->is_array()) {
        if (value && key == "-")
            parent->push_back(*value);
        else if (value)
            (*parent)[arrayIndex(key, parent->size(), pointer)] = *value;
        else
            parent->erase(arrayIndex(key, parent->size(), pointer));
    } else {
        throw EditError(pointer, "the place is inside a value, not a list or object");
    }
    edit(std::move(doc), "");
    return stateLocked();
}

json StudioSession::undo() { return travel(undo_, redo_, "nothing to undo"); }

json StudioSession::redo() { return travel(redo_, undo_, "nothing to redo"); }

json StudioSession::travel(std::vector<json> &from, std::vector<json> &to, const char *nothing) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from.empty()) throw EditError("", nothing);
    json current = doc_;
    commit(from.back());
    from.pop_back();
    to.push_back(std::move(current));
    liveParam_.clear();
    return stateLocked();
}

json StudioSession::resetParams(const std::string &name) {
    std::lock_guard<std::mutex> lock(mutex_);
    json doc = doc_;
    json *effect = const_cast<json *>(effectEntry(doc));
    if (effect && effect->contains("params")) {
        if (name.empty())
            effect->erase("params");
        else
            (*effect)["params"].erase(name);
    }
    edit(std::move(doc), "");
    return stateLocked();
}

void StudioSession::commit(json doc) {
    headless::Scene scene;
    try {
        scene = headless::parseScene(doc.dump(), file_, folder_, catalog_, cachedReader());
    } catch (const headless::SceneError &e) {
        throw EditError(e.place(), e.reason());
    }
    const headless::SceneEffect *effect = scene.effectOn("");
    if (!effect) throw EditError("layers", "no layer carries a Veltrix effect");

    headless::EffectInstance &instance = renderer_->effect();
    std::string key = compositionKey(doc);
    if (key != compositionKey_) {
        // Footage in the working space, as veltrix-render reads it: what the
        // page shows is what a saved scene renders.
        try {
            veltrix_render::bringFootageIntoWorkingSpace(scene);
        } catch (const veltrix_render::PlanError &e) {
            throw EditError("composition", e.what());
        }
        layerNames_ = layerNames(scene.composition);
        instance.editComposition() = std::move(scene.composition);
        instance.setEffectLayer(effect->layer);
        compositionKey_ = std::move(key);
    }
    for (const headless::ParamInfo &info : catalog_.all()) {
        if (!info.settable) continue;
        auto track = effect->params.find(info.index);
        if (track != effect->params.end()) {
            instance.param(info.index) = track->second;
        } else if (instance.hasTrack(info.index)) {
            // Without its track a parameter reads its stored record: its
            // registered value again (the flags the plug-in set stay).
            instance.clearParam(info.index);
            instance.host().params().at(info.index).u = info.def.u;
        }
    }
    const json before = paramsOf(doc_);
    doc_ = std::move(doc);
    revision_ = nextRevision();
    sendChanges(before, paramsOf(doc_));
}

void StudioSession::sendChanges(const json &before, const json &after) {
    headless::Host &host = renderer_->effect().host();
    for (const headless::ParamInfo &info : catalog_.all()) {
        if (!(info.def.flags & PF_ParamFlag_SUPERVISE)) continue;
        const json none;
        const json &was = before.contains(info.name) ? before[info.name] : none;
        const json &is = after.contains(info.name) ? after[info.name] : none;
        if (was != is) host.userChangedParam(info.index);
    }
    host.updateParamsUI();
}

json StudioSession::defaultValue(const headless::ParamInfo &info) const {
    const PF_ParamDef &def = info.def;
    switch (def.param_type) {
    case PF_Param_SLIDER: return def.u.sd.dephault;
    case PF_Param_FIX_SLIDER: return fixedValue(def.u.fd.dephault);
    case PF_Param_FLOAT_SLIDER: return def.u.fs_d.dephault;
    case PF_Param_ANGLE: return fixedValue(def.u.ad.dephault);
    case PF_Param_CHECKBOX: return bool(def.u.bd.dephault);
    case PF_Param_POPUP: {
        const int n = def.u.pd.dephault;
        if (n >= 1 && std::size_t(n) <= info.choices.size()) return info.choices[std::size_t(n) - 1];
        return n;
    }
    case PF_Param_COLOR: {
        const PF_Pixel &c = def.u.cd.dephault;
        return json::array({c.red, c.green, c.blue});
    }
    case PF_Param_POINT: {
        // The default is a share of the effect layer's size.
        const PF_InData &in = *renderer_->effect().host().inData();
        return json::array({fixedValue(def.u.td.x_dephault) * in.width / 100.0,
                            fixedValue(def.u.td.y_dephault) * in.height / 100.0});
    }
    case PF_Param_LAYER: {
        const int self = renderer_->effect().effectLayer();
        if (def.u.ld.dephault == PF_LayerDefault_MYSELF && self >= 0 &&
            std::size_t(self) < layerNames_.size())
            return layerNames_[std::size_t(self)];
        return nullptr;
    }
    default: return nullptr;
    }
}

json StudioSession::catalogJson() const {
    json list = json::array();
    for (const headless::ParamInfo &info : catalog_.all()) {
        if (info.index == 0) continue;
        const PF_ParamDef &def = info.def;
        json entry = {{"index", info.index},
                      {"name", info.name},
                      {"type", info.typeName()},
                      {"settable", info.settable},
                      {"supervised", bool(def.flags & PF_ParamFlag_SUPERVISE)},
                      {"collapsed", bool(def.flags & PF_ParamFlag_START_COLLAPSED)},
                      {"range", info.rangeText()},
                      {"default", defaultValue(info)}};
        if (def.param_type == PF_Param_GROUP_START) entry["group"] = "start";
        if (def.param_type == PF_Param_GROUP_END) entry["group"] = "end";
        const auto range = [&](double validMin, double validMax, double sliderMin, double sliderMax) {
            entry["validMin"] = validMin;
            entry["validMax"] = validMax;
            entry["sliderMin"] = sliderMin;
            entry["sliderMax"] = sliderMax;
        };
        switch (def.param_type) {
        case PF_Param_SLIDER:
            range(def.u.sd.valid_min, def.u.sd.valid_max, def.u.sd.slider_min, def.u.sd.slider_max);
            entry["precision"] = 0;
            break;
        case PF_Param_FIX_SLIDER:
            range(fixedValue(def.u.fd.valid_min), fixedValue(def.u.fd.valid_max),
                  fixedValue(def.u.fd.slider_min), fixedValue(def.u.fd.slider_max));
            entry["precision"] = def.u.fd.precision;
            break;
        case PF_Param_FLOAT_SLIDER:
            range(def.u.fs_d.valid_min, def.u.fs_d.valid_max, def.u.fs_d.slider_min,
                  def.u.fs_d.slider_max);
            entry["precision"] = def.u.fs_d.precision;
            break;
        case PF_Param_ANGLE:
            if (def.u.ad.valid_min < def.u.ad.valid_max) {
                entry["validMin"] = fixedValue(def.u.ad.valid_min);
                entry["validMax"] = fixedValue(def.u.ad.valid_max);
            }
            break;
        case PF_Param_POPUP: entry["choices"] = info.choices; break;
        default: break;
        }
        list.push_back(std::move(entry));
    }
    return list;
}

json StudioSession::stateLocked() {
    headless::EffectInstance &instance = renderer_->effect();
    headless::Host &host = instance.host();
    json ui = json::array();
    for (const headless::ParamInfo &info : catalog_.all()) {
        if (info.index == 0) continue;
        const PF_ParamDef &record = host.params().at(info.index);
        json entry = {{"index", info.index},
                      {"disabled", bool(record.ui_flags & PF_PUI_DISABLED)},
                      {"hidden", bool(record.ui_flags & PF_PUI_INVISIBLE) ||
                                     bool(instance.streamFlags(info.index) & AEGP_DynStreamFlag_HIDDEN)}};
        if (auto expression = instance.expression(info.index)) entry["expression"] = *expression;
        ui.push_back(std::move(entry));
    }
    const headless::Composition &comp = instance.composition();
    const PF_InData &in = *host.inData();
    return {{"file", fs::path(file_).filename().string()},
            {"revision", revision_},
            {"composition",
             {{"width", comp.width}, {"height", comp.height}, {"frameRate", comp.frameRate},
              {"duration", comp.duration}, {"startFrame", comp.startFrame}}},
            {"layerSize", {in.width, in.height}},
            {"layers", layerNames_},
            {"effectLayer", instance.effectLayer()},
            {"catalog", catalogJson()},
            {"values", paramsOf(doc_)},
            {"document", doc_},
            {"canUndo", !undo_.empty()},
            {"canRedo", !redo_.empty()},
            {"ui", std::move(ui)}};
}

bool StudioSession::render(const FrameRequest &request, Frame &out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request.revision != revision_) return false;
    renderer_->setOutput(request.depth, request.downsample);
    const auto start = std::chrono::steady_clock::now();
    veltrix_render::Image image = renderer_->render(request.time);
    out.renderMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // The page draws sRGB: a frame of another working space is shown as the
    // 8-bit file veltrix-render writes of it would show it.
    std::string error;
    if (!veltrix_render::convertFrame(image, renderer_->composition().workingSpace, displaySpace_, error))
        throw veltrix_render::RenderError("the frame cannot be shown in sRGB: " + error);
    out.width = image.width;
    out.height = image.height;
    out.depth = image.bits;
    out.downsample = renderer_->downsample();
    out.revision = revision_;
    switch (image.bits) {
    case 16: toDisplay(image.u16, out.rgba8); break;
    case 32: toDisplay(image.f32, out.rgba8); break;
    default: out.rgba8 = image.u8; break;
    }
    return true;
}

json StudioSession::health() {
    std::lock_guard<std::mutex> lock(mutex_);
    const headless::Ledger &ledger = renderer_->effect().host().ledger();
    const bool clean = ledger.problems().empty() && ledger.outstanding() == settled_;
    return {{"ledgerClean", clean}, {"ledger", ledger.report()}, {"revision", revision_}};
}

} // namespace veltrix_studio
