#include "headless/render/SceneSchema.h"

#include "headless/composition/SceneFile.h"
#include "headless/render/ParamReference.h"

#include <map>
#include <stdexcept>

namespace veltrix_render {

namespace {

using nlohmann::json;

json number(double lo, double hi) { return {{"type", "number"}, {"minimum", lo}, {"maximum", hi}}; }
json positive(double hi) {
    return {{"type", "number"}, {"exclusiveMinimum", 0}, {"maximum", hi}};
}
json integer(long lo, long hi) { return {{"type", "integer"}, {"minimum", lo}, {"maximum", hi}}; }
json numberArray(std::size_t lo, std::size_t hi, const json &item = {{"type", "number"}}) {
    return {{"type", "array"}, {"items", item}, {"minItems", lo}, {"maxItems", hi}};
}
json text() { return {{"type", "string"}}; }
json boolean() { return {{"type", "boolean"}}; }
json described(json schema, const std::string &description) {
    schema["description"] = description;
    return schema;
}

// A value or {"keyframes": [[time, value], ...]}.
json animated(const json &value) {
    const json key = {{"type", "array"},
                      {"prefixItems", json::array({{{"type", "number"}}, value})},
                      {"minItems", 2},
                      {"maxItems", 2}};
    const json keyframes = {{"type", "object"},
                            {"properties", {{"keyframes", {{"type", "array"}, {"items", key}, {"minItems", 1}}}}},
                            {"required", {"keyframes"}},
                            {"additionalProperties", false}};
    return {{"anyOf", json::array({value, keyframes})}};
}

json unitColour() { return numberArray(3, 3, number(0, 1)); }
json vec() { return numberArray(2, 3); }

// The value shape of every loader key, by level ("composition.width").
const std::map<std::string, json> &keyShapes() {
    static const std::map<std::string, json> shapes = {
        {"scene.$schema", text()},
        {"scene.composition", {{"$ref", "#/$defs/composition"}}},
        {"scene.layers", {{"type", "array"}, {"items", {{"$ref", "#/$defs/layer"}}}}},
        {"composition.width", integer(1, 30000)},
        {"composition.height", integer(1, 30000)},
        {"composition.pixel_aspect", number(0.01, 100)},
        {"composition.frame_rate", number(0.001, 999)},
        {"composition.duration", positive(86400)},
        {"composition.start_frame", integer(0, 999999999)},
        {"composition.working_space", described(text(), "the colour space the effect's values are in")},
        {"layer.name", text()},
        {"layer.type", {{"$ref", "#/$defs/layerType"}}},
        {"layer.in_point", number(-86400, 86400)},
        {"layer.duration", positive(86400)},
        {"layer.enabled", boolean()},
        {"layer.parent", {{"type", json::array({"string", "null"})}}},
        {"layer.transform", {{"$ref", "#/$defs/transform"}}},
        {"layer.effects", {{"type", "array"}, {"items", {{"$ref", "#/$defs/effect"}}}}},
        {"layer.width", described(integer(1, 30000), "solids: width in pixels")},
        {"layer.height", described(integer(1, 30000), "solids: height in pixels")},
        {"layer.color", described(unitColour(), "solids: [r, g, b], 0 to 1 (not animatable)")},
        {"layer.source", described(text(), "footage: the image, relative to the scene file")},
        {"layer.colorspace", described(text(), "footage: the colour space of the file's pixels")},
        {"layer.pixel_aspect", described(number(0.01, 100), "solids and footage: the pixels' own aspect")},
        {"layer.camera", {{"$ref", "#/$defs/camera"}}},
        {"layer.light", {{"$ref", "#/$defs/light"}}},
        {"transform.anchor_point", animated(vec())},
        {"transform.position", animated(vec())},
        {"transform.point_of_interest", {{"anyOf", json::array({animated(vec()), {{"type", "null"}}})}}},
        {"transform.scale", animated(vec())},
        {"transform.orientation", animated(numberArray(3, 3))},
        {"transform.x_rotation", animated({{"type", "number"}})},
        {"transform.y_rotation", animated({{"type", "number"}})},
        {"transform.z_rotation", animated({{"type", "number"}})},
        {"camera.zoom", animated(positive(1.0e7))},
        {"camera.depth_of_field", boolean()},
        {"camera.focus_distance", animated(positive(1.0e7))},
        {"camera.aperture", animated(number(0, 1.0e5))},
        {"camera.blur_level", animated(number(0, 1.0e5))},
        {"camera.projection", {{"enum", {"perspective", "orthographic"}}}},
        {"light.type", {{"enum", {"parallel", "spot", "point", "ambient"}}}},
        {"light.intensity", animated(number(-1.0e5, 1.0e5))},
        {"light.color", animated(unitColour())},
        {"light.cone_angle", animated(number(0, 180))},
        {"light.cone_feather", animated(number(0, 100))},
        {"light.shadow_darkness", animated(number(0, 100))},
        {"light.shadow_diffusion", animated(number(0, 1.0e5))},
        {"light.casts_shadows", boolean()},
    };
    return shapes;
}

json objectOf(const std::string &level, const std::vector<std::string> &keys,
              const std::vector<std::string> &required = {}) {
    json properties = json::object();
    for (const std::string &key : keys) {
        const auto shape = keyShapes().find(level + "." + key);
        if (shape == keyShapes().end())
            throw std::logic_error("the scene schema has no value shape for the key " + level + "." + key);
        properties[key] = shape->second;
    }
    json out = {{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
    if (!required.empty()) out["required"] = required;
    return out;
}

// One effect parameter's value, as the loader takes it.
json paramShape(const headless::ParamInfo &info) {
    const PF_ParamDef &d = info.def;
    json value;
    switch (d.param_type) {
    case PF_Param_SLIDER: value = integer(d.u.sd.valid_min, d.u.sd.valid_max); break;
    case PF_Param_FIX_SLIDER:
        value = number(d.u.fd.valid_min / 65536.0, d.u.fd.valid_max / 65536.0);
        break;
    case PF_Param_FLOAT_SLIDER: value = number(d.u.fs_d.valid_min, d.u.fs_d.valid_max); break;
    case PF_Param_ANGLE: value = {{"type", "number"}, {"exclusiveMinimum", -32768}, {"exclusiveMaximum", 32768}}; break;
    case PF_Param_CHECKBOX: value = boolean(); break;
    case PF_Param_POPUP:
        value = {{"anyOf", json::array({{{"enum", info.choices}}, integer(1, long(info.choices.size()))})}};
        break;
    case PF_Param_COLOR: value = numberArray(3, 3, number(0, 255)); break;
    case PF_Param_POINT: value = numberArray(2, 2, number(-32767, 32767)); break;
    case PF_Param_LAYER: value = {{"type", json::array({"string", "null"})}}; break;
    default: value = json::object(); break;
    }
    const std::string unit = unitOf(info);
    json out = animated(value);
    out["description"] = info.typeName() + (unit.empty() ? "" : ", " + unit) +
                         "; default " + defaultJson(info).dump();
    return out;
}

} // namespace

json sceneSchema(const headless::ParamCatalog &catalog) {
    const headless::SceneFormatKeys keys = headless::sceneFormatKeys();
    std::vector<std::string> layerKeys = keys.layer;
    for (const auto &[key, owner] : keys.typeKeys) layerKeys.push_back(key);

    json params = json::object();
    for (const headless::ParamInfo &info : catalog.all())
        if (info.settable) params[info.name] = paramShape(info);
    const json effect = {
        {"type", "object"},
        {"properties",
         {{"effect", {{"const", headless::kSceneEffectName}}},
          {"params", {{"type", "object"}, {"properties", params}, {"additionalProperties", false}}}}},
        {"required", {"effect"}},
        {"additionalProperties", false}};

    json schema = objectOf("scene", keys.scene, {"composition", "layers"});
    schema["$schema"] = "https://json-schema.org/draft/2020-12/schema";
    schema["title"] = "Veltrix scene file";
    schema["description"] = "A composition, its layers and the Veltrix effects on them "
                            "(docs/scene-format.md). Generated from the scene loader and the "
                            "plug-in's parameters.";
    schema["$defs"] = {{"composition", objectOf("composition", keys.composition, {"width", "height"})},
                       {"layer", objectOf("layer", layerKeys, {"type"})},
                       {"layerType", {{"enum", keys.layerTypes}}},
                       {"transform", objectOf("transform", keys.transform)},
                       {"camera", objectOf("camera", keys.camera)},
                       {"light", objectOf("light", keys.light)},
                       {"effect", effect}};
    return schema;
}

} // namespace veltrix_render
