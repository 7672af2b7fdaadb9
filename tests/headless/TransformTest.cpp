// Layer-to-world transforms of the composition model.
#include "headless/composition/LayerTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace headless;

namespace {

constexpr double kTol = 1e-9;

void expectNear(const Vec3 &actual, const Vec3 &expected, double tol = kTol) {
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

// A layer whose transform is the identity (anchor 0, position 0, 100 %).
Layer plainLayer() {
    Layer layer;
    layer.type = LayerType::Null;
    return layer;
}

Vec3 toWorld(const Composition &comp, int index, const Vec3 &p, double t = 0.0) {
    return transformPoint(p, layerToWorld(comp, index, t));
}

TEST(Transform, PlainLayerIsTheIdentityAndRowThreeIsTheTranslation) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    const A_Matrix4 m = layerToWorld(comp, 0, 0.0);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(m.mat[r][c], r == c ? 1.0 : 0.0) << r << "," << c;

    comp.layers[0].transform.position = Vec3{10, 20, 30};
    const A_Matrix4 moved = layerToWorld(comp, 0, 0.0);
    EXPECT_EQ(moved.mat[3][0], 10.0);
    EXPECT_EQ(moved.mat[3][1], 20.0);
    EXPECT_EQ(moved.mat[3][2], 30.0);
    EXPECT_EQ(moved.mat[3][3], 1.0);
}

TEST(Transform, EachRotationTurnsTheRightWayInTheYDownFrame) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    Transform &tr = comp.layers[0].transform;

    tr.rotationZ = 90.0; // x' = x cos - y sin, y' = x sin + y cos: +x goes to +y (down, clockwise)
    expectNear(toWorld(comp, 0, {1, 0, 0}), {0, 1, 0});
    expectNear(toWorld(comp, 0, {0, 1, 0}), {-1, 0, 0});

    tr.rotationZ = 0.0;
    tr.rotationX = 90.0; // y' = y cos - z sin, z' = y sin + z cos
    expectNear(toWorld(comp, 0, {0, 1, 0}), {0, 0, 1});
    expectNear(toWorld(comp, 0, {0, 0, 1}), {0, -1, 0});

    tr.rotationX = 0.0;
    tr.rotationY = 90.0; // z' = z cos - x sin, x' = z sin + x cos
    expectNear(toWorld(comp, 0, {0, 0, 1}), {1, 0, 0});
    expectNear(toWorld(comp, 0, {1, 0, 0}), {0, 0, -1});

    tr.rotationY = -30.0; // negative angles turn back
    const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
    expectNear(toWorld(comp, 0, {1, 0, 0}), {c, 0, s});
}

TEST(Transform, RotationsApplyXThenYThenZThenOrientation) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    Transform &tr = comp.layers[0].transform;
    tr.rotationX = 90.0;
    tr.rotationZ = 90.0;
    // X first: +y -> +z; then Z leaves +z alone. (Z first would send +y to -x.)
    expectNear(toWorld(comp, 0, {0, 1, 0}), {0, 0, 1});

    // Orientation acts after all three rotations: +x -Z90-> +y -orientation X90-> +z.
    tr.rotationX = 0.0;
    tr.orientation = Vec3{90, 0, 0};
    expectNear(toWorld(comp, 0, {1, 0, 0}), {0, 0, 1});

    // Orientation's own axes go x, then y, then z.
    tr.rotationZ = 0.0;
    tr.orientation = Vec3{90, 0, 90};
    expectNear(toWorld(comp, 0, {0, 1, 0}), {0, 0, 1});
    expectNear(toWorld(comp, 0, {1, 0, 0}), {0, 1, 0});
}

TEST(Transform, AnchorScaleAndPositionComposeInOrder) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    Transform &tr = comp.layers[0].transform;
    tr.anchorPoint = Vec3{50, 25, 0};
    tr.scale = Vec3{200, 50, 100};
    tr.rotationZ = 90.0;
    tr.position = Vec3{320, 240, 10};
    // The anchor lands on the position whatever the scale and rotation.
    expectNear(toWorld(comp, 0, {50, 25, 0}), {320, 240, 10});
    // (60, 25): 10 px right of the anchor -> 20 px (200 %) -> turned to +y.
    expectNear(toWorld(comp, 0, {60, 25, 0}), {320, 260, 10});
    // (50, 35): 10 px below -> 5 px (50 %) -> turned to -x.
    expectNear(toWorld(comp, 0, {50, 35, 0}), {315, 240, 10});
}

TEST(Transform, ParentTransformAppliesAfterTheChild) {
    Composition comp;
    comp.layers.push_back(plainLayer()); // 0: child
    comp.layers.push_back(plainLayer()); // 1: parent
    comp.layers[0].parent = 1;
    comp.layers[0].transform.position = Vec3{10, 0, 0};
    comp.layers[1].transform.rotationZ = 90.0;
    comp.layers[1].transform.scale = Vec3{200, 200, 200};
    comp.layers[1].transform.position = Vec3{100, 100, 0};
    // Child origin: (10, 0) in the parent -> x2 -> turned to (0, 20) -> + (100, 100).
    expectNear(toWorld(comp, 0, {0, 0, 0}), {100, 120, 0});
    // Grandparent chains too.
    comp.layers.push_back(plainLayer());
    comp.layers[1].parent = 2;
    comp.layers[2].transform.position = Vec3{0, 0, 5};
    expectNear(toWorld(comp, 0, {0, 0, 0}), {100, 120, 5});
}

TEST(Transform, BrokenParentsEndTheChainInsteadOfLooping) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    comp.layers.push_back(plainLayer());
    comp.layers[0].transform.position = Vec3{1, 0, 0};
    comp.layers[1].transform.position = Vec3{0, 2, 0};
    comp.layers[0].parent = 1;
    comp.layers[1].parent = 0; // a loop
    expectNear(toWorld(comp, 0, {0, 0, 0}), {1, 2, 0});
    expectNear(toWorld(comp, 1, {0, 0, 0}), {1, 2, 0});
    comp.layers[0].parent = 7; // out of range
    expectNear(toWorld(comp, 0, {0, 0, 0}), {1, 0, 0});
    comp.layers[0].parent = 0; // itself
    expectNear(toWorld(comp, 0, {0, 0, 0}), {1, 0, 0});
    // An index out of range is the identity.
    expectNear(toWorld(comp, 5, {3, 4, 5}), {3, 4, 5});
    EXPECT_FALSE(validate(comp).empty());
}

TEST(Transform, DefaultCameraLooksAlongPlusZWithYDown) {
    Composition comp;
    comp.width = 720;
    comp.height = 400;
    comp.layers.push_back(makeCamera(comp, "Camera"));
    const A_Matrix4 m = layerToWorld(comp, 0, 0.0);
    const double d = 720 * 50.0 / 36.0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(m.mat[r][c], r == c ? 1.0 : 0.0, kTol);
    EXPECT_NEAR(m.mat[3][0], 360.0, kTol);
    EXPECT_NEAR(m.mat[3][1], 200.0, kTol);
    EXPECT_NEAR(m.mat[3][2], -d, kTol);
}

TEST(Transform, PointOfInterestTurnsCamerasAndLightsOnly) {
    Composition comp;
    Layer camera = makeCamera(comp, "Camera");
    camera.transform.position = Vec3{0, 0, 0};
    camera.transform.pointOfInterest = Vec3{10, 0, 0}; // look along +x
    comp.layers.push_back(camera);
    const A_Matrix4 m = layerToWorld(comp, 0, 0.0);
    // z = +x; x = (0,1,0) x z = (0,0,-1); y = z x x = (0,1,0).
    expectNear({m.mat[2][0], m.mat[2][1], m.mat[2][2]}, {1, 0, 0});
    expectNear({m.mat[0][0], m.mat[0][1], m.mat[0][2]}, {0, 0, -1});
    expectNear({m.mat[1][0], m.mat[1][1], m.mat[1][2]}, {0, 1, 0});

    // Its own rotation acts inside the look-at frame: Z 90 sends local x to local y.
    comp.layers[0].transform.rotationZ = 90.0;
    expectNear(toWorld(comp, 0, {1, 0, 0}), {0, 1, 0});

    // Looking straight down the y axis: the cross product vanishes, x = (1, 0, 0).
    comp.layers[0].transform.rotationZ = 0.0;
    comp.layers[0].transform.pointOfInterest = Vec3{0, 50, 0};
    const A_Matrix4 down = layerToWorld(comp, 0, 0.0);
    expectNear({down.mat[0][0], down.mat[0][1], down.mat[0][2]}, {1, 0, 0});
    expectNear({down.mat[2][0], down.mat[2][1], down.mat[2][2]}, {0, 1, 0});
    expectNear({down.mat[1][0], down.mat[1][1], down.mat[1][2]}, {0, 0, -1});

    // A solid ignores a point of interest.
    Layer solid = makeSolid(comp, "Solid", 10, 10, {});
    solid.transform.hasPointOfInterest = true;
    solid.transform.pointOfInterest = Vec3{1000, 0, 0};
    solid.transform.anchorPoint = Vec3{};
    solid.transform.position = Vec3{};
    comp.layers.push_back(solid);
    expectNear(toWorld(comp, 1, {1, 0, 0}), {1, 0, 0});
}

TEST(Transform, AnimatedStreamsAreReadAtTheTime) {
    Composition comp;
    comp.layers.push_back(plainLayer());
    Transform &tr = comp.layers[0].transform;
    tr.position.keys = {{0.0, Vec3{0, 0, 0}}, {2.0, Vec3{100, 0, 0}}};
    tr.rotationZ.keys = {{1.0, 0.0}, {2.0, 90.0}};
    expectNear(toWorld(comp, 0, {0, 0, 0}, 1.0), {50, 0, 0});
    expectNear(toWorld(comp, 0, {1, 0, 0}, 0.5), {26, 0, 0});                    // held before
    expectNear(toWorld(comp, 0, {1, 0, 0}, 3.0), {100, 1, 0});                   // held after
    const double c = std::cos(std::numbers::pi / 4), s = std::sin(std::numbers::pi / 4);
    expectNear(toWorld(comp, 0, {1, 0, 0}, 1.5), {75 + c, s, 0});
}

} // namespace
