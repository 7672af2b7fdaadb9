#include "headless/composition/SceneFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>

namespace headless {

using nlohmann::json;

namespace {

// Limits a person would never reach on purpose; beyond them a typo has
// probably added digits, and honouring it could exhaust the machine.
constexpr int kMaxSize = 30000;            // pixels, as the host's largest composition
constexpr double kMaxFrameRate = 999.0;
constexpr double kMaxDuration = 86400.0;    // seconds
constexpr double kMaxPixelAspect = 100.0;
constexpr double kMinPixelAspect = 0.01;   // as far below 1 as the largest is above
// The host counts a composition's time in ticks of its frame rate times at
// most 1000 (compositionTimeScale); a slower rate would have no tick at all.
constexpr double kMinFrameRate = 0.001;
constexpr int kMaxStartFrame = 999999999;  // nine digits, as --frame takes
constexpr double kFixedLimit = 32768.0;     // 16.16 values stay below this magnitude

// ---- places in the file --------------------------------------------------------------

bool isIdentifier(const std::string &key) {
    if (key.empty() || !(std::isalpha(static_cast<unsigned char>(key[0])) || key[0] == '_'))
        return false;
    return std::all_of(key.begin(), key.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

std::string jsonQuoted(const std::string &text) { return json(text).dump(); }

std::string childPlace(const std::string &parent, const std::string &key) {
    if (isIdentifier(key)) return parent.empty() ? key : parent + "." + key;
    return parent + "[" + jsonQuoted(key) + "]";
}

// Parameters are named as the controls show them, so always in brackets.
std::string paramPlace(const std::string &parent, const std::string &name) {
    return parent + "[" + jsonQuoted(name) + "]";
}

std::string childPlace(const std::string &parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

// What a JSON value is, for "expected ..., found ..." messages.
std::string describe(const json &v) {
    std::string shown = v.dump();
    if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
    switch (v.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return shown;
    case json::value_t::string: return "the text " + shown;
    case json::value_t::array: return "an array " + shown;
    case json::value_t::object: return "an object";
    default: return "the number " + shown;
    }
}

std::string numberText(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

// ---- reading JSON ---------------------------------------------------------------------

// Duplicate keys are legal JSON but keep only one of the values silently; in
// a hand-written scene they are almost always a mistake, so they are refused.
// The parser's callback tracks the place of every value to say where.
class DuplicateKeyCheck {
public:
    struct Found {
        std::string place;
    };

    bool operator()(int /*depth*/, json::parse_event_t event, json &parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            beginElement();
            frames_.push_back(Frame{event == json::parse_event_t::object_start, {}, {}, -1});
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            if (!frames_.empty()) frames_.pop_back();
            break;
        case json::parse_event_t::key: {
            Frame &frame = frames_.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second) throw Found{place()};
            break;
        }
        case json::parse_event_t::value: beginElement(); break;
        }
        return true;
    }

    // Where the value the parser is reading belongs: the current key of an
    // object, or the element after the last complete one of an array. For
    // errors the parser raises inside a value.
    std::string pendingPlace() const {
        std::string out;
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            const Frame &f = frames_[i];
            const long next = f.index + (i + 1 == frames_.size() ? 1 : 0);
            out = f.object ? childPlace(out, f.key) : childPlace(out, std::size_t(next));
        }
        return out;
    }

private:
    struct Frame {
        bool object;
        std::set<std::string> keys;
        std::string key;
        long index;
    };

    void beginElement() {
        if (!frames_.empty() && !frames_.back().object) ++frames_.back().index;
    }

    std::string place() const {
        std::string out;
        for (const Frame &f : frames_)
            out = f.object ? childPlace(out, f.key) : childPlace(out, std::size_t(f.index));
        return out;
    }

    std::vector<Frame> frames_;
};

// Line and column (from 1) of byte offset `offset` in `text`.
std::pair<std::size_t, std::size_t> lineAndColumn(const std::string &text, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

// The parser's message without its own prefix ("[json.exception...] parse
// error at line 3, column 1: ").
std::string parseReason(const std::string &what) {
    std::size_t start = what.find("column ");
    if (start != std::string::npos) start = what.find(": ", start);
    if (start == std::string::npos) {
        start = what.find("] ");
        return start == std::string::npos ? what : what.substr(start + 2);
    }
    return what.substr(start + 2);
}

json parseJson(const std::string &text, const std::string &file) {
    DuplicateKeyCheck check;
    try {
        return json::parse(text, std::ref(check));
    } catch (const DuplicateKeyCheck::Found &found) {
        throw SceneError(file, found.place, "this key appears twice in the same object");
    } catch (const json::parse_error &e) {
        // e.byte counts from 1 and points just past the offending character.
        const std::size_t offset = e.byte > 0 ? e.byte - 1 : 0;
        const auto [line, column] = lineAndColumn(text, offset);
        throw SceneError(file, std::to_string(line) + ":" + std::to_string(column),
                         "malformed JSON: " + parseReason(e.what()));
    } catch (const json::exception &e) {
        // Raised inside a value, such as a number too large for a double (1e400).
        throw SceneError(file, check.pendingPlace(), parseReason(e.what()));
    }
}

// ---- a value and its place --------------------------------------------------------------

class Node {
public:
    Node(const json &value, std::string place, const std::string &file)
        : value_(value), place_(std::move(place)), file_(file) {}

    const json &value() const { return value_; }
    const std::string &place() const { return place_; }

    [[noreturn]] void fail(const std::string &reason) const {
        throw SceneError(file_, place_, reason);
    }
    [[noreturn]] void expected(const std::string &what) const {
        fail("expected " + what + ", found " + describe(value_));
    }

    bool isNull() const { return value_.is_null(); }
    bool isObject() const { return value_.is_object(); }
    bool isArray() const { return value_.is_array(); }
    bool isString() const { return value_.is_string(); }
    bool isNumber() const { return value_.is_number(); }

    // An object whose keys are all in `known`.
    const Node &object(const std::vector<std::string> &known) const {
        if (!isObject()) expected("an object");
        for (const auto &[key, child] : value_.items()) {
            if (std::find(known.begin(), known.end(), key) != known.end()) continue;
            std::string list;
            for (const std::string &k : known) list += (list.empty() ? "" : ", ") + k;
            Node(child, childPlace(place_, key), file_)
                .fail("unknown key " + jsonQuoted(key) + " (known here: " + list + ")");
        }
        return *this;
    }

    bool has(const std::string &key) const { return value_.contains(key); }
    Node operator[](const std::string &key) const {
        if (!has(key)) fail("the key " + jsonQuoted(key) + " is missing");
        return Node(value_.at(key), childPlace(place_, key), file_);
    }
    std::optional<Node> optional(const std::string &key) const {
        if (!has(key)) return std::nullopt;
        return Node(value_.at(key), childPlace(place_, key), file_);
    }

    std::vector<Node> elements(std::size_t minCount, std::size_t maxCount,
                               const std::string &what) const {
        if (!isArray() || value_.size() < minCount || value_.size() > maxCount) expected(what);
        std::vector<Node> out;
        for (std::size_t i = 0; i < value_.size(); ++i)
            out.emplace_back(value_[i], childPlace(place_, i), file_);
        return out;
    }

    double number() const {
        if (!isNumber()) expected("a number");
        const double v = value_.get<double>();
        if (!std::isfinite(v)) fail("the number is too large");
        return v;
    }
    double number(double lo, double hi) const {
        const double v = number();
        if (v < lo || v > hi)
            fail(numberText(v) + " is outside " + numberText(lo) + " to " + numberText(hi));
        return v;
    }
    double positive(double hi) const {
        const double v = number();
        if (!(v > 0.0) || v > hi)
            fail(numberText(v) + " is outside the allowed range: more than 0, at most " +
                 numberText(hi));
        return v;
    }
    // A number in [lo, hi]; below lo, `why` says what a smaller one breaks.
    double between(double lo, double hi, const std::string &why) const {
        const double v = number();
        if (v < lo)
            fail(numberText(v) + " is too small: at least " + numberText(lo) + " (" + why + ")");
        if (v > hi) fail(numberText(v) + " is too large: at most " + numberText(hi));
        return v;
    }
    int integer(int lo, int hi) const {
        const double v = number();
        if (v != std::floor(v)) fail("expected a whole number, found " + numberText(v));
        if (v < lo || v > hi)
            fail(numberText(v) + " is outside " + std::to_string(lo) + " to " + std::to_string(hi));
        return static_cast<int>(v);
    }
    bool boolean() const {
        if (!value_.is_boolean()) expected("true or false");
        return value_.get<bool>();
    }
    std::string string() const {
        if (!isString()) expected("text");
        return value_.get<std::string>();
    }

private:
    const json &value_;
    std::string place_;
    const std::string &file_;
};

// ---- animated values ---------------------------------------------------------------------

bool isKeyframed(const Node &node) { return node.isObject() && node.has("keyframes"); }

// Reads a value that may be {"keyframes": [[time, value], ...]}; `plain`
// reads one value (plain or of a key) from a node.
template <class T, class Read>
Animated<T> readAnimated(const Node &node, Read plain) {
    if (!isKeyframed(node)) return Animated<T>(plain(node));
    node.object({"keyframes"});
    Animated<T> animated;
    const std::vector<Node> keys =
        node["keyframes"].elements(1, SIZE_MAX, "a list of [time, value] keys");
    for (const Node &key : keys) {
        const std::vector<Node> pair = key.elements(2, 2, "a [time, value] key");
        const double time = pair[0].number();
        animated.keys.push_back(Keyframe<T>{time, plain(pair[1])});
    }
    animated.value = animated.keys.front().value;
    return animated;
}

// [x, y] or [x, y, z]; a missing z is `zDefault`.
Vec3 readVec(const Node &node, double zDefault) {
    const std::vector<Node> parts = node.elements(2, 3, "[x, y] or [x, y, z]");
    return Vec3{parts[0].number(), parts[1].number(),
                parts.size() == 3 ? parts[2].number() : zDefault};
}

Vec3 readVec3(const Node &node) {
    const std::vector<Node> parts = node.elements(3, 3, "[x, y, z]");
    return Vec3{parts[0].number(), parts[1].number(), parts[2].number()};
}

// [r, g, b] with channels 0..1.
ColorValue readUnitColor(const Node &node) {
    const std::vector<Node> parts = node.elements(3, 3, "a colour [r, g, b] with channels 0 to 1");
    return ColorValue{1.0, parts[0].number(0.0, 1.0), parts[1].number(0.0, 1.0),
                      parts[2].number(0.0, 1.0)};
}

Animated<double> animatedNumber(const Node &node) {
    return readAnimated<double>(node, [](const Node &n) { return n.number(); });
}
Animated<double> animatedNumber(const Node &node, double lo, double hi) {
    return readAnimated<double>(node, [lo, hi](const Node &n) { return n.number(lo, hi); });
}
Animated<double> animatedPositive(const Node &node, double hi) {
    return readAnimated<double>(node, [hi](const Node &n) { return n.positive(hi); });
}

// A number as a ratio of whole numbers (0.9 -> 9/10), for pixel aspects.
Ratio ratioOf(double v) {
    const unsigned long den = 100000;
    const long num = static_cast<long>(std::llround(v * double(den)));
    const unsigned long g = std::gcd(static_cast<unsigned long>(num), den);
    return Ratio{num / static_cast<long>(g), den / g};
}

// A pixel aspect as the scene gives it (the composition's or a layer's):
// from kMinPixelAspect to kMaxPixelAspect, so that it never rounds to a
// ratio of 0.
Ratio readPixelAspect(const Node &node) {
    return ratioOf(node.between(kMinPixelAspect, kMaxPixelAspect,
                                "narrower pixels cannot be represented"));
}

// ---- the loader ------------------------------------------------------------------------

// "$schema" lets an editor find the format's JSON Schema; the loader ignores it.
const std::vector<std::string> kSceneKeys = {"$schema", "composition", "layers"};
const std::vector<std::string> kCompositionKeys = {"width",      "height",   "pixel_aspect",
                                                   "frame_rate", "duration", "start_frame",
                                                   "working_space"};
const std::vector<std::string> kCommonLayerKeys = {"name",   "type",      "in_point", "duration",
                                                   "enabled", "parent",   "transform", "effects"};
const std::vector<std::string> kTransformKeys = {
    "anchor_point", "position",   "point_of_interest", "scale",
    "orientation",  "x_rotation", "y_rotation",        "z_rotation"};
const std::vector<std::string> kCameraKeys = {"zoom",     "depth_of_field", "focus_distance",
                                              "aperture", "blur_level",     "projection"};
const std::vector<std::string> kLightKeys = {
    "type",         "intensity",       "color",            "cone_angle",
    "cone_feather", "shadow_darkness", "shadow_diffusion", "casts_shadows"};

const std::vector<std::pair<std::string, LayerType>> kTypeLayerKeys = {
    {"width", LayerType::Solid},   {"height", LayerType::Solid},  {"color", LayerType::Solid},
    {"source", LayerType::Footage}, {"colorspace", LayerType::Footage},
    {"camera", LayerType::Camera},  {"light", LayerType::Light}};

struct TypeName {
    const char *name;
    LayerType type;
};
constexpr TypeName kLayerTypes[] = {{"solid", LayerType::Solid},
                                    {"footage", LayerType::Footage},
                                    {"null", LayerType::Null},
                                    {"camera", LayerType::Camera},
                                    {"light", LayerType::Light}};

class Loader {
public:
    Loader(const std::string &file, const std::string &folder, const ParamCatalog &catalog,
           const ImageReader &readImage)
        : file_(file), folder_(folder), catalog_(catalog), readImage_(readImage) {}

    Scene load(const json &root) {
        Node scene(root, "", file_);
        scene.object(kSceneKeys);
        if (auto n = scene.optional("$schema")) n->string();
        Scene out;
        out.file = file_;
        out.composition = readComposition(scene["composition"]);
        out.composition.name = sceneName(file_);
        comp_ = &out.composition;

        const std::vector<Node> layers =
            scene["layers"].elements(0, SIZE_MAX, "a list of layers");
        readNames(layers);
        for (std::size_t i = 0; i < layers.size(); ++i)
            out.composition.layers.push_back(readLayer(layers[i], i, out.effects));
        for (std::size_t i = 0; i < layers.size(); ++i) resolveParent(layers[i], i);
        for (const std::string &problem : validate(out.composition))
            throw SceneError(file_, "", problem); // a backstop: the checks above cover these
        return out;
    }

    // Sets `name` (a parameter, or "LAYER.key") to `value` in a loaded scene.
    void applyOverride(Scene &scene, SceneEffect &effect, const std::string &name,
                       const json &value) {
        comp_ = &scene.composition;
        names_.clear();
        types_.clear();
        for (const Layer &layer : scene.composition.layers) {
            names_.push_back(layer.shownName());
            types_.push_back(layer.type);
        }
        // A parameter first; then "LAYER.key" when LAYER is a layer's name
        // (parameter names hold dots too: "Dist. from Center").
        const std::size_t dot = name.rfind('.');
        const bool layerKey =
            !catalog_.find(name) && dot != std::string::npos &&
            (std::count(names_.begin(), names_.end(), name.substr(0, dot)) > 0 ||
             !catalog_.closest(name));
        if (!layerKey) {
            const Node param(value, "", file_);
            const ParamInfo &info = parameterNamed(param, name);
            effect.params[info.index] = readAnimated<ParamValue>(
                param, [this, &info](const Node &n) { return paramValue(n, info); });
            return;
        }
        const int index = overriddenLayer(name.substr(0, dot));
        overrideLayerKey(comp_->layers[std::size_t(index)], std::size_t(index), name.substr(dot + 1),
                         value);
    }

private:
    // The layer `shown` of a "LAYER.key" override; fails with the closest name.
    int overriddenLayer(const std::string &shown) const {
        const json none;
        const Node here(none, "", file_);
        std::size_t best = SIZE_MAX, bestDistance = SIZE_MAX;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == shown) return layerNamed(here, shown); // also refuses duplicates
            const std::size_t d = editDistance(shown, names_[i]);
            if (d < bestDistance) best = i, bestDistance = d;
        }
        const bool near = best != SIZE_MAX && bestDistance <= std::max<std::size_t>(2, shown.size() / 3);
        here.fail("no layer and no parameter is named " + jsonQuoted(shown) +
                  (near ? "; did you mean the layer " + jsonQuoted(names_[best]) + "?" : "") +
                  " (a layer's setting is LAYER.key, e.g. \"Camera 1.zoom=900\")");
    }

    // Reads {key: value} with the reader of the transform, camera or light
    // settings that owns `key`, at the place the scene file would hold it.
    void overrideLayerKey(Layer &layer, std::size_t index, const std::string &key,
                          const json &value) const {
        const json object = {{key, value}};
        const std::string place = childPlace("layers", index);
        auto has = [&key](const std::vector<std::string> &keys) {
            return std::find(keys.begin(), keys.end(), key) != keys.end();
        };
        if (has(kTransformKeys))
            return readTransform(Node(object, childPlace(place, "transform"), file_), layer);
        if (layer.type == LayerType::Camera && has(kCameraKeys))
            return readCamera(Node(object, childPlace(place, "camera"), file_), layer.camera);
        if (layer.type == LayerType::Light && has(kLightKeys) && key != "type")
            return readLight(Node(object, childPlace(place, "light"), file_), layer.light);
        std::vector<std::string> known = kTransformKeys;
        if (layer.type == LayerType::Camera) known.insert(known.end(), kCameraKeys.begin(), kCameraKeys.end());
        if (layer.type == LayerType::Light)
            for (const std::string &k : kLightKeys)
                if (k != "type") known.push_back(k);
        std::string list, near;
        std::size_t nearDistance = std::max<std::size_t>(2, key.size() / 3) + 1;
        for (const std::string &k : known) {
            list += (list.empty() ? "" : ", ") + k;
            if (const std::size_t d = editDistance(key, k); d < nearDistance) near = k, nearDistance = d;
        }
        Node(value, place, file_)
            .fail("the " + std::string(kLayerTypes[int(layer.type)].name) + " layer " +
                  jsonQuoted(names_[index]) + " has no setting " + jsonQuoted(key) +
                  (near.empty() ? "" : "; did you mean " + jsonQuoted(near) + "?") +
                  " (settable here: " + list + ")");
    }

    // ---- composition ----
    Composition readComposition(const Node &node) const {
        node.object(kCompositionKeys);
        Composition comp;
        comp.width = node["width"].integer(1, kMaxSize);
        comp.height = node["height"].integer(1, kMaxSize);
        if (auto n = node.optional("pixel_aspect"))
            comp.pixelAspect = readPixelAspect(*n);
        if (auto n = node.optional("frame_rate"))
            comp.frameRate = n->between(kMinFrameRate, kMaxFrameRate,
                                        "the host times frames in thousandths of a frame");
        if (auto n = node.optional("duration")) comp.duration = n->positive(kMaxDuration);
        if (auto n = node.optional("start_frame")) comp.startFrame = n->integer(0, kMaxStartFrame);
        readWorkingSpace(node, comp);
        return comp;
    }

    // ---- colour: names only; the renderer knows the spaces and checks them ----
    static std::string colourSpaceName(const Node &node) {
        const std::string name = node.string();
        if (name.empty()) node.fail("a colour space name may not be empty");
        return name;
    }
    static void readWorkingSpace(const Node &node, Composition &comp) {
        if (auto n = node.optional("working_space")) comp.workingSpace = colourSpaceName(*n);
    }
    static void readFootageColourSpace(const Node &node, Layer &layer) {
        if (auto n = node.optional("colorspace")) layer.footage.colorSpace = colourSpaceName(*n);
    }

    // ---- layer names, known before any layer refers to another ----
    void readNames(const std::vector<Node> &layers) {
        types_.clear();
        names_.clear();
        int counts[5] = {};
        const char *defaults[5] = {"Solid", "Footage", "Null", "Camera", "Light"};
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const Node &layer = layers[i];
            if (!layer.isObject()) layer.expected("a layer object");
            const LayerType type = readType(layer["type"]);
            types_.push_back(type);
            std::string name;
            if (auto n = layer.optional("name")) name = n->string();
            // Without a name of its own a layer shows its source's: the file
            // name of footage, a numbered default for the others.
            if (name.empty() && type == LayerType::Footage && layer.has("source") &&
                layer["source"].isString())
                name = std::filesystem::path(layer["source"].string()).filename().string();
            const int t = static_cast<int>(type);
            if (name.empty()) name = std::string(defaults[t]) + " " + std::to_string(++counts[t]);
            names_.push_back(name);
        }
    }

    static LayerType readType(const Node &node) {
        const std::string text = node.string();
        for (const TypeName &t : kLayerTypes)
            if (text == t.name) return t.type;
        node.fail("unknown layer type " + jsonQuoted(text) +
                  " (known: solid, footage, null, camera, light)");
    }

    // The layer shown as `name`; fails at `node` when none or several are.
    int layerNamed(const Node &node, const std::string &name) const {
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == name) found.push_back(i);
        if (found.empty()) node.fail("no layer is named " + jsonQuoted(name));
        if (found.size() > 1)
            node.fail(std::to_string(found.size()) + " layers are named " + jsonQuoted(name) +
                      " (layers[" + std::to_string(found[0]) + "] and layers[" +
                      std::to_string(found[1]) + "]); give them different names");
        return static_cast<int>(found[0]);
    }

    // ---- one layer ----
    Layer readLayer(const Node &node, std::size_t index, std::vector<SceneEffect> &effects) {
        const LayerType type = types_[index];
        node.object(layerKeys(type, node));
        Layer layer = makeLayer(node, type);
        if (auto n = node.optional("name")) layer.name = n->string();
        if (layer.name.empty() && type != LayerType::Footage && type != LayerType::Solid)
            layer.name = names_[index];
        if (layer.name.empty() && layer.sourceName.empty()) layer.sourceName = names_[index];

        if (auto n = node.optional("in_point")) layer.inPoint = n->number(-kMaxDuration, kMaxDuration);
        layer.duration = std::max(0.0, comp_->duration - layer.inPoint); // to the composition's end
        if (auto n = node.optional("duration")) layer.duration = n->positive(kMaxDuration);
        if (auto n = node.optional("enabled")) layer.video = n->boolean();
        if (auto n = node.optional("pixel_aspect")) readLayerPixelAspect(*n, layer);
        if (auto n = node.optional("transform")) readTransform(*n, layer);
        if (auto n = node.optional("effects")) readEffects(*n, index, effects);
        return layer;
    }

    // A solid's own pixel aspect (instead of its composition's), or footage's
    // whose file records none; a file's own is never overridden.
    static void readLayerPixelAspect(const Node &node, Layer &layer) {
        const Ratio given = readPixelAspect(node);
        if (layer.type == LayerType::Footage && layer.footage.pixelAspectRecorded) {
            const double recorded = layer.footage.pixelAspect.value();
            if (std::abs(given.value() - recorded) > 1.0e-4 * recorded)
                node.fail("the image records a pixel aspect of " + numberText(recorded) +
                          "; \"pixel_aspect\" is for images that record none");
        }
        layer.pixelAspect = given;
    }

    // The keys a layer of `type` may have; a key of another type is named as such.
    static std::vector<std::string> layerKeys(LayerType type, const Node &node) {
        std::vector<std::string> keys = kCommonLayerKeys;
        for (const auto &[key, owner] : kTypeLayerKeys) {
            if (owner == type) {
                keys.push_back(key);
            } else if (node.has(key)) {
                node[key].fail("\"" + key + "\" belongs to " + kLayerTypes[int(owner)].name +
                               " layers; this layer is a " + kLayerTypes[int(type)].name);
            }
        }
        if (type == LayerType::Solid || type == LayerType::Footage)
            keys.push_back("pixel_aspect");
        else if (node.has("pixel_aspect"))
            node["pixel_aspect"].fail(std::string("\"pixel_aspect\" belongs to solid and footage "
                                                  "layers; this layer is a ") +
                                      kLayerTypes[int(type)].name);
        if (type == LayerType::Camera || type == LayerType::Light) {
            if (node.has("effects"))
                node["effects"].fail("cameras and lights carry no effects");
        }
        return keys;
    }

    Layer makeLayer(const Node &node, LayerType type) {
        switch (type) {
        case LayerType::Solid: {
            const int w = node.has("width") ? node["width"].integer(1, kMaxSize) : comp_->width;
            const int h = node.has("height") ? node["height"].integer(1, kMaxSize) : comp_->height;
            if (node.has("color") && isKeyframed(node["color"]))
                node["color"].fail("a solid's colour cannot be keyframed: it is the solid's "
                                   "source image, made once (a light's colour can be)");
            const ColorValue color =
                node.has("color") ? readUnitColor(node["color"]) : ColorValue{};
            return makeSolid(*comp_, "", w, h, color);
        }
        case LayerType::Footage: {
            Layer layer = readFootage(node["source"]);
            readFootageColourSpace(node, layer);
            return layer;
        }
        case LayerType::Null: return makeNull(*comp_, "");
        case LayerType::Camera: {
            Layer layer = makeCamera(*comp_, "");
            if (auto n = node.optional("camera")) readCamera(*n, layer.camera);
            return layer;
        }
        case LayerType::Light: {
            LightType lightType = LightType::Point;
            const std::optional<Node> light = node.optional("light");
            if (light) {
                light->object(kLightKeys);
                if (auto n = light->optional("type")) lightType = readLightType(*n);
            }
            Layer layer = makeLight(*comp_, "", lightType);
            if (light) readLight(*light, layer.light);
            return layer;
        }
        }
        node.fail("unknown layer type");
    }

    Layer readFootage(const Node &node) const {
        const std::string source = node.string();
        if (source.empty()) node.fail("the image path is empty");
        const std::filesystem::path path = std::filesystem::path(folder_) / source;
        FootageSource image;
        std::string error;
        if (!readImage_ || !readImage_(path.string(), image, error))
            node.fail("cannot read the image " + jsonQuoted(path.string()) +
                      (error.empty() ? "" : ": " + error));
        if (image.width <= 0 || image.height <= 0)
            node.fail("the image " + jsonQuoted(path.string()) + " has no pixels (" +
                      std::to_string(image.width) + " x " + std::to_string(image.height) + ")");
        if (image.width > kMaxSize || image.height > kMaxSize)
            node.fail("the image " + jsonQuoted(path.string()) + " is larger than " +
                      std::to_string(kMaxSize) + " pixels a side");
        if (!image.wellFormed())
            node.fail("the image reader returned the wrong number of pixels for " +
                      jsonQuoted(path.string()));
        if (image.pixelAspect.den == 0 || image.pixelAspect.num <= 0) {
            image.pixelAspect = Ratio{};
            image.pixelAspectRecorded = false;
        }
        return makeFootage(*comp_, path.filename().string(), std::move(image));
    }

    static void readCamera(const Node &node, CameraStreams &camera) {
        node.object(kCameraKeys);
        if (auto n = node.optional("zoom")) camera.zoom = animatedPositive(*n, 1.0e7);
        if (auto n = node.optional("depth_of_field")) camera.depthOfField = n->boolean() ? 1.0 : 0.0;
        if (auto n = node.optional("focus_distance"))
            camera.focusDistance = animatedPositive(*n, 1.0e7);
        if (auto n = node.optional("aperture")) camera.aperture = animatedNumber(*n, 0.0, 1.0e5);
        if (auto n = node.optional("blur_level")) camera.blurLevel = animatedNumber(*n, 0.0, 1.0e5);
        if (auto n = node.optional("projection")) {
            const std::string p = n->string();
            if (p == "perspective")
                camera.type = CameraType::Perspective;
            else if (p == "orthographic")
                camera.type = CameraType::Orthographic;
            else
                n->fail("unknown projection " + jsonQuoted(p) + " (known: perspective, orthographic)");
        }
    }

    static LightType readLightType(const Node &node) {
        const std::string t = node.string();
        if (t == "parallel") return LightType::Parallel;
        if (t == "spot") return LightType::Spot;
        if (t == "point") return LightType::Point;
        if (t == "ambient") return LightType::Ambient;
        node.fail("unknown light type " + jsonQuoted(t) + " (known: parallel, spot, point, ambient)");
    }

    static void readLight(const Node &node, LightStreams &light) {
        if (auto n = node.optional("intensity")) light.intensity = animatedNumber(*n, -1.0e5, 1.0e5);
        if (auto n = node.optional("color"))
            light.color = readAnimated<ColorValue>(*n, readUnitColor);
        if (auto n = node.optional("cone_angle")) light.coneAngle = animatedNumber(*n, 0.0, 180.0);
        if (auto n = node.optional("cone_feather")) light.coneFeather = animatedNumber(*n, 0.0, 100.0);
        if (auto n = node.optional("shadow_darkness"))
            light.shadowDarkness = animatedNumber(*n, 0.0, 100.0);
        if (auto n = node.optional("shadow_diffusion"))
            light.shadowDiffusion = animatedNumber(*n, 0.0, 1.0e5);
        if (auto n = node.optional("casts_shadows")) light.castsShadows = n->boolean() ? 1.0 : 0.0;
    }

    static void readTransform(const Node &node, Layer &layer) {
        node.object(kTransformKeys);
        Transform &t = layer.transform;
        auto vec = [](double z) { return [z](const Node &n) { return readVec(n, z); }; };
        if (auto n = node.optional("anchor_point")) t.anchorPoint = readAnimated<Vec3>(*n, vec(0.0));
        if (auto n = node.optional("position")) t.position = readAnimated<Vec3>(*n, vec(0.0));
        if (auto n = node.optional("point_of_interest")) readPointOfInterest(*n, layer);
        if (auto n = node.optional("scale")) t.scale = readAnimated<Vec3>(*n, vec(100.0));
        if (auto n = node.optional("orientation")) t.orientation = readAnimated<Vec3>(*n, readVec3);
        if (auto n = node.optional("x_rotation")) t.rotationX = animatedNumber(*n);
        if (auto n = node.optional("y_rotation")) t.rotationY = animatedNumber(*n);
        if (auto n = node.optional("z_rotation")) t.rotationZ = animatedNumber(*n);
    }

    // Cameras, parallel lights and spot lights aim at a point of interest;
    // null turns that off (a one-node camera, aimed by its rotations alone).
    static void readPointOfInterest(const Node &node, Layer &layer) {
        const bool aims = layer.type == LayerType::Camera ||
                          (layer.type == LayerType::Light &&
                           (layer.light.type == LightType::Parallel ||
                            layer.light.type == LightType::Spot));
        if (!aims)
            node.fail("only cameras, parallel lights and spot lights have a point of interest");
        if (node.isNull()) {
            layer.transform.hasPointOfInterest = false;
            return;
        }
        layer.transform.hasPointOfInterest = true;
        layer.transform.pointOfInterest =
            readAnimated<Vec3>(node, [](const Node &n) { return readVec(n, 0.0); });
    }

    void resolveParent(const Node &node, std::size_t index) {
        Layer &layer = comp_->layers[index];
        const std::optional<Node> parent = node.optional("parent");
        if (!parent || parent->isNull()) return;
        const int p = layerNamed(*parent, parent->string());
        if (p == static_cast<int>(index)) parent->fail("a layer cannot be its own parent");
        layer.parent = p;
        // Walk up from the new parent; arriving back here closes a loop.
        std::string chain = jsonQuoted(names_[index]);
        std::vector<bool> seen(comp_->layers.size(), false);
        for (int at = p; at >= 0; at = comp_->layers[std::size_t(at)].parent) {
            chain += " -> " + jsonQuoted(names_[std::size_t(at)]);
            if (at == static_cast<int>(index)) parent->fail("the parents form a loop: " + chain);
            if (seen[std::size_t(at)]) break; // a loop further up, reported at its own layer
            seen[std::size_t(at)] = true;
        }
    }

    // ---- effects ----
    void readEffects(const Node &node, std::size_t layerIndex, std::vector<SceneEffect> &out) {
        bool carriesOne = false;
        for (const Node &entry : node.elements(0, SIZE_MAX, "a list of effects")) {
            entry.object({"effect", "params"});
            const Node name = entry["effect"];
            if (name.string() != kSceneEffectName)
                name.fail("unknown effect " + jsonQuoted(name.string()) + "; this renderer knows " +
                          jsonQuoted(kSceneEffectName));
            if (carriesOne) entry.fail("a layer can carry one Veltrix effect");
            carriesOne = true;
            SceneEffect effect;
            effect.layer = static_cast<int>(layerIndex);
            effect.place = entry.place();
            if (auto params = entry.optional("params")) readParams(*params, effect);
            out.push_back(std::move(effect));
        }
    }

    void readParams(const Node &node, SceneEffect &effect) const {
        if (!node.isObject()) node.expected("an object of parameter values by name");
        for (const auto &[name, value] : node.value().items()) {
            const Node param(value, paramPlace(node.place(), name), file_);
            const ParamInfo &info = parameterNamed(param, name);
            // Popups, checkboxes and layers hold between keys; the effect
            // instance applies that when it reads the track.
            effect.params[info.index] = readAnimated<ParamValue>(
                param, [this, &info](const Node &n) { return paramValue(n, info); });
        }
    }

    const ParamInfo &parameterNamed(const Node &node, const std::string &name) const {
        if (const ParamInfo *info = catalog_.find(name)) return *info;
        for (const ParamInfo &info : catalog_.all())
            if (info.name == name && info.def.param_type == PF_Param_GROUP_START)
                node.fail(jsonQuoted(name) + " is a group of controls, not a parameter; set the "
                                         "parameters inside it");
        std::string hint;
        if (const ParamInfo *near = catalog_.closest(name))
            hint = "; did you mean " + jsonQuoted(near->name) + "?";
        node.fail("unknown parameter " + jsonQuoted(name) + hint +
                  " (veltrix-render --list-params lists them)");
    }

    // One value of parameter `info`, in the units its control shows.
    ParamValue paramValue(const Node &node, const ParamInfo &info) const {
        const PF_ParamDef &def = info.def;
        switch (def.param_type) {
        case PF_Param_SLIDER: {
            const double v = node.number();
            if (v != std::floor(v)) node.fail("expected a whole number, found " + numberText(v));
            if (v < def.u.sd.valid_min || v > def.u.sd.valid_max) outOfRange(node, v, info);
            return {v};
        }
        case PF_Param_FIX_SLIDER: {
            const double v = node.number();
            // The control holds 16.16 fixed point: check what it would store.
            const double raw = std::round(v * 65536.0);
            if (raw < def.u.fd.valid_min || raw > def.u.fd.valid_max) outOfRange(node, v, info);
            return {v};
        }
        case PF_Param_FLOAT_SLIDER: {
            const double v = node.number();
            if (v < def.u.fs_d.valid_min || v > def.u.fs_d.valid_max) outOfRange(node, v, info);
            return {v};
        }
        case PF_Param_ANGLE: {
            const double v = node.number();
            if (std::fabs(v) >= kFixedLimit)
                node.fail(numberText(v) + " degrees is more than the control holds (less than " +
                          numberText(kFixedLimit) + " either way)");
            return {v};
        }
        case PF_Param_CHECKBOX: return {node.boolean() ? 1.0 : 0.0};
        case PF_Param_POPUP: return {double(choiceNumber(node, info))};
        case PF_Param_COLOR: {
            const std::vector<Node> c = node.elements(3, 3, "a colour [r, g, b] with channels 0 to 255");
            return {255.0, c[0].number(0.0, 255.0), c[1].number(0.0, 255.0),
                    c[2].number(0.0, 255.0)};
        }
        case PF_Param_POINT: {
            const std::vector<Node> p = node.elements(2, 2, "a point [x, y] in layer pixels");
            const double lim = kFixedLimit - 1.0;
            return {p[0].number(-lim, lim), p[1].number(-lim, lim)};
        }
        case PF_Param_LAYER: return {double(chosenLayer(node))};
        default: node.fail("this parameter cannot be set from a scene");
        }
    }

    [[noreturn]] static void outOfRange(const Node &node, double v, const ParamInfo &info) {
        node.fail(numberText(v) + " is outside the valid range of " + jsonQuoted(info.name) + ", " +
                  info.rangeText());
    }

    static int choiceNumber(const Node &node, const ParamInfo &info) {
        const int count = static_cast<int>(info.choices.size());
        if (node.isNumber()) {
            const double v = node.number();
            if (v != std::floor(v) || v < 1 || v > count)
                node.fail(numberText(v) + " is not a choice of " + jsonQuoted(info.name) + ": " +
                          info.rangeText());
            return static_cast<int>(v);
        }
        if (!node.isString()) node.expected("a choice (its text or its number from 1)");
        const std::string text = node.string();
        for (int i = 0; i < count; ++i)
            if (info.choices[std::size_t(i)] == text) return i + 1;
        node.fail(jsonQuoted(text) + " is not a choice of " + jsonQuoted(info.name) + ": " +
                  info.rangeText());
    }

    int chosenLayer(const Node &node) const {
        if (node.isNull()) return -1;
        if (!node.isString()) node.expected("a layer name or null");
        const int index = layerNamed(node, node.string());
        const LayerType type = types_[std::size_t(index)];
        if (type == LayerType::Camera || type == LayerType::Light)
            node.fail("the layer " + jsonQuoted(node.string()) + " is a " +
                      kLayerTypes[int(type)].name + " and has no image to use");
        return index;
    }

    const std::string &file_;
    const std::string &folder_;
    const ParamCatalog &catalog_;
    const ImageReader &readImage_;
    Composition *comp_ = nullptr;
    std::vector<LayerType> types_;
    std::vector<std::string> names_; // the name each layer shows
};

} // namespace

// ---- public ---------------------------------------------------------------------------------

SceneError::SceneError(std::string file, std::string place, std::string reason)
    : std::runtime_error(file + (place.empty() ? ": "
                                 : std::isdigit(static_cast<unsigned char>(place[0]))
                                     ? ":" + place + ": " // LINE:COLUMN, as compilers write it
                                     : ": " + place + ": ") +
                         reason),
      file_(std::move(file)), place_(std::move(place)), reason_(std::move(reason)) {}

const SceneEffect *Scene::effectOn(const std::string &layerName) const {
    for (const SceneEffect &effect : effects) {
        if (layerName.empty()) return &effect;
        const Layer &layer = composition.layers[std::size_t(effect.layer)];
        if (layer.shownName() == layerName) return &effect;
    }
    return nullptr;
}

SceneFormatKeys sceneFormatKeys() {
    SceneFormatKeys keys{kSceneKeys, kCompositionKeys, kCommonLayerKeys, kTransformKeys,
                         kCameraKeys, kLightKeys, {}, {}};
    for (const TypeName &t : kLayerTypes) keys.layerTypes.push_back(t.name);
    for (const auto &[key, owner] : kTypeLayerKeys)
        keys.typeKeys.emplace_back(key, kLayerTypes[int(owner)].name);
    return keys;
}

std::string sceneName(const std::string &path) {
    return std::filesystem::path(path).stem().string();
}

Scene parseScene(const std::string &text, const std::string &file, const std::string &folder,
                 const ParamCatalog &catalog, const ImageReader &readImage) {
    const json root = parseJson(text, file);
    return Loader(file, folder, catalog, readImage).load(root);
}

Scene loadSceneFile(const std::string &path, const ParamCatalog &catalog,
                    const ImageReader &readImage) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw SceneError(path, "", "is a folder, not a scene file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SceneError(path, "", "cannot be opened (missing or unreadable)");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw SceneError(path, "", "cannot be read");
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return parseScene(text.str(), path, folder.empty() ? "." : folder, catalog, readImage);
}

void applySceneOverride(Scene &scene, SceneEffect &effect, const std::string &assignment,
                        const ParamCatalog &catalog) {
    const std::string label = "--set " + jsonQuoted(assignment);
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0)
        throw SceneError(label, "", "expected NAME=VALUE, e.g. \"Rotation Y=90\" or "
                                    "\"Camera 1.zoom=900\"");
    const std::string text = assignment.substr(equals + 1);
    json value = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) value = text; // "Both Sides", a layer name: text as it is
    const ImageReader noImages; // an override names no footage
    const std::string folder = ".";
    Loader(label, folder, catalog, noImages)
        .applyOverride(scene, effect, assignment.substr(0, equals), value);
}

void applySceneEffect(const SceneEffect &sceneEffect, EffectInstance &effect) {
    for (const auto &[index, track] : sceneEffect.params) effect.param(index) = track;
}

} // namespace headless
