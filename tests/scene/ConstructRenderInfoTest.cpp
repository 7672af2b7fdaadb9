// Scene construction: the surface's size and frame from the parameters or a
// control layer, the opening about the fixed point, and the material,
// rendering, extension and depth-composite settings.

#include "scene/RenderInfo.h"

#include "tests/scene/ConstructTestSupport.h"

#include <cmath>

using namespace scenetest;
using Vectormath::Aos::transformDirection;
using Vectormath::Aos::transformPoint;

namespace {

constexpr double kTwoPi = 6.283185307179586;

float Determinant3(const Matrix4 &m) {
    using Vectormath::Aos::cross;
    using Vectormath::Aos::dot;
    return dot(m.getCol0().getXYZ(), cross(m.getCol1().getXYZ(), m.getCol2().getXYZ()));
}

// The surface normal direction (gradient of the quadric) at local point p.
Vector3 LocalNormal(const Vector3 &p, const Vector3 &radii) {
    const float a = radii.getX(), b = radii.getY(), c = radii.getZ();
    return Vectormath::Aos::normalize(
        Vector3(-p.getX() / (a * a), -p.getY() / (b * b), p.getZ() / (c * c)));
}

// What the surface looks like at open factor 1 for the current parameters.
struct Unopened {
    Matrix4 objectToWorld;
    Vector3 radii;
    double textureHeight = 0.0;
    Vector3 fixedPoint; // local
};

Unopened Capture(const Info &info) {
    Unopened u;
    u.objectToWorld = info.shape.objectToWorld;
    u.radii = info.shape.radii;
    u.textureHeight = info.textureHeight;
    u.fixedPoint = info.shape.getHitcoordFromUV(info.textureHeight, info.shape.radii,
                                                info.fixedPointU, info.fixedPointV);
    return u;
}

// Opening keeps the fixed point where it is: the local point k·P lands on the
// world point P has at k = 1, and the semi-axes grow by k.
void ExpectOpenedAboutFixedPoint(const Info &info, const Unopened &base) {
    const float k = static_cast<float>(info.openFactor);
    const Vector3 world = transformPoint(base.objectToWorld, base.fixedPoint);
    const Vector3 opened = transformPoint(info.shape.objectToWorld, base.fixedPoint * k);
    const float tolerance = 2e-6f * k * Vectormath::Aos::length(base.fixedPoint) + 1e-3f;
    ExpectNear(opened, world, tolerance, "fixed point");
    ExpectNear(info.shape.radii, base.radii * k, 1e-6f * k * base.radii.getZ(), "radii");
}

// Sets every parameter that shapes the surface to something uncommon.
void ShapeTheSurface(Scene &scene) {
    scene.set(PARAM_ROTATION_X, -60.0);
    scene.set(PARAM_ROTATION_Y, 25.0);
    scene.set(PARAM_ROTATION_Z, 10.0);
    scene.set(PARAM_ELLIPSE_XY, 0.3);
    scene.set(PARAM_RADIUS_SCALE, 80.0);
    scene.set(PARAM_HEIGHT_SCALE, 150.0);
    scene.set(PARAM_FIXED_POINT_U, 0.3);
    scene.set(PARAM_FIXED_POINT_V, 0.7);
    scene.effect().setParam(PARAM_POSITION_XY, {200.0, 150.0});
    scene.set(PARAM_POSITION_Z, 40.0);
}

// Layer 1: a null whose transform places the surface instead of the parameters.
headless::Composition WithControlLayer(headless::Vec3 scale) {
    headless::Composition comp = BasicComposition();
    headless::Layer control = headless::makeNull(comp, "Control");
    control.transform.anchorPoint = headless::Vec3{};
    control.transform.position = headless::Vec3{300.0, 200.0, 50.0};
    control.transform.scale = scale;
    control.transform.rotationZ = 30.0;
    comp.layers.push_back(control);
    return comp;
}

} // namespace

// ---- opening ------------------------------------------------------------------------

TEST(ConstructRenderInfo, ClosedSurfaceSitsAtItsPosition) {
    Scene scene;
    scene.effect().setParam(PARAM_POSITION_XY, {100.0, 50.0});
    scene.set(PARAM_POSITION_Z, 30.0);
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.openFactor, 1.0);
        EXPECT_FALSE(info.isOpen);
        ExpectNear(info.shape.objectToWorld.getCol3(), Vector4(100.0f, 50.0f, 30.0f, 1.0f), 0.0f);
    });
}

TEST(ConstructRenderInfo, OpenFactorOverTheOpenParameter) {
    struct Case {
        double open;
        double k;
        bool isOpen;
    };
    const Case cases[] = {{0.5, 2.0, false}, {1.5, 2.0, true}, {1.0, 10000.0, false}};
    for (const Case &c : cases) {
        Scene scene;
        scene.set(PARAM_OPEN_PARAMETER, c.open);
        scene.construct([&](const Info &info) {
            EXPECT_NEAR(info.openFactor, c.k, 1e-12) << "open " << c.open;
            EXPECT_EQ(info.isOpen, c.isOpen) << "open " << c.open;
        });
    }
}

TEST(ConstructRenderInfo, OpeningPastTheMiddleExchangesInsideAndOutside) {
    struct Case {
        double open;
        int side;
        int expected;
    };
    const Case cases[] = {{1.5, RENDER_FACE_INSIDE, RENDER_FACE_OUTSIDE},
                          {1.5, RENDER_FACE_OUTSIDE, RENDER_FACE_INSIDE},
                          {1.5, RENDER_FACE_FULL, RENDER_FACE_FULL},
                          {0.5, RENDER_FACE_INSIDE, RENDER_FACE_INSIDE}};
    for (const Case &c : cases) {
        Scene scene;
        scene.set(PARAM_OPEN_PARAMETER, c.open);
        scene.set(PARAM_RENDER_SIDE, c.side);
        scene.construct([&](const Info &info) { EXPECT_EQ(info.renderSide, c.expected); });
    }
}

TEST(ConstructRenderInfo, OpeningPivotsAboutTheFixedPoint) {
    Scene scene;
    ShapeTheSurface(scene);
    Unopened base;
    scene.construct([&](const Info &info) { base = Capture(info); });

    for (double open : {0.25, 0.5, 0.8, 1.0, 1.2, 1.5, 1.9}) {
        SCOPED_TRACE(open);
        scene.set(PARAM_OPEN_PARAMETER, open);
        scene.construct([&](const Info &info) {
            ExpectOpenedAboutFixedPoint(info, base);
            // Past the middle the surface is mirrored in its tangent plane at
            // the fixed point: the frame turns left-handed and the surface's
            // normal there points the other way.
            const bool mirrored = open > 1.0;
            EXPECT_NEAR(Determinant3(info.shape.objectToWorld), mirrored ? -1.0f : 1.0f, 1e-5f);
            const Vector3 n = LocalNormal(base.fixedPoint, base.radii);
            const Vector3 before = transformDirection(base.objectToWorld, n);
            const Vector3 after = transformDirection(info.shape.objectToWorld, n);
            ExpectNear(after, mirrored ? -before : before, 1e-5f, "normal");
        });
    }
}

TEST(ConstructRenderInfo, ControlLayerSurfaceOpensAboutTheFixedPointToo) {
    Scene scene(WithControlLayer(headless::Vec3{150.0, 80.0, 120.0}));
    scene.effect().chooseLayer(PARAM_CONTROL_LAYER, 1);
    scene.set(PARAM_FIXED_POINT_U, 0.8);
    scene.set(PARAM_FIXED_POINT_V, 0.2);
    Unopened base;
    scene.construct([&](const Info &info) { base = Capture(info); });
    for (double open : {0.6, 1.4}) {
        SCOPED_TRACE(open);
        scene.set(PARAM_OPEN_PARAMETER, open);
        scene.construct([&](const Info &info) { ExpectOpenedAboutFixedPoint(info, base); });
    }
}

// ---- size and frame from the parameters ---------------------------------------------

TEST(ConstructRenderInfo, TextureWidthWrapsOnceAroundTheSurface) {
    Scene scene;
    scene.construct([](const Info &info) {
        // The layer's own size stands in for a texture: 640 x 480.
        EXPECT_EQ(info.textureWidth, 640.0);
        EXPECT_EQ(info.textureHeight, 480.0);
        const float radius = static_cast<float>(100.0 * 640.0 / kTwoPi / 480.0);
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), radius);
        EXPECT_EQ(info.shape.radii.getZ(), 100.0f);
        EXPECT_EQ(info.shape.invRadii.getZ(), 0.01f);
    });
    // Half the radius scale halves the circumference; the height scale
    // stretches the texture along the axis and leaves the radius alone.
    scene.set(PARAM_RADIUS_SCALE, 50.0);
    scene.set(PARAM_HEIGHT_SCALE, 200.0);
    scene.set(PARAM_DIST_FROM_CENTER, 250.0);
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.textureHeight, 960.0);
        const float radius = static_cast<float>(250.0 * 0.5 * 640.0 / kTwoPi / 480.0);
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), radius);
        EXPECT_EQ(info.shape.radii.getZ(), 250.0f);
    });
}

TEST(ConstructRenderInfo, EllipseTradesOneSemiAxisForTheOther) {
    Scene scene;
    scene.set(PARAM_ELLIPSE_XY, 0.0);
    float round = 0.0f;
    scene.construct([&](const Info &info) {
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), info.shape.radii.getY());
        round = info.shape.radii.getX();
    });
    scene.set(PARAM_ELLIPSE_XY, 0.5);
    scene.construct([&](const Info &info) {
        const double squash = std::tan(1.5 * 3.141592653589793 * 0.25);
        EXPECT_GT(info.shape.radii.getX(), info.shape.radii.getY());
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), static_cast<float>(round * squash));
        EXPECT_FLOAT_EQ(info.shape.radii.getY(), static_cast<float>(round / squash));
    });
}

TEST(ConstructRenderInfo, DefaultRotationStandsTheAxisUpright) {
    // Rotation X -90 and Rotation Z -90: local x runs into the screen, local y
    // to the right and the axis (local z) down the screen.
    Scene scene;
    scene.construct([](const Info &info) {
        const Matrix4 &m = info.shape.objectToWorld;
        ExpectNear(m.getCol0(), Vector4(0.0f, 0.0f, 1.0f, 0.0f), 1e-6f, "x");
        ExpectNear(m.getCol1(), Vector4(1.0f, 0.0f, 0.0f, 0.0f), 1e-6f, "y");
        ExpectNear(m.getCol2(), Vector4(0.0f, 1.0f, 0.0f, 0.0f), 1e-6f, "z");
    });
}

TEST(ConstructRenderInfo, RotationsTurnAboutZThenYThenX) {
    Scene scene;
    scene.set(PARAM_ROTATION_X, 90.0);
    scene.set(PARAM_ROTATION_Y, 90.0);
    scene.set(PARAM_ROTATION_Z, 0.0);
    scene.construct([](const Info &info) {
        // Local z turns about y onto x; x leaves it alone.
        ExpectNear(info.shape.objectToWorld.getCol2(), Vector4(1.0f, 0.0f, 0.0f, 0.0f), 1e-6f);
        // Local y is untouched by y and turned onto z by x.
        ExpectNear(info.shape.objectToWorld.getCol1(), Vector4(0.0f, 0.0f, 1.0f, 0.0f), 1e-6f);
    });
}

TEST(ConstructRenderInfo, TextureLayerSizeIsInFullResolutionPixels) {
    headless::Composition comp = BasicComposition();
    comp.layers.push_back(headless::makeSolid(comp, "Texture", 200, 100, {1.0, 1.0, 0.0, 0.0}));
    Scene scene(comp);
    scene.effect().chooseLayer(PARAM_TEXTURE, 1);
    scene.effect().setDownsample({1, 2}, {1, 2});
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.textureWidth, 200.0);
        EXPECT_EQ(info.textureHeight, 100.0);
    });
}

// ---- placement by a control layer ---------------------------------------------------

TEST(ConstructRenderInfo, ControlLayerGivesFrameAndSize) {
    Scene scene(WithControlLayer(headless::Vec3{200.0, 50.0, 300.0}));
    scene.effect().chooseLayer(PARAM_CONTROL_LAYER, 1);
    // Placement parameters no longer count.
    scene.set(PARAM_ROTATION_X, 45.0);
    scene.set(PARAM_RADIUS_SCALE, 10.0);
    scene.effect().setParam(PARAM_POSITION_XY, {10.0, 10.0});
    scene.construct([](const Info &info) {
        const Matrix4 &m = info.shape.objectToWorld;
        const float c = std::cos(0.5235987755982988f), s = std::sin(0.5235987755982988f);
        ExpectNear(m.getCol0(), Vector4(c, s, 0.0f, 0.0f), 1e-6f, "x");
        ExpectNear(m.getCol1(), Vector4(-s, c, 0.0f, 0.0f), 1e-6f, "y");
        ExpectNear(m.getCol2(), Vector4(0.0f, 0.0f, 1.0f, 0.0f), 1e-6f, "z");
        ExpectNear(m.getCol3(), Vector4(300.0f, 200.0f, 50.0f, 1.0f), 1e-4f, "origin");

        // Scale x 2 and y 0.5: the mean radius stays, the x semi-axis is four
        // times the y one; scale z 3 stretches the texture along the axis.
        const double round = 100.0 * 640.0 / kTwoPi / 480.0;
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), static_cast<float>(round * 2.0));
        EXPECT_FLOAT_EQ(info.shape.radii.getY(), static_cast<float>(round / 2.0));
        EXPECT_EQ(info.shape.radii.getZ(), 100.0f);
        EXPECT_DOUBLE_EQ(info.textureHeight, 1440.0);
    });
}

TEST(ConstructRenderInfo, ControlLayerScaledToNothingKeepsAZeroAxis) {
    Scene scene(WithControlLayer(headless::Vec3{100.0, 0.0, 100.0}));
    scene.effect().chooseLayer(PARAM_CONTROL_LAYER, 1);
    scene.construct([](const Info &info) {
        ExpectNear(info.shape.objectToWorld.getCol1(), Vector4(0.0f, 0.0f, 0.0f, 0.0f), 0.0f);
        EXPECT_NEAR(Vectormath::Aos::length(info.shape.objectToWorld.getCol0().getXYZ()), 1.0f,
                    1e-6f);
        EXPECT_EQ(info.shape.radii.getX(), 0.0f);
        EXPECT_EQ(info.shape.radii.getY(), 0.0f);
        EXPECT_FALSE(std::isfinite(info.shape.worldToObject.getElem(0, 0)));
    });
}

TEST(ConstructRenderInfo, ControlLayerSourceWithWidePixelsCountsInSquarePixels) {
    headless::Composition comp = BasicComposition();
    headless::Layer control =
        headless::makeFootage(comp, "Wide", 2, 2, std::vector<float>(2 * 2 * 4, 1.0f));
    control.footage.pixelAspect = {2, 1};
    control.transform.scale = headless::Vec3{200.0, 100.0, 100.0};
    comp.layers.push_back(control);
    Scene scene(comp);
    scene.effect().chooseLayer(PARAM_CONTROL_LAYER, 1);
    scene.construct([](const Info &info) {
        // Twice as many pixels across, each half as wide: no stretch.
        EXPECT_FLOAT_EQ(info.shape.radii.getX(), info.shape.radii.getY());
    });
}

// ---- material, rendering, extension, depth composite ----------------------------------

TEST(ConstructRenderInfo, MaterialAndRenderingSettings) {
    Scene scene;
    scene.set(PARAM_FALLOFF, FALLOFF_INVERSE_SQUARE_CLAMPED);
    scene.set(PARAM_FALLOFF_RADIUS, 300.0);
    scene.set(PARAM_FALLOFF_DISTANCE, 40.5);
    scene.set(PARAM_SELF_SHADOW, 1);
    scene.set(PARAM_LIGHT_TRANSMISSION, 25.0);
    scene.set(PARAM_EMIT, 10.0);
    scene.set(PARAM_AMBIENT, 20.0);
    scene.set(PARAM_DIFFUSE, 30.0);
    scene.set(PARAM_SPECULAR, 40.0);
    scene.set(PARAM_ROUGHNESS, 0.5);
    scene.set(PARAM_METAL, 60.0);
    scene.set(PARAM_REFLECTION_INTENSITY, 70.0);
    scene.set(PARAM_REFLECTION_ROLLOFF, 80.0);
    scene.set(PARAM_SHOW_PIVOT, 1);
    scene.set(PARAM_SHARPNESS, 0.25);
    scene.set(PARAM_SLIDE_TEXTURE, 90.0);
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.falloffMode, FALLOFF_INVERSE_SQUARE_CLAMPED);
        EXPECT_EQ(info.falloffRadius, 300.0);
        EXPECT_EQ(info.falloffDistance, 40.5);
        EXPECT_TRUE(info.selfShadow);
        EXPECT_EQ(info.lightTransmission, 0.25f);
        EXPECT_EQ(info.emit, 0.1f);
        EXPECT_EQ(info.ambient, 0.2f);
        EXPECT_EQ(info.diffuse, 0.3f);
        EXPECT_EQ(info.specular, 0.4f);
        EXPECT_FLOAT_EQ(info.shininess, 1.0f); // tan(pi / 4)
        EXPECT_EQ(info.metal, 0.6f);
        EXPECT_EQ(info.reflectionIntensity, 0.7f);
        EXPECT_EQ(info.reflectionRolloff, 0.8f);
        EXPECT_TRUE(info.showPivot);
        EXPECT_EQ(info.textureBlur, 0.75);
        EXPECT_EQ(info.textureSlide, 0.25);
        EXPECT_EQ(info.fixedPointU, 0.5);
        EXPECT_EQ(info.fixedPointV, 0.5);
    });
}

TEST(ConstructRenderInfo, ExtensionSettings) {
    struct Case {
        int side;
        int head;
        int tail;
    };
    for (const Case &c : {Case{SIDE_HEAD, 5, 0}, Case{SIDE_TAIL, 0, 5}, Case{SIDE_BOTH, 5, 5}}) {
        Scene scene;
        scene.set(PARAM_EXTENSION_SIDE, c.side);
        scene.set(PARAM_EXTENSIONS, 5);
        scene.set(PARAM_RENDER_SIDE2, c.side);
        scene.set(PARAM_FLIP_VERTICAL, 1);
        scene.set(PARAM_SCREW, 180.0);
        scene.set(PARAM_INTERVAL, 48.0);
        scene.construct([&](const Info &info) {
            const auto &ext = info.extension;
            EXPECT_EQ(ext.headExtensions, c.head);
            EXPECT_EQ(ext.tailExtensions, c.tail);
            EXPECT_EQ(ext.renderHead, c.head != 0);
            EXPECT_EQ(ext.renderTail, c.tail != 0);
            EXPECT_TRUE(ext.flipVertical);
            EXPECT_DOUBLE_EQ(ext.screwTurns, 0.5);
            EXPECT_DOUBLE_EQ(ext.interval, 0.1); // 48 pixels of a 480-pixel texture
        });
    }
}

TEST(ConstructRenderInfo, IntervalStaysPositiveForAFlippedTextureHeight) {
    Scene scene;
    scene.set(PARAM_INTERVAL, 48.0);
    scene.inRender([&] {
        PF_InData *in_data = scene.host().inData();
        in_data->height = -in_data->height;
        Info info(in_data);
        ConstructRenderInfo(in_data, info);
        EXPECT_LT(info.textureHeight, 0.0);
        EXPECT_DOUBLE_EQ(info.extension.interval, 0.1);
    });
}

TEST(ConstructRenderInfo, DepthCompositeSettings) {
    Scene scene;
    scene.set(PARAM_DEPTH_COMPOSITE_MODE, DEPTH_COMPOSITE_FOG);
    scene.set(PARAM_START_DEPTH, 200.0);
    scene.set(PARAM_END_DEPTH, 150.0);
    scene.effect().setParam(PARAM_FOG_COLOR, {17.0, 51.0, 102.0, 255.0});
    scene.construct([](const Info &info) {
        EXPECT_EQ(info.depthComposite.mode, DEPTH_COMPOSITE_FOG);
        EXPECT_EQ(info.depthComposite.start, 200.0);
        EXPECT_EQ(info.depthComposite.range, -50.0);
        EXPECT_EQ(info.depthComposite.fogColor.alpha, 1.0f);
        EXPECT_EQ(info.depthComposite.fogColor.red, 0.2f);
        EXPECT_EQ(info.depthComposite.fogColor.green, 0.4f);
        EXPECT_EQ(info.depthComposite.fogColor.blue, 1.0f);
    });
}

// ---- host failures ------------------------------------------------------------------

TEST(ConstructRenderInfo, HostFailuresDoNotStopConstruction) {
    headless::Composition comp = BasicComposition();
    comp.layers.push_back(headless::makeLight(comp, "Light", headless::LightType::Point));
    comp.layers.push_back(headless::makeCamera(comp, "Camera"));
    Scene scene(comp);
    headless::Host &host = scene.host();

    // Every AEGP call fails: no composition, camera or lights can be read.
    host.faults().arm(headless::service::kAegp, 1, PF_Err_OUT_OF_MEMORY, {}, true);
    scene.construct([](const Info &info) {
        EXPECT_TRUE(info.lights.empty());
        EXPECT_TRUE(info.perspective);
        EXPECT_EQ(info.dofBlurScale, 1.0);
        EXPECT_EQ(info.openFactor, 1.0);
    });
    host.faults().disarm();

    // Every parameter checkout fails: each reads as zero, and the first
    // refusal is returned so that the render does not draw the zeros.
    host.faults().arm(headless::service::kCheckoutParam, 1, PF_Err_OUT_OF_MEMORY, {}, true);
    scene.inRender([&] {
        Info info(host.inData());
        EXPECT_EQ(ConstructRenderInfo(host.inData(), info), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(info.shape.radii.getZ(), 0.0f);
        EXPECT_EQ(info.shape.invRadii.getZ(), 0.0f);
        EXPECT_EQ(info.falloffMode, 0);
        EXPECT_EQ(info.lights.size(), 1u);
    });
    host.faults().disarm();
}
