// Texture parametrisation of the hyperboloid, its inverse, the opened-surface
// remap, the surface metric and the silhouette distance estimate.
#include "TracerTestSupport.h"

#include "tracer/SurfacePoint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

using namespace tracer_test;

namespace {

constexpr double kPi = std::numbers::pi;

class SurfaceGeometry : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSemiAxes(info->shape, 30.0f, 20.0f, 10.0f);
        info->openFactor = 1.0;
        info->textureHeight = 40.0;
        info->textureSlide = 0.0;
        info->fixedPointU = 0.0;
        info->fixedPointV = 0.0;
        info->textureLayer.height = 0;
    }
    const Hyperboloid &shape() const { return info.get().shape; }
    Vector3 semiAxes() const { return shape().radii; }

    TestRecord info;
};

TEST_F(SurfaceGeometry, ParametrisationPlacesVerticesAndRings)
{
    // v = 0 belongs to the head sheet: its vertex.
    const Vector3 head = shape().getHitcoordFromUV(40.0, semiAxes(), 0.3, 0.0);
    EXPECT_EQ(head.getX(), 0.0f);
    EXPECT_EQ(head.getY(), 0.0f);
    EXPECT_EQ(head.getZ(), -10.0f);

    // One texture height (40) above the tail vertex: d = 40/10 + 1 = 5, ring
    // radius sqrt(24); u = 0.25 is a quarter turn clockwise, onto -y.
    const Vector3 p = shape().getHitcoordFromUV(40.0, semiAxes(), 0.25, 1.0);
    EXPECT_EQ(p.getZ(), 50.0f);
    EXPECT_NEAR(p.getX(), 0.0, 1e-5);
    EXPECT_FLOAT_EQ(p.getY(), static_cast<float>(-20.0 * std::sqrt(24.0)));
    EXPECT_NEAR(Quadric(shape(), p.getX(), p.getY(), p.getZ()), 1.0, 1e-5);
}

TEST_F(SurfaceGeometry, CoordinatesRoundTripOnBothSheets)
{
    for (double v : {-3.7, -1.0, -0.25, -0.01, 0.02, 0.5, 1.0, 6.25}) {
        for (double u : {0.0, 0.1, 0.25, 0.5, 0.75, 0.9}) {
            const Vector3 p = shape().getHitcoordFromUV(40.0, semiAxes(), u, v);
            double u2 = -1.0, v2 = -1.0;
            shape().getUVFromCoordinate(info.get(), p, u2, v2);
            EXPECT_NEAR(v2, v, 2e-6) << "u " << u << " v " << v;
            EXPECT_GE(u2, 0.0);
            EXPECT_LT(u2, 1.0);
            const double du = std::remainder(u2 - u, 1.0); // u = 0.9 may come back near 0.9 or -0.1
            EXPECT_NEAR(du, 0.0, 2e-5) << "u " << u << " v " << v;
        }
    }
}

TEST_F(SurfaceGeometry, HeadSheetSkipsOneTextureRow)
{
    info->textureLayer.height = 100;
    const Vector3 tail = shape().getHitcoordFromUV(40.0, semiAxes(), 0.5, 0.5);
    const Vector3 head = shape().getHitcoordFromUV(40.0, semiAxes(), 0.5, -0.5);
    double u = 0, vTail = 0, vHead = 0;
    shape().getUVFromCoordinate(info.get(), tail, u, vTail);
    shape().getUVFromCoordinate(info.get(), head, u, vHead);
    EXPECT_NEAR(vTail, 0.5, 1e-6);
    EXPECT_NEAR(vHead, -0.5 - 0.01, 1e-6);
}

TEST_F(SurfaceGeometry, AxisPointsHaveUZeroAndVerticesVZero)
{
    double u = -1, v = -1;
    shape().getUVFromCoordinate(info.get(), Vector3(0.0f, 0.0f, 10.0f), u, v);
    EXPECT_EQ(u, 0.0);
    EXPECT_EQ(v, 0.0);
    shape().getUVFromCoordinate(info.get(), Vector3(0.0f, 0.0f, -10.0f), u, v);
    EXPECT_EQ(u, 0.0);
    EXPECT_EQ(v, 0.0);
    shape().getUVFromCoordinate(info.get(), Vector3(0.0f, 0.0f, 50.0f), u, v);
    EXPECT_EQ(u, 0.0);
    EXPECT_EQ(v, 1.0);
}

TEST_F(SurfaceGeometry, UStaysBelowOneForTinyAnglesAboveTheXAxis)
{
    double u = -1, v = 0;
    shape().getUVFromCoordinate(info.get(), Vector3(30.0f, 1e-30f, 20.0f), u, v);
    EXPECT_GE(u, 0.0);
    EXPECT_LT(u, 1.0);
}

TEST_F(SurfaceGeometry, UnopenedRemapOnlySlidesAndWraps)
{
    info->fixedPointU = 0.375;
    info->fixedPointV = 2.5;
    info->textureSlide = 0.25;
    double u = 0.875, v = 0.5;
    shape().modifyUVByOpenParam(info.get(), u, v);
    EXPECT_EQ(u, 0.125); // 0.875 + 0.25 wrapped into [0, 1)
    EXPECT_EQ(v, 0.5);

    u = 0.5, v = -0.75;
    info->textureSlide = -0.75;
    shape().modifyUVByOpenParam(info.get(), u, v);
    EXPECT_EQ(u, 0.75);
    EXPECT_EQ(v, -0.75);

    // Far out the period is still 1, until the height's square overflows:
    // there a ring's length is not a number, and neither is u.
    info->textureSlide = 0.0;
    EXPECT_EQ(shape().openedU(info.get(), 0.625, 1e140), 0.625);
    EXPECT_TRUE(std::isnan(shape().openedU(info.get(), 0.625, 1e160)));
}

// Opening scales the surface by k about the fixed point: the local point
// k P, where P carries (U0, V0) on the unopened surface, keeps (U0, V0).
TEST_F(SurfaceGeometry, OpeningKeepsTheFixedPoint)
{
    const Vector3 unopened(30.0f, 20.0f, 10.0f);
    for (double k : {1.0, 3.0, 250.0}) {
        SetSemiAxes(info->shape, 30.0f * static_cast<float>(k), 20.0f * static_cast<float>(k),
                    10.0f * static_cast<float>(k));
        info->openFactor = k;
        info->fixedPointU = 0.3;
        info->fixedPointV = 0.6;
        const Vector3 P = shape().getHitcoordFromUV(40.0, unopened, 0.3, 0.6);
        const float kf = static_cast<float>(k);
        const Vector3 kP(P.getX() * kf, P.getY() * kf, P.getZ() * kf);
        double u = 0, v = 0;
        shape().getUVFromCoordinate(info.get(), kP, u, v);
        shape().modifyUVByOpenParam(info.get(), u, v);
        EXPECT_NEAR(u, 0.3, 2e-4 * k) << "k " << k;
        EXPECT_NEAR(v, 0.6, 2e-5 * k) << "k " << k;
    }
}

TEST_F(SurfaceGeometry, OpenedRingIsLongerThanTheTexture)
{
    const double k = 3.0;
    SetSemiAxes(info->shape, 90.0f, 60.0f, 30.0f);
    info->openFactor = k;
    info->fixedPointU = 0.0;
    info->fixedPointV = 1.0;
    // Half a turn from the fixed point on its own ring.
    const Vector3 P = shape().getHitcoordFromUV(40.0, Vector3(30.0f, 20.0f, 10.0f), 0.5, 1.0);
    const Vector3 kP(P.getX() * 3.0f, P.getY() * 3.0f, P.getZ() * 3.0f);
    double u = 0, v = 0;
    shape().getUVFromCoordinate(info.get(), kP, u, v);
    shape().modifyUVByOpenParam(info.get(), u, v);
    const double period = (k - 1.0) * std::sqrt(5.0 * 5.0 - 1.0) + 1.0; // d = 5 on that ring
    EXPECT_NEAR(u, 0.5 * period, 1e-4);
    EXPECT_GE(u, 1.0); // beyond the texture: this part of the ring stays empty
    EXPECT_NEAR(v, 1.0, 1e-5);
}

// The metric divided by k is the surface length per unit of the remapped u
// and v, measured here by finite differences of the whole mapping.
TEST_F(SurfaceGeometry, JacobianMatchesFiniteDifferences)
{
    const Vector3 unopened(30.0f, 20.0f, 10.0f);
    for (double k : {1.0, 4.0}) {
        const float kf = static_cast<float>(k);
        SetSemiAxes(info->shape, 30.0f * kf, 20.0f * kf, 10.0f * kf);
        info->openFactor = k;
        info->fixedPointU = 0.2;
        info->fixedPointV = 0.5;
        for (double v : {-2.0, -0.3, 0.4, 1.5}) {
            const double u = 0.35, h = 1e-3;
            auto local = [&](double uu, double vv) {
                const Vector3 P = shape().getHitcoordFromUV(40.0, unopened, uu, vv);
                return Vector3(P.getX() * kf, P.getY() * kf, P.getZ() * kf);
            };
            auto remapped = [&](const Vector3 &p, double &uu, double &vv) {
                shape().getUVFromCoordinate(info.get(), p, uu, vv);
                shape().modifyUVByOpenParam(info.get(), uu, vv);
            };
            const Vector3 p = local(u, v), pu = local(u + h, v), pv = local(u, v + h);
            double u0, v0, u1, v1, u2, v2;
            remapped(p, u0, v0);
            remapped(pu, u1, v1);
            remapped(pv, u2, v2);
            const double lengthU = Vectormath::Aos::length(pu - p);
            const double lengthV = Vectormath::Aos::length(pv - p);

            double du = 0, dv = 0;
            shape().getJacobian(info.get(), NormalisedPoint(shape(), p), du, dv);
            EXPECT_NEAR(du / k, lengthU / std::fabs(u1 - u0), 5e-3 * du / k) << "k " << k << " v " << v;
            EXPECT_NEAR(dv / k, lengthV / std::fabs(v2 - v0), 5e-3 * dv / k) << "k " << k << " v " << v;
        }
    }
}

TEST_F(SurfaceGeometry, JacobianIsUnboundedAtTheVertexWithoutNaN)
{
    double du = -1, dv = -1;
    shape().getJacobian(info.get(), Vector3(0.0f, 0.0f, 1.0f), du, dv);
    EXPECT_EQ(du, 0.0);
    EXPECT_TRUE(std::isinf(dv) && dv > 0);
    // Slightly inside the vertex (a rounding error of a hit point).
    shape().getJacobian(info.get(), Vector3(1e-4f, 0.0f, -0.9999999f), du, dv);
    EXPECT_FALSE(std::isnan(du));
    EXPECT_TRUE(std::isinf(dv) && dv > 0);
}

// A pass works out the quotients of its values once (beginPass); a hit's v
// and metric must come out with the very bits of dividing, and a record
// changed after beginPass must not be served the quotients of its old values.
TEST_F(SurfaceGeometry, PassQuotientsGiveTheBitsOfDividing)
{
    struct Case {
        double k, textureHeight;
        int rows;
    };
    const Case cases[] = {{1.0, 40.0, 512}, {2.7, 33.3, 3}, {-1.5, 40.0, 7}, {0.3, 1e-3, 2048}};
    const Vector3 points[] = {Vector3(0.4f, -0.3f, 1.7f), Vector3(-2.0f, 0.5f, -3.25f),
                              Vector3(0.0f, 0.0f, 1.0f), Vector3(1e-4f, 0.0f, -0.9999999f)};
    const auto sample = [&](const Vector3 &pn, double &du, double &dv, double &v) {
        shape().getJacobian(info.get(), pn, du, dv);
        const Vector3 p(pn.getX() * semiAxes().getX(), pn.getY() * semiAxes().getY(),
                        pn.getZ() * semiAxes().getZ());
        v = shape().getVFromCoordinate(info.get(), p);
    };
    for (const Case &c : cases) {
        const float kf = static_cast<float>(c.k);
        SetSemiAxes(info->shape, 30.0f * std::fabs(kf), 20.0f * std::fabs(kf), 10.0f * std::fabs(kf));
        info->openFactor = c.k;
        info->textureHeight = c.textureHeight;
        info->textureLayer.height = c.rows;
        info->quotients = SurfaceQuotients{};
        for (const Vector3 &pn : points) {
            double du0, dv0, v0, du1, dv1, v1;
            sample(pn, du0, dv0, v0); // dividing: no pass yet
            info->beginPass();
            sample(pn, du1, dv1, v1);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(du0), std::bit_cast<std::uint64_t>(du1)) << c.k;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(dv0), std::bit_cast<std::uint64_t>(dv1)) << c.k;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(v0), std::bit_cast<std::uint64_t>(v1)) << c.k;
        }
    }
    // Changed after the pass began: each value the quotients come from.
    info->beginPass();
    const Vector3 pn(0.4f, -0.3f, -1.7f);
    double du, dv, v, duPass, dvPass, vPass;
    sample(pn, duPass, dvPass, vPass);
    info->openFactor *= 2.0;
    sample(pn, du, dv, v);
    EXPECT_NE(du, duPass);
    info->openFactor /= 2.0;
    info->textureHeight *= 3.0;
    sample(pn, du, dv, v);
    EXPECT_NE(dv, dvPass);
    info->textureHeight /= 3.0;
    info->textureLayer.height += 1;
    sample(pn, du, dv, v);
    EXPECT_NE(v, vPass);
}

TEST_F(SurfaceGeometry, DistanceEstimateAroundTheAsymptoticCone)
{
    SetSemiAxes(info->shape, 1.0f, 1.0f, 1.0f);
    const double q = 1.0 / std::sqrt(2.0); // object length per normalised unit when a = c
    // Between the sheets, on the x axis: distance from the cone |z| = |x| is 3/sqrt(2).
    EXPECT_NEAR(shape().evaluateDistance(Vector3(3.0f, 0.0f, 0.0f)), 3.0 * q - q, 1e-12);
    // On the cone: one normalised unit inside.
    EXPECT_NEAR(shape().evaluateDistance(Vector3(0.0f, 2.0f, 2.0f)), -q, 1e-12);
    // Grows with the distance beyond the cone.
    EXPECT_LT(shape().evaluateDistance(Vector3(0.0f, 5.0f, 1.0f)),
              shape().evaluateDistance(Vector3(0.0f, 9.0f, 1.0f)));
}

TEST_F(SurfaceGeometry, DistanceEstimateIsFiniteOnTheAxis)
{
    SetSemiAxes(info->shape, 1.0f, 1.0f, 1.0f);
    // The vertex is on the surface: the estimate is 0 there, not a NaN.
    EXPECT_EQ(shape().evaluateDistance(Vector3(0.0f, 0.0f, 1.0f)), 0.0);
    const double far = shape().evaluateDistance(Vector3(0.0f, 0.0f, -4.0f));
    EXPECT_NEAR(far, 3.0 / std::sqrt(2.0), 1e-12);
}

TEST_F(SurfaceGeometry, NormalPointsIntoTheBowls)
{
    const Vector3 tail = shape().getHitcoordFromUV(40.0, semiAxes(), 0.1, 1.0);
    const Vector3 head = shape().getHitcoordFromUV(40.0, semiAxes(), 0.1, -1.0);
    for (const Vector3 &p : {tail, head}) {
        const Vector3 n = SurfaceNormal(shape(), p);
        EXPECT_NEAR(Vectormath::Aos::length(n), 1.0, 1e-6);
        const Vector3 inside = p + n * 0.01f;
        const Vector3 outside = p - n * 0.01f;
        EXPECT_GT(Quadric(shape(), inside.getX(), inside.getY(), inside.getZ()), 1.0);
        EXPECT_LT(Quadric(shape(), outside.getX(), outside.getY(), outside.getZ()), 1.0);
    }
    const Vector3 pn = NormalisedPoint(shape(), Vector3(30.0f, -20.0f, -10.0f));
    EXPECT_EQ(pn.getX(), 1.0f);
    EXPECT_EQ(pn.getY(), -1.0f);
    EXPECT_EQ(pn.getZ(), -1.0f);
}

} // namespace
