// Camera rays and their analytic intersection with the surface.
#include "TracerTestSupport.h"

#include "tracer/CameraRay.h"
#include "tracer/Intersection.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tracer_test;

namespace {

const Vector3 kX(1.0f, 0.0f, 0.0f), kY(0.0f, 1.0f, 0.0f), kZ(0.0f, 0.0f, 1.0f);

class CameraRays : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSemiAxes(info->shape, 2.0f, 2.0f, 2.0f);
        SetFullResolution(*info);
    }
    TestRecord info;
};

// The default camera: eye over the composition centre at distance 200,
// looking along +z, with the object frame equal to the world frame.
TEST_F(CameraRays, PerspectiveRaysLeaveTheEyeThroughTheImagePlane)
{
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(50.0f, 40.0f, -200.0f)), 200.0f, 50.0f,
                         40.0f);
    Ray ray;
    BuildCameraRay(info.get(), 50, 40, 0.0, 0.0, ray);
    EXPECT_FLOAT_EQ(ray.direction.getX(), 0.0f);
    EXPECT_FLOAT_EQ(ray.direction.getY(), 0.0f);
    EXPECT_FLOAT_EQ(ray.direction.getZ(), 1.0f);
    EXPECT_EQ(ray.origin.getX(), 50.0f);
    EXPECT_EQ(ray.origin.getY(), 40.0f);
    EXPECT_EQ(ray.origin.getZ(), -200.0f);
    EXPECT_EQ(ray.origin.getW(), 1.0f);

    // Pixel (80, 10), sample (5/6, 1/6): image-plane point (30.8333, -29.8333, 200).
    BuildCameraRay(info.get(), 80, 10, 0.8333333333333334, 0.16666666666666666, ray);
    const double px = 80.0 + 5.0 / 6.0 - 50.0, py = 10.0 + 1.0 / 6.0 - 40.0;
    const double len = std::sqrt(px * px + py * py + 200.0 * 200.0);
    EXPECT_NEAR(ray.direction.getX(), px / len, 1e-6);
    EXPECT_NEAR(ray.direction.getY(), py / len, 1e-6);
    EXPECT_NEAR(ray.direction.getZ(), 200.0 / len, 1e-6);
}

TEST_F(CameraRays, RenderScaleAndPixelAspectStretchTheGrid)
{
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(0.0f, 0.0f, 0.0f)), 100.0f, 50.0f,
                         40.0f);
    info->downsampleX = 0.5;
    info->downsampleY = 0.25;
    info->pixelAspect = 2.0;
    Ray ray;
    // Output pixel 30 at half resolution is composition column 60, ten
    // pixels right of the centre, twenty after the aspect stretch.
    BuildCameraRay(info.get(), 30, 10, 0.0, 0.0, ray);
    const double len = std::sqrt(20.0 * 20.0 + 0.0 + 100.0 * 100.0);
    EXPECT_NEAR(ray.direction.getX(), 20.0 / len, 1e-6);
    EXPECT_NEAR(ray.direction.getY(), 0.0, 1e-7);
    EXPECT_NEAR(ray.direction.getZ(), 100.0 / len, 1e-6);
}

TEST_F(CameraRays, CameraFrameCarriesRaysIntoObjectSpace)
{
    // Camera turned a quarter turn about object y: its +z looks along object -x.
    SetPerspectiveCamera(*info, Frame(kZ, kY, -kX, Vector3(7.0f, 0.0f, 0.0f)), 10.0f, 0.0f, 0.0f);
    Ray ray;
    BuildCameraRay(info.get(), 0, 0, 0.0, 0.0, ray);
    EXPECT_FLOAT_EQ(ray.direction.getX(), -1.0f);
    EXPECT_NEAR(ray.direction.getZ(), 0.0, 1e-7);
    EXPECT_EQ(ray.origin.getX(), 7.0f);
}

TEST_F(CameraRays, OrthographicRaysRunParallelFromBehindTheImagePlane)
{
    SetSemiAxes(info->shape, 3.0f, -8.0f, 5.0f); // the largest magnitude sets the start
    SetOrthographicCamera(*info, Frame(kX, kY, kZ * 2.0f, Vector3(1.0f, 2.0f, 3.0f)), 10.0f, 20.0f);
    Ray a, b;
    BuildCameraRay(info.get(), 12, 25, 0.5, 0.5, a);
    BuildCameraRay(info.get(), 40, 3, 0.16666666666666666, 0.8333333333333334, b);
    for (const Ray *r : {&a, &b}) {
        EXPECT_EQ(r->direction.getX(), 0.0f);
        EXPECT_EQ(r->direction.getY(), 0.0f);
        EXPECT_EQ(r->direction.getZ(), 1.0f);
        EXPECT_EQ(r->origin.getW(), 1.0f);
    }
    // Image point (2.5, 5.5) plus the translation, 8 axis lengths (of 2) back.
    EXPECT_EQ(a.origin.getX(), 3.5f);
    EXPECT_EQ(a.origin.getY(), 7.5f);
    EXPECT_EQ(a.origin.getZ(), 3.0f - 16.0f);
}

TEST_F(CameraRays, RaysFromBetweenTheSheetsMeetTheTailFromOutside)
{
    // Eye at the centre between the vertices (0, 0, +-2), looking along +z.
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(0.0f, 0.0f, 0.0f)), 1.0f, 0.0f, 0.0f);
    Ray ray;
    BuildCameraRay(info.get(), 0, 0, 0.0, 0.0, ray);
    double A = 0, Bh = 0;
    const double D = SingleRayTest(info.get(), ray, A, Bh);
    EXPECT_EQ(A, 0.25);
    EXPECT_EQ(Bh, 0.0);
    EXPECT_EQ(D, 0.25);
    EXPECT_EQ((Bh + std::sqrt(D)) / A, 2.0);  // t+: into the tail bowl at its vertex
    EXPECT_EQ((Bh - std::sqrt(D)) / A, -2.0); // t-: behind the eye, out of the head bowl
}

TEST_F(CameraRays, PerspectiveTestReadsTheEyeNotTheRayOrigin)
{
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(0.5f, -0.25f, -6.0f)), 1.0f, 0.0f, 0.0f);
    Ray ray;
    BuildCameraRay(info.get(), 0, 0, 0.25, 0.125, ray);
    double A1, Bh1, A2, Bh2, A3, Bh3, C;
    const double D1 = SingleRayTest(info.get(), ray, A1, Bh1);

    // The same ray traced from its origin as an orthographic ray would be.
    RayQuadric(info.get().shape, ray, A3, Bh3, C);
    EXPECT_EQ(A1, A3);
    EXPECT_EQ(Bh1, -Bh3);
    EXPECT_EQ(D1, Bh3 * Bh3 - A3 * C);

    ray.origin = Vector4(1e6f, 1e6f, 1e6f, 1.0f);
    const double D2 = SingleRayTest(info.get(), ray, A2, Bh2);
    EXPECT_EQ(D1, D2);
    EXPECT_EQ(Bh1, Bh2);
}

TEST_F(CameraRays, TangentRayHasADoubleRootAtTheTouchingPoint)
{
    // Along x through the tail vertex (0, 0, 2).
    SetOrthographicCamera(*info, Frame(kY, kZ, kX, Vector3(0.0f, 0.0f, 2.0f)), 0.0f, 0.0f);
    Ray ray;
    BuildCameraRay(info.get(), 0, 0, 0.0, 0.0, ray);
    double A, Bh;
    const double D = SingleRayTest(info.get(), ray, A, Bh);
    EXPECT_EQ(D, 0.0);
    const double t = Bh / A;
    const Vector4 p = ray.pointAt(t);
    EXPECT_EQ(p.getX(), 0.0f);
    EXPECT_EQ(p.getZ(), 2.0f);
}

TEST_F(CameraRays, AsymptoteParallelRayGivesFiniteCoefficients)
{
    // a = c: a direction with equal x and z components runs along the cone.
    SetOrthographicCamera(*info, Frame(kY, kZ, Vector3(1.0f, 0.0f, 1.0f), Vector3(0.0f, 0.0f, 0.0f)),
                          0.0f, 0.0f);
    Ray ray;
    BuildCameraRay(info.get(), 3, 1, 0.5, 0.5, ray);
    ASSERT_EQ(ray.direction.getX(), ray.direction.getZ());
    double A = -1, Bh = -1;
    const double D = SingleRayTest(info.get(), ray, A, Bh);
    EXPECT_EQ(A, 0.0);
    EXPECT_TRUE(std::isfinite(Bh));
    EXPECT_EQ(D, Bh * Bh);
}

} // namespace
