// The camera of the render record: the default camera, the composition
// camera, the depth-of-field switch and the eye in the surface's frame.

#include "scene/Camera.h"

#include "tests/scene/ConstructTestSupport.h"

#include <cmath>

using namespace scenetest;

namespace {

constexpr double kDefaultDistance = 640.0 * 50.0 / 36.0;

// A composition whose layer 1 is a camera, placed by the model's defaults
// (over the centre at the default distance, looking along +z).
headless::Composition WithCamera() {
    headless::Composition comp = BasicComposition();
    comp.layers.push_back(headless::makeCamera(comp, "Camera 1"));
    return comp;
}

headless::Layer &CameraLayer(Scene &scene) { return scene.comp().layers[1]; }

void ExpectDefaultCamera(const Info &info) {
    const float distance = static_cast<float>(kDefaultDistance);
    EXPECT_EQ(info.imagePlane.getX(), 320.0f);
    EXPECT_EQ(info.imagePlane.getY(), 240.0f);
    EXPECT_EQ(info.imagePlane.getZ(), -distance);
    Matrix4 expected = Matrix4::identity();
    expected.setCol3(Vector4(320.0f, 240.0f, -distance, 1.0f));
    ExpectNear(info.cameraToWorld, expected, 0.0f);
    EXPECT_TRUE(info.perspective);
    EXPECT_EQ(info.dofBlurScale, 1.0);
    EXPECT_FALSE(info.dofEnabled);
}

} // namespace

TEST(Camera, WithoutCameraLayerTheDefaultCameraLooksAlongZ) {
    Scene scene;
    scene.set(PARAM_DEPTH_OF_FIELD, DOF_ON); // no composition camera: no depth of field
    scene.construct([](const Info &info) {
        ExpectDefaultCamera(info);
        EXPECT_EQ(info.dofMode, DOF_ON);
    });
}

TEST(Camera, CameraLayerIsIgnoredWhenUseCompositionCameraIsOff) {
    Scene scene(WithCamera());
    CameraLayer(scene).transform.position = headless::Vec3{100.0, 50.0, -300.0};
    CameraLayer(scene).camera.zoom = 1234.0;
    CameraLayer(scene).camera.depthOfField = 1.0;
    scene.set(PARAM_USE_COMP_CAMERA, 0);
    scene.set(PARAM_DEPTH_OF_FIELD, DOF_ON);
    scene.construct([](const Info &info) { ExpectDefaultCamera(info); });
}

TEST(Camera, CompositionCameraIsTheHostTransformInFloat) {
    Scene scene(WithCamera());
    headless::Layer &camera = CameraLayer(scene);
    camera.transform.position = headless::Vec3{100.0, 50.0, -600.0};
    camera.transform.pointOfInterest = headless::Vec3{150.0, 80.0, 0.0};
    camera.transform.rotationZ = 30.0;
    camera.camera.zoom = 1000.0;
    scene.construct([&](const Info &info) {
        const A_Matrix4 host = headless::layerToWorld(scene.comp(), 1, 0.0);
        ExpectNear(info.cameraToWorld, ToMatrix4(host), 0.0f);
        EXPECT_EQ(info.imagePlane.getX(), 320.0f);
        EXPECT_EQ(info.imagePlane.getY(), 240.0f);
        EXPECT_EQ(info.imagePlane.getZ(), -1000.0f);
        EXPECT_TRUE(info.perspective);
    });
}

TEST(Camera, WidePixelsStretchTheCameraPositionAboutTheCentre) {
    headless::Composition comp = WithCamera();
    comp.pixelAspect = {2, 1};
    comp.layers[1].transform.position = headless::Vec3{400.0, 100.0, -500.0};
    comp.layers[1].transform.hasPointOfInterest = false;
    Scene scene(comp);
    scene.construct([](const Info &info) {
        // x about the vertical centre line (320) doubles; y and z stay.
        ExpectNear(info.cameraToWorld.getCol3(), Vector4(480.0f, 100.0f, -500.0f, 1.0f), 0.0f);
        ExpectNear(info.cameraToWorld.getCol0(), Vector4(2.0f, 0.0f, 0.0f, 0.0f), 0.0f);
    });
}

TEST(Camera, OrthographicCameraShootsParallelRays) {
    Scene scene(WithCamera());
    CameraLayer(scene).camera.type = headless::CameraType::Orthographic;
    scene.construct([](const Info &info) { EXPECT_FALSE(info.perspective); });
}

TEST(Camera, DepthOfFieldSwitch) {
    struct Case {
        int mode;
        bool cameraDof;
        bool enabled;
    };
    const Case cases[] = {{DOF_OFF, true, false},
                          {DOF_CAMERA_SETTINGS, false, false},
                          {DOF_CAMERA_SETTINGS, true, true},
                          {DOF_ON, false, true}};
    for (const Case &c : cases) {
        Scene scene(WithCamera());
        CameraLayer(scene).camera.depthOfField = c.cameraDof ? 1.0 : 0.0;
        scene.set(PARAM_DEPTH_OF_FIELD, c.mode);
        scene.construct([&](const Info &info) {
            EXPECT_EQ(info.dofMode, c.mode);
            EXPECT_EQ(info.dofEnabled, c.enabled) << "mode " << c.mode << " camera " << c.cameraDof;
        });
    }
}

TEST(Camera, BlurScaleFollowsZoomFocusApertureBlurLevelAndBoost) {
    Scene scene(WithCamera());
    headless::CameraStreams &lens = CameraLayer(scene).camera;
    lens.zoom = 1000.0;
    lens.focusDistance = 500.0;
    lens.aperture = 20.0;
    lens.blurLevel = 50.0;
    scene.set(PARAM_BOOST_DOF_BLUR, 200.0);
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.focusDistance, 500.0);
        // 1000 / 500 · (20 / 10 · (200 / 100 · 50 / 100))
        EXPECT_DOUBLE_EQ(info.dofBlurScale, 4.0);
    });
}

TEST(Camera, FocusDistanceBelowOnePixelIsRaisedToOne) {
    Scene scene(WithCamera());
    headless::CameraStreams &lens = CameraLayer(scene).camera;
    lens.zoom = 1000.0;
    lens.focusDistance = 0.25;
    lens.aperture = 10.0;
    lens.blurLevel = 100.0;
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.focusDistance, 1.0);
        EXPECT_DOUBLE_EQ(info.dofBlurScale, 1000.0);
    });
}

TEST(Camera, EyeInTheSurfaceFrame) {
    // With the default placement the surface's axis runs down the screen
    // through the layer centre (320, 240): the tail bowl's vertex is at
    // y = 240 + c with c = "Dist. from Center" (100).
    Scene scene(WithCamera());
    headless::Layer &camera = CameraLayer(scene);
    camera.transform.position = headless::Vec3{320.0, 440.0, 0.0};
    camera.transform.pointOfInterest = headless::Vec3{320.0, 440.0, 100.0};
    scene.construct([](const Info &info) {
        // 200 pixels down the axis: inside the tail bowl, where the quadric is 4 - 1.
        EXPECT_NEAR(info.eyeX, 0.0, 1e-3);
        EXPECT_NEAR(info.eyeY, 0.0, 1e-3);
        EXPECT_NEAR(info.eyeZ, 200.0, 1e-3);
        EXPECT_NEAR(info.eyeImplicit, 3.0, 1e-4);
        const Vector3 eye = Vectormath::Aos::transformPoint(info.shape.worldToObject,
                                                            Vector3(320.0f, 440.0f, 0.0f));
        ExpectNear(Vector3(float(info.eyeX), float(info.eyeY), float(info.eyeZ)), eye, 1e-4f);
    });
}

TEST(Camera, DefaultEyeSeesTheSurfaceFromOutside) {
    Scene scene;
    scene.set(PARAM_ELLIPSE_XY, 0.4);
    scene.effect().setParam(PARAM_POSITION_XY, {200.0, 240.0}); // the eye off to one side
    scene.construct([](const Info &info) {
        // The default eye looks at the axis from the side, between the bowls.
        EXPECT_NEAR(info.eyeZ, 0.0, 1e-3);
        EXPECT_NEAR(info.eyeY, 120.0, 1e-3);
        EXPECT_LT(info.eyeImplicit, -1.0);
        const double a = info.shape.radii.getX(), b = info.shape.radii.getY();
        const double c = info.shape.radii.getZ();
        const double q = info.eyeZ * info.eyeZ / (c * c) - info.eyeX * info.eyeX / (a * a) -
                         info.eyeY * info.eyeY / (b * b) - 1.0;
        EXPECT_NEAR(info.eyeImplicit, q, std::abs(q) * 1e-6);
    });
}
