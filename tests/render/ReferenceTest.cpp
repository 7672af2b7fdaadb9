// The parameter reference and the figures veltrix-render gives tools: the
// JSON catalogue, --stats and --stats-json, docs/parameters.md's tables and
// docs/scene.schema.json, each checked against the plug-in and the loader.
#include "headless/render/ParamReference.h"
#include "headless/render/SceneSchema.h"
#include "RenderTestSupport.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

using nlohmann::json;
using render_test::RunResult;
using render_test::ScratchDir;
namespace fs = std::filesystem;

// A JSON Schema checker for the keywords scene.schema.json uses.
void check(const json &schema, const json &v, const json &root, const std::string &at,
           std::vector<std::string> &errors) {
    auto fail = [&](const std::string &why) { errors.push_back(at + ": " + why); };
    if (schema.contains("$ref")) {
        const std::string ref = schema["$ref"];
        return check(root["$defs"][ref.substr(ref.rfind('/') + 1)], v, root, at, errors);
    }
    if (schema.contains("anyOf")) {
        bool any = false;
        for (const json &option : schema["anyOf"]) {
            std::vector<std::string> none;
            check(option, v, root, at, none);
            any = any || none.empty();
        }
        if (!any) fail("matches no alternative");
    }
    if (schema.contains("type")) {
        const json types = schema["type"].is_array() ? schema["type"] : json::array({schema["type"]});
        bool matched = false;
        for (const std::string t : types)
            matched = matched || (t == "number" && v.is_number()) ||
                      (t == "integer" && v.is_number() && std::floor(v.get<double>()) == v.get<double>()) ||
                      (t == "string" && v.is_string()) || (t == "boolean" && v.is_boolean()) ||
                      (t == "null" && v.is_null()) || (t == "array" && v.is_array()) ||
                      (t == "object" && v.is_object());
        if (!matched) return fail("not of type " + schema["type"].dump());
    }
    if (schema.contains("enum") && std::find(schema["enum"].begin(), schema["enum"].end(), v) == schema["enum"].end())
        fail("not one of " + schema["enum"].dump());
    if (schema.contains("const") && schema["const"] != v) fail("not " + schema["const"].dump());
    if (v.is_number()) {
        const double x = v.get<double>();
        if (schema.contains("minimum") && x < schema["minimum"].get<double>()) fail("below the minimum");
        if (schema.contains("maximum") && x > schema["maximum"].get<double>()) fail("above the maximum");
        if (schema.contains("exclusiveMinimum") && x <= schema["exclusiveMinimum"].get<double>()) fail("too small");
        if (schema.contains("exclusiveMaximum") && x >= schema["exclusiveMaximum"].get<double>()) fail("too large");
    }
    if (v.is_object()) {
        for (const std::string key : schema.value("required", json::array()))
            if (!v.contains(key)) fail("missing " + key);
        for (const auto &[key, child] : v.items()) {
            if (schema.contains("properties") && schema["properties"].contains(key))
                check(schema["properties"][key], child, root, at + "." + key, errors);
            else if (schema.value("additionalProperties", true) == false)
                fail("unknown key " + key);
        }
    }
    if (v.is_array()) {
        if (v.size() < schema.value("minItems", 0u) || v.size() > schema.value("maxItems", 1000000u))
            fail("wrong number of items");
        const json prefix = schema.value("prefixItems", json::array());
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i < prefix.size()) check(prefix[i], v[i], root, at + "[" + std::to_string(i) + "]", errors);
            else if (schema.contains("items")) check(schema["items"], v[i], root, at + "[" + std::to_string(i) + "]", errors);
        }
    }
}

std::vector<std::string> validate(const json &schema, const json &scene) {
    std::vector<std::string> errors;
    check(schema, scene, schema, "scene", errors);
    return errors;
}

TEST(Reference, ListParamsAsJsonCarriesEverythingAToolNeeds) {
    ScratchDir dir;
    const RunResult r = render_test::runRenderer("--list-params --json", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    const json list = json::parse(r.out);
    std::map<std::string, json> byName;
    for (const json &p : list) {
        for (const char *key : {"name", "type", "group", "default", "range", "choices", "unit"})
            EXPECT_TRUE(p.contains(key)) << p.dump() << " lacks " << key;
        EXPECT_NE(p["unit"], "?") << p["name"] << " has no unit";
        byName[p["name"]] = p;
    }
    EXPECT_EQ(byName.size(), list.size());
    EXPECT_EQ(byName["Radius Scale"]["group"], "Transform");
    EXPECT_EQ(byName["Radius Scale"]["default"], 100);
    EXPECT_EQ(byName["Radius Scale"]["range"]["max"], 32767);
    EXPECT_EQ(byName["Radius Scale"]["unit"], "%");
    EXPECT_EQ(byName["Mode"]["group"], "Rendering / Depth Composite");
    EXPECT_EQ(byName["Mode"]["choices"], json({"Off", "Fog", "Fade Out"}));
    EXPECT_EQ(byName["Fog Color"]["default"], json({255, 255, 255}));
    EXPECT_EQ(byName["Texture"]["default"], nullptr);
    // Units are kept by name: none may name a parameter that does not exist.
    for (const std::string &name : veltrix_render::namesWithUnits())
        EXPECT_EQ(byName.count(name), 1u) << name;
}

TEST(Reference, StatsInMillisecondsAndAsJson) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", R"({"composition": {"width": 64, "height": 48, "duration": 1},
      "layers": [{"type": "solid", "effects": [{"effect": "Veltrix"}]}]})");
    const RunResult r = render_test::runRenderer(
        "s.json --frames 2-3 -q -o 'f#.png' --stats --stats-json stats.json", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("frame 3  render "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ms, write "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" s\n"), std::string::npos) << r.out; // no figure in seconds
    const json stats = json::parse(render_test::readFile(dir / "stats.json"));
    for (const char *key : {"plugin_load_ms", "scene_load_ms", "host_setup_ms", "total_ms"})
        EXPECT_GE(stats[key].get<double>(), 0.0) << key;
    ASSERT_EQ(stats["frames"].size(), 2u);
    EXPECT_EQ(stats["frames"][1]["frame"], 3);
    for (const json &f : stats["frames"]) {
        EXPECT_GT(f["render_ms"].get<double>(), 0.0);
        EXPECT_GE(f["render_ms"].get<double>(), f["smart_render_ms"].get<double>());
        EXPECT_FALSE(f["pixel_passes_ms"].empty());
        EXPECT_GT(f["peak_memory_mib"].get<double>(), 1.0);
    }
}

// Between "<!-- generated from the plug-in: ... -->" and its end marker.
TEST(Reference, ParameterPageTablesAreThePluginsAndEveryParameterIsDescribed) {
    const headless::ParamCatalog &catalog = render_test::catalog();
    const std::string page = render_test::readFile(render_test::sourcePath("docs/parameters.md"));
    std::string expected = page;
    const std::string endMarker = "<!-- end of generated table -->";
    for (const std::string &group : veltrix_render::groupNames(catalog)) {
        const std::string marker = group.empty() ? "<!-- generated from the plug-in: outside every group -->"
                                                 : "<!-- generated from the plug-in: group \"" + group + "\" -->";
        const std::size_t start = expected.find(marker);
        ASSERT_NE(start, std::string::npos) << "docs/parameters.md lacks the marker " << marker;
        const std::size_t from = start + marker.size() + 1, to = expected.find(endMarker, from);
        ASSERT_NE(to, std::string::npos) << marker;
        expected.replace(from, to - from, veltrix_render::parameterTable(catalog, group));
    }
    if (expected != page) {
        const std::string written = (fs::current_path() / "parameters.md.expected").string();
        render_test::writeFile(written, expected);
        ADD_FAILURE() << "docs/parameters.md's tables differ from the plug-in's parameters; the "
                         "page with the plug-in's tables is at " << written;
    }
    for (const headless::ParamInfo &info : catalog.all()) {
        if (!info.settable) continue;
        EXPECT_NE(page.find("- **\"" + info.name + "\"**: "), std::string::npos)
            << info.name << " has no description in docs/parameters.md";
    }
}

TEST(Reference, SceneSchemaIsTheLoadersAndEveryExampleMeetsIt) {
    ScratchDir dir;
    const RunResult r = render_test::runRenderer("--scene-schema", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    const json schema = json::parse(r.out);
    EXPECT_EQ(json::parse(render_test::readFile(render_test::sourcePath("docs/scene.schema.json"))),
              schema) << "docs/scene.schema.json is out of date: veltrix-render --scene-schema "
                         "> docs/scene.schema.json";
    std::size_t examples = 0;
    for (const auto &entry : fs::directory_iterator(render_test::sourcePath("examples"))) {
        if (entry.path().extension() != ".json") continue;
        ++examples;
        const json scene = json::parse(render_test::readFile(entry.path().string()));
        EXPECT_EQ(validate(schema, scene), std::vector<std::string>{}) << entry.path();
        EXPECT_TRUE(scene.contains("$schema")) << entry.path();
    }
    EXPECT_GE(examples, 10u);

    // The checker and the schema catch what the loader refuses.
    const json good = json::parse(R"({"composition": {"width": 64, "height": 48},
      "layers": [{"type": "camera", "camera": {"zoom": {"keyframes": [[0, 500], [1, 900]]}}},
                 {"type": "solid", "effects": [{"effect": "Veltrix", "params": {
                   "Radius Scale": 80, "Mode": "Fog", "Fog Color": [200, 10, 10]}}]}]})");
    EXPECT_EQ(validate(schema, good), std::vector<std::string>{});
    const std::vector<std::pair<std::string, json>> bad = {
        {"/layers/1/effects/0/params/Radius Scale", -1},
        {"/layers/1/effects/0/params/Mode", "Haze"},
        {"/layers/1/effects/0/params/Radius", 80},
        {"/layers/1/effects/0/params/Fog Color", json({1, 2})},
        {"/composition/frame_rate", 0.0001},
        {"/composition/start_frame", 1.5},
        {"/layers/0/camera/zoom", json({{"keyframes", json({json({0})})}})},
        {"/layers/0/type", "lamp"},
        {"/extra", 1},
    };
    for (const auto &[pointer, value] : bad) {
        json scene = good;
        scene[json::json_pointer(pointer)] = value;
        EXPECT_FALSE(validate(schema, scene).empty()) << pointer;
    }
}

} // namespace
