// What a valid scene file becomes: the composition model with the host's
// defaults, and parameter tracks that the effect reads back at any time.
#include "headless/boundary/Host.h"
#include "headless/composition/LayerTransform.h"
#include "headless/composition/SceneFile.h"
#include "host/ParamIds.h"
#include "RenderTestSupport.h"

namespace {

using render_test::catalog;

headless::Scene parse(const std::string &text) {
    return headless::parseScene(text, "scene.json", ".", catalog(), {});
}

TEST(SceneFile, CompositionAndLayerDefaults) {
    const headless::Scene scene = parse(R"({
      "composition": {"width": 720, "height": 480, "pixel_aspect": 0.9},
      "layers": [{"type": "camera"}, {"type": "light"}, {"type": "null"},
                 {"name": "Surface", "type": "solid", "in_point": 2,
                  "effects": [{"effect": "Veltrix"}]}]})");
    const headless::Composition &comp = scene.composition;
    EXPECT_EQ(comp.width, 720);
    EXPECT_EQ(comp.pixelAspect.num, 9);
    EXPECT_EQ(comp.pixelAspect.den, 10u);
    EXPECT_DOUBLE_EQ(comp.frameRate, 30.0);
    EXPECT_DOUBLE_EQ(comp.duration, 10.0);
    ASSERT_EQ(comp.layers.size(), 4u);

    // The default camera: centred, width * 50 / 36 in front, looking along +z.
    const headless::Layer &camera = comp.layers[0];
    const double d = 720.0 * 50.0 / 36.0;
    EXPECT_EQ(camera.shownName(), "Camera 1");
    EXPECT_EQ(camera.transform.position.at(0), (headless::Vec3{360.0, 240.0, -d}));
    EXPECT_DOUBLE_EQ(camera.camera.zoom.at(0), d);
    const headless::Vec3 ahead =
        headless::transformPoint({0, 0, 1}, headless::layerToWorld(comp, 0, 0.0));
    EXPECT_NEAR(ahead.x, 360.0, 1e-9);
    EXPECT_NEAR(ahead.z, -d + 1.0, 1e-9);

    EXPECT_EQ(comp.layers[1].light.type, headless::LightType::Point);
    EXPECT_EQ(comp.layers[2].shownName(), "Null 1");

    // A solid is the composition's size, centred, anchored at its centre, and
    // lasts from its in point to the composition's end.
    const headless::Layer &solid = comp.layers[3];
    EXPECT_EQ(solid.solid.width, 720);
    EXPECT_EQ(solid.transform.anchorPoint.at(0), (headless::Vec3{360.0, 240.0, 0.0}));
    EXPECT_EQ(solid.transform.position.at(0), (headless::Vec3{360.0, 240.0, 0.0}));
    EXPECT_DOUBLE_EQ(solid.inPoint, 2.0);
    EXPECT_DOUBLE_EQ(solid.duration, 8.0);

    ASSERT_EQ(scene.effects.size(), 1u);
    EXPECT_EQ(scene.effects[0].layer, 3);
    EXPECT_EQ(scene.effects[0].place, "layers[3].effects[0]");
    EXPECT_TRUE(scene.effects[0].params.empty()); // unnamed parameters keep their defaults
    EXPECT_EQ(scene.effectOn(""), &scene.effects[0]);
    EXPECT_EQ(scene.effectOn("Surface"), &scene.effects[0]);
    EXPECT_EQ(scene.effectOn("Null 1"), nullptr);
    EXPECT_EQ(headless::sceneName("examples/default.json"), "default");
}

// Solids take the composition's pixel aspect unless given their own; footage
// keeps what its file records, and takes a given one only when it records none.
TEST(SceneFile, LayerPixelAspects) {
    const headless::ImageReader images = [](const std::string &path, headless::FootageSource &out,
                                            std::string &) {
        out = {};
        out.width = out.height = 1;
        out.rgba.assign(4, 1.0f);
        if (path.find("recorded") != std::string::npos) {
            out.pixelAspect = {2, 1};
            out.pixelAspectRecorded = true;
        }
        return true;
    };
    auto load = [&](const std::string &layers) {
        return headless::parseScene(R"({"composition": {"width": 64, "height": 48,
            "pixel_aspect": 0.9}, "layers": [)" + layers + "]}", "scene.json", ".", catalog(), images);
    };
    const headless::Scene scene = load(R"({"type": "solid"}, {"type": "solid", "pixel_aspect": 1},
        {"type": "footage", "source": "recorded.png"},
        {"type": "footage", "source": "recorded.png", "pixel_aspect": 2},
        {"type": "footage", "source": "plain.png"},
        {"type": "footage", "source": "plain.png", "pixel_aspect": 1.5}, {"type": "null"})");
    const double expected[] = {0.9, 1.0, 2.0, 2.0, 1.0, 1.5, 1.0};
    ASSERT_EQ(scene.composition.layers.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_DOUBLE_EQ(headless::layerPixelAspect(scene.composition, scene.composition.layers[i])
                             .value(), expected[i]) << "layer " << i;
    try {
        load(R"({"type": "footage", "source": "recorded.png", "pixel_aspect": 1})");
        ADD_FAILURE() << "a file's own pixel aspect was overridden";
    } catch (const headless::SceneError &e) {
        EXPECT_EQ(e.place(), "layers[0].pixel_aspect");
        EXPECT_NE(e.reason().find("records a pixel aspect of 2"), std::string::npos) << e.reason();
    }
}

TEST(SceneFile, TransformCameraAndLightKeys) {
    const headless::Scene scene = parse(R"({
      "composition": {"width": 100, "height": 100},
      "layers": [
        {"name": "Cam", "type": "camera", "parent": "Rig",
         "transform": {"position": [1, 2, 3], "point_of_interest": null},
         "camera": {"zoom": 500, "depth_of_field": true, "focus_distance": 400,
                    "aperture": 30, "blur_level": 80, "projection": "orthographic"}},
        {"name": "Sun", "type": "light",
         "light": {"type": "spot", "intensity": 150, "color": [1, 0.5, 0], "cone_angle": 60,
                   "cone_feather": 20, "shadow_darkness": 70, "shadow_diffusion": 5,
                   "casts_shadows": true}},
        {"name": "Rig", "type": "null", "enabled": false,
         "transform": {"anchor_point": [1, 2], "scale": [50, 60], "orientation": [10, 20, 30],
                       "x_rotation": 1, "y_rotation": 2, "z_rotation": 3}}]})");
    const auto &layers = scene.composition.layers;
    EXPECT_EQ(layers[0].parent, 2);
    EXPECT_FALSE(layers[0].transform.hasPointOfInterest);
    EXPECT_EQ(layers[0].camera.type, headless::CameraType::Orthographic);
    EXPECT_DOUBLE_EQ(layers[0].camera.depthOfField.at(0), 1.0);
    EXPECT_DOUBLE_EQ(layers[0].camera.aperture.at(0), 30.0);
    EXPECT_EQ(layers[1].light.type, headless::LightType::Spot);
    EXPECT_TRUE(layers[1].transform.hasPointOfInterest);
    EXPECT_EQ(layers[1].light.color.at(0), (headless::ColorValue{1.0, 1.0, 0.5, 0.0}));
    EXPECT_DOUBLE_EQ(layers[1].light.castsShadows.at(0), 1.0);
    EXPECT_FALSE(layers[2].video);
    EXPECT_EQ(layers[2].transform.anchorPoint.at(0), (headless::Vec3{1, 2, 0}));
    EXPECT_EQ(layers[2].transform.scale.at(0), (headless::Vec3{50, 60, 100}));
    EXPECT_DOUBLE_EQ(layers[2].transform.rotationZ.at(0), 3.0);
}

TEST(SceneFile, ParameterValuesInTheUnitsTheControlsShow) {
    const headless::Scene scene = parse(R"({
      "composition": {"width": 100, "height": 100},
      "layers": [
        {"name": "Map", "type": "solid"},
        {"name": "S", "type": "solid", "effects": [{"effect": "Veltrix", "params": {
          "Radius Scale": 150.5, "Extensions": 3, "Dist. from Center": 250, "Screw": -45,
          "Self Shadow": true, "Render Side": "Inside", "Depth Of Field": 3,
          "Fog Color": [10, 20, 30], "Position XY": [12.5, -4], "Reflection Map": "Map",
          "Texture": null}}]}]})");
    const auto &p = scene.effects.at(0).params;
    auto value = [&](PF_ParamIndex i) { return p.at(i).at(0); };
    EXPECT_DOUBLE_EQ(value(PARAM_RADIUS_SCALE)[0], 150.5);
    EXPECT_DOUBLE_EQ(value(PARAM_EXTENSIONS)[0], 3.0);
    EXPECT_DOUBLE_EQ(value(PARAM_DIST_FROM_CENTER)[0], 250.0);
    EXPECT_DOUBLE_EQ(value(PARAM_SCREW)[0], -45.0);
    EXPECT_DOUBLE_EQ(value(PARAM_SELF_SHADOW)[0], 1.0);
    EXPECT_DOUBLE_EQ(value(PARAM_RENDER_SIDE)[0], 2.0); // "Inside" is the second choice
    EXPECT_DOUBLE_EQ(value(PARAM_DEPTH_OF_FIELD)[0], 3.0);
    EXPECT_EQ(value(PARAM_FOG_COLOR), (headless::ParamValue{255, 10, 20, 30})); // alpha first
    EXPECT_EQ(value(PARAM_POSITION_XY), (headless::ParamValue{12.5, -4, 0, 0}));
    EXPECT_DOUBLE_EQ(value(PARAM_REFLECTION_MAP)[0], 0.0); // layer index of "Map"
    EXPECT_DOUBLE_EQ(value(PARAM_TEXTURE)[0], -1.0);       // none
}

// Keyframes go through the loader into the effect instance, and the effect
// reads them back interpolated (or held) at any time, as a checkout does.
TEST(SceneFile, KeyframesReachTheEffectInterpolatedOrHeld) {
    const headless::Scene scene = parse(R"({
      "composition": {"width": 100, "height": 100, "frame_rate": 10},
      "layers": [
        {"name": "S", "type": "solid", "in_point": 1,
         "transform": {"position": {"keyframes": [[1, [0, 0]], [3, [100, 50, 20]]]}},
         "effects": [{"effect": "Veltrix", "params": {
           "Radius Scale": {"keyframes": [[2, 200], [1, 100]]},
           "Render Side": {"keyframes": [[1, "Full"], [2, "Outside"]]},
           "Fog Color": {"keyframes": [[1, [0, 0, 0]], [3, [200, 100, 50]]]}}}]}]})");

    const headless::Layer &layer = scene.composition.layers[0];
    EXPECT_EQ(layer.transform.position.at(2.0), (headless::Vec3{50, 25, 10}));
    EXPECT_EQ(layer.transform.position.at(9.0), (headless::Vec3{100, 50, 20})); // held after

    headless::Host host(render_test::plugin());
    headless::EffectInstance effect(host, scene.composition, 0);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
    headless::applySceneEffect(scene.effects[0], effect);

    // Effect time starts at the layer's in point: composition 1.5 s is 0.5 s.
    auto checkout = [&](PF_ParamIndex index, double compSeconds) {
        PF_ParamDef def{};
        const A_u_long scale = host.inData()->time_scale;
        const A_long t = A_long(std::lround((compSeconds - 1.0) * scale));
        EXPECT_EQ(host.params().checkout(index, t, host.inData()->time_step, scale, &def),
                  PF_Err_NONE);
        host.params().checkin(&def);
        return def;
    };
    EXPECT_EQ(checkout(PARAM_RADIUS_SCALE, 1.5).u.fd.value, 150 * 65536); // keys out of order
    EXPECT_EQ(checkout(PARAM_RADIUS_SCALE, 0.0).u.fd.value, 100 * 65536); // held before
    EXPECT_EQ(checkout(PARAM_RADIUS_SCALE, 5.0).u.fd.value, 200 * 65536); // held after
    EXPECT_EQ(checkout(PARAM_RENDER_SIDE, 1.9).u.pd.value, 1);           // popups hold
    EXPECT_EQ(checkout(PARAM_RENDER_SIDE, 2.0).u.pd.value, 3);
    const PF_Pixel fog = checkout(PARAM_FOG_COLOR, 2.0).u.cd.value;
    EXPECT_EQ(fog.red, 100);
    EXPECT_EQ(fog.green, 50);
    EXPECT_EQ(fog.blue, 25);
    EXPECT_EQ(fog.alpha, 255);
    host.globalSetdown();
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(SceneFile, ParameterCatalogComesFromThePlugin) {
    const headless::ParamInfo *radius = catalog().find("Radius Scale");
    ASSERT_NE(radius, nullptr);
    EXPECT_EQ(radius->index, PARAM_RADIUS_SCALE);
    EXPECT_EQ(radius->rangeText(), "0 to 32767");
    const headless::ParamInfo *side = catalog().find("Extension Side");
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side->choices, (std::vector<std::string>{"Head Side", "Tail Side", "Both Sides"}));
    EXPECT_EQ(side->defaultText(), "\"Both Sides\" (3)");
    EXPECT_EQ(catalog().find("dammy"), nullptr);     // hidden
    EXPECT_EQ(catalog().find("Transform"), nullptr); // a group
    EXPECT_EQ(catalog().closest("radius scale"), radius);
    EXPECT_EQ(catalog().closest("Completely different"), nullptr);

    const std::string table = catalog().table();
    EXPECT_NE(table.find("Fog Color"), std::string::npos);
    EXPECT_NE(table.find("[Depth Composite]"), std::string::npos);
    EXPECT_EQ(table.find("dammy"), std::string::npos);
}

} // namespace
