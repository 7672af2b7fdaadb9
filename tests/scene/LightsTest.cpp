// The composition's light layers in the render record: which are taken, what
// is read from them, and where they sit in the surface's frame.

#include "scene/Lights.h"

#include "tests/scene/ConstructTestSupport.h"

#include <cmath>
#include <vector>

using namespace scenetest;

namespace {

headless::Layer Light(const headless::Composition &comp, headless::LightType type,
                      double intensity) {
    headless::Layer light = headless::makeLight(comp, "Light", type);
    light.light.intensity = intensity;
    return light;
}

// The intensities (in percent) of the record's lights, in order: each test
// light carries a distinct intensity as its tag.
std::vector<double> Tags(const Info &info) {
    std::vector<double> tags;
    for (const vLight *light : info.lights) tags.push_back(std::round(light->intensity * 100.0));
    return tags;
}

} // namespace

TEST(Lights, CompositionWithoutLightsHasNone) {
    headless::Composition comp = BasicComposition();
    comp.layers.push_back(headless::makeCamera(comp, "Camera"));
    comp.layers.push_back(headless::makeNull(comp, "Null"));
    Scene scene(comp);
    scene.construct([](const Info &info) { EXPECT_TRUE(info.lights.empty()); });
}

TEST(Lights, LightsComeInLayerOrderWithTheirSettings) {
    headless::Composition comp = BasicComposition();
    headless::Layer spot = Light(comp, headless::LightType::Spot, 150.0);
    spot.light.color = headless::ColorValue{1.0, 0.5, 0.25, 0.125};
    spot.light.coneAngle = 90.0;
    spot.light.coneFeather = 25.0;
    spot.light.shadowDarkness = 40.0;
    spot.light.shadowDiffusion = 12.0;
    spot.light.castsShadows = 1.0;
    comp.layers.push_back(spot);
    comp.layers.push_back(headless::makeCamera(comp, "Camera"));
    comp.layers.push_back(Light(comp, headless::LightType::Ambient, 80.0));
    Scene scene(comp);
    scene.construct([](const Info &info) {
        ASSERT_EQ(info.lights.size(), 2u);
        const vLight &first = *info.lights[0];
        EXPECT_EQ(first.type, AEGP_LightType_SPOT);
        EXPECT_EQ(first.intensity, 1.5);
        EXPECT_EQ(first.color.alpha, 1.0f);
        EXPECT_EQ(first.color.red, 0.5f);
        EXPECT_EQ(first.color.green, 0.25f);
        EXPECT_EQ(first.color.blue, 0.125f);
        EXPECT_NEAR(first.coneCos, std::sqrt(0.5), 1e-15); // half of 90 degrees
        EXPECT_EQ(first.coneFeather, 0.25);
        EXPECT_EQ(first.shadowDarkness, 0.4f);
        EXPECT_EQ(first.shadowDiffusion, 12.0);
        EXPECT_TRUE(first.castsShadows);

        const vLight &second = *info.lights[1];
        EXPECT_EQ(second.type, AEGP_LightType_AMBIENT);
        EXPECT_EQ(second.intensity, 0.8);
        EXPECT_FALSE(second.castsShadows);
    });
}

TEST(Lights, OnlyLightsWhoseTimeRangeHoldsTheRenderTimeAreTaken) {
    headless::Composition comp = BasicComposition();
    auto add = [&](double tag, double inPoint, double duration) {
        headless::Layer light = Light(comp, headless::LightType::Point, tag);
        light.inPoint = inPoint;
        light.duration = duration;
        comp.layers.push_back(light);
    };
    add(1.0, 2.0, 1.0); // starts now: taken
    add(2.0, 2.5, 1.0); // starts later
    add(3.0, 0.0, 2.0); // ended exactly now
    add(4.0, 0.0, 2.5); // still running: taken
    Scene scene(comp);
    scene.effect().setCompTime(2.0);
    scene.construct([](const Info &info) { EXPECT_EQ(Tags(info), (std::vector<double>{1.0, 4.0})); });
}

TEST(Lights, LightWithVideoSwitchedOffIsSkipped) {
    headless::Composition comp = BasicComposition();
    comp.layers.push_back(Light(comp, headless::LightType::Point, 1.0));
    comp.layers.push_back(Light(comp, headless::LightType::Point, 2.0));
    comp.layers[1].video = false;
    Scene scene(comp);
    scene.construct([](const Info &info) { EXPECT_EQ(Tags(info), (std::vector<double>{2.0})); });
}

TEST(Lights, ShadowDarknessIsClampedToAFraction) {
    headless::Composition comp = BasicComposition();
    for (double darkness : {150.0, -20.0, 100.0, 0.0}) {
        headless::Layer light = Light(comp, headless::LightType::Point, 100.0);
        light.light.shadowDarkness = darkness;
        comp.layers.push_back(light);
    }
    Scene scene(comp);
    scene.construct([](const Info &info) {
        ASSERT_EQ(info.lights.size(), 4u);
        EXPECT_EQ(info.lights[0]->shadowDarkness, 1.0f);
        EXPECT_EQ(info.lights[1]->shadowDarkness, 0.0f);
        EXPECT_EQ(info.lights[2]->shadowDarkness, 1.0f);
        EXPECT_EQ(info.lights[3]->shadowDarkness, 0.0f);
    });
}

TEST(Lights, LightsSitInTheSurfaceFrame) {
    headless::Composition comp = BasicComposition();
    headless::Layer spot = Light(comp, headless::LightType::Spot, 100.0);
    spot.transform.position = headless::Vec3{100.0, 200.0, -300.0};
    spot.transform.pointOfInterest = headless::Vec3{100.0, 200.0, 100.0}; // along +z
    comp.layers.push_back(spot);
    Scene scene(comp);
    scene.set(PARAM_ROTATION_Y, 30.0);
    scene.set(PARAM_OPEN_PARAMETER, 0.5);
    scene.construct([](const Info &info) {
        ASSERT_EQ(info.lights.size(), 1u);
        const Matrix4 &light = info.lights[0]->lightToObject;
        const Matrix4 &toWorld = info.shape.objectToWorld;
        // Carried back to the world, the light sits where the layer is and
        // points where the layer points.
        ExpectNear(Vectormath::Aos::transformPoint(toWorld, light.getTranslation()),
                   Vector3(100.0f, 200.0f, -300.0f), 1e-3f, "position");
        ExpectNear(Vectormath::Aos::transformDirection(toWorld, light.getCol2().getXYZ()),
                   Vector3(0.0f, 0.0f, 1.0f), 1e-5f, "axis");
    });
}

TEST(Lights, WidePixelsStretchLightPositionsAboutTheCentre) {
    headless::Composition comp = BasicComposition();
    comp.pixelAspect = {2, 1};
    headless::Layer point = Light(comp, headless::LightType::Point, 100.0);
    point.transform.position = headless::Vec3{400.0, 200.0, -300.0};
    comp.layers.push_back(point);
    Scene scene(comp);
    scene.construct([](const Info &info) {
        ASSERT_EQ(info.lights.size(), 1u);
        const Vector3 world = Vectormath::Aos::transformPoint(
            info.shape.objectToWorld, info.lights[0]->lightToObject.getTranslation());
        ExpectNear(world, Vector3(480.0f, 200.0f, -300.0f), 1e-3f);
    });
}

// Every host allocation that collecting three lights makes fails once in
// turn: the light it was for is left out, the other two stay in order, and
// nothing is left allocated.
TEST(Lights, AllocationFailureLeavesOneLightOutAndLeaksNothing) {
    headless::Composition comp = BasicComposition();
    for (double tag : {1.0, 2.0, 3.0}) comp.layers.push_back(Light(comp, headless::LightType::Point, tag));
    Scene scene(comp);
    headless::Host &host = scene.host();

    long allocations = 0;
    scene.inRender([&] {
        Info info(host.inData());
        info.shape.worldToObject = Matrix4::identity();
        const SceneComposition where = FindComposition(host.inData());
        const long before = host.faults().calls(headless::service::kNewHandle);
        CollectLights(where, info);
        allocations = host.faults().calls(headless::service::kNewHandle) - before;
        EXPECT_EQ(Tags(info), (std::vector<double>{1.0, 2.0, 3.0}));
    });
    ASSERT_GE(allocations, 3);

    for (long n = 1; n <= allocations; ++n) {
        long handlesBefore = 0;
        scene.inRender([&] {
            handlesBefore = host.ledger().count(headless::Ledger::kLiveHandles);
            {
                Info info(host.inData());
                info.shape.worldToObject = Matrix4::identity();
                const SceneComposition where = FindComposition(host.inData());
                host.faults().arm(headless::service::kNewHandle, n, PF_Err_OUT_OF_MEMORY);
                CollectLights(where, info);
                host.faults().disarm();
                const std::vector<double> tags = Tags(info);
                ASSERT_EQ(tags.size(), 2u) << "failing allocation " << n;
                EXPECT_LT(tags[0], tags[1]);
            }
            EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), handlesBefore)
                << "failing allocation " << n;
        });
    }
}
