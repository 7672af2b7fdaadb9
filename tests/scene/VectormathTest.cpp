#include "scene/Vectormath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace Vectormath::Aos;

namespace {

void expectMatrixEq(const Matrix4 &expected, const Matrix4 &actual) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(expected.getElem(c, r), actual.getElem(c, r)) << "column " << c << " row " << r;
}

void expectMatrixNear(const Matrix4 &expected, const Matrix4 &actual, float tolerance) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_NEAR(expected.getElem(c, r), actual.getElem(c, r), tolerance)
                << "column " << c << " row " << r;
}

// Integer-valued, non-commuting transforms: float products of these are exact.
Matrix4 shearA() {
    return {Vector4(1, 2, 0, 0), Vector4(0, 1, 3, 0), Vector4(-1, 0, 2, 0), Vector4(4, -5, 6, 1)};
}
Matrix4 shearB() {
    return {Vector4(2, 0, 1, 0), Vector4(1, -1, 0, 0), Vector4(0, 3, 1, 0), Vector4(-2, 7, 1, 1)};
}

Matrix4 rotationTranslation() {
    // Rotation by 0.7 rad about the unit axis (2, -3, 6) / 7, then a translation.
    const double angle = 0.7, x = 2.0 / 7, y = -3.0 / 7, z = 6.0 / 7;
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    auto f = [](double v) { return static_cast<float>(v); };
    return Matrix4::affine(Vector3(f(t * x * x + c), f(t * x * y + s * z), f(t * x * z - s * y)),
                           Vector3(f(t * x * y - s * z), f(t * y * y + c), f(t * y * z + s * x)),
                           Vector3(f(t * x * z + s * y), f(t * y * z - s * x), f(t * z * z + c)),
                           Vector3(120.5f, -37.25f, 900.0f));
}

} // namespace

TEST(Vectormath, TypesAreSixteenByteAlignedFloatGroups) {
    static_assert(alignof(Vector3) == 16 && sizeof(Vector3) == 16);
    static_assert(alignof(Vector4) == 16 && sizeof(Vector4) == 16);
    static_assert(alignof(Matrix4) == 16 && sizeof(Matrix4) == 64);
    expectMatrixEq(Matrix4(Vector4(), Vector4(), Vector4(), Vector4()), Matrix4());
}

TEST(Vectormath, ProductWithIdentityReturnsTheTransform) {
    const Matrix4 m = rotationTranslation();
    expectMatrixEq(m, m * Matrix4::identity());
    expectMatrixEq(m, Matrix4::identity() * m);
}

TEST(Vectormath, ProductAppliesTheRightFactorFirst) {
    const Matrix4 a = shearA(), b = shearB();
    const Vector3 p(3, -1, 2);
    const Vector3 composed = transformPoint(a * b, p);
    const Vector3 stepwise = transformPoint(a, transformPoint(b, p));
    EXPECT_EQ(stepwise.getX(), composed.getX());
    EXPECT_EQ(stepwise.getY(), composed.getY());
    EXPECT_EQ(stepwise.getZ(), composed.getZ());
    // The opposite order gives a different point, so the check above is a real one.
    EXPECT_NE(transformPoint(b, transformPoint(a, p)).getX(), composed.getX());
}

TEST(Vectormath, PointsTakeTheTranslationAndDirectionsDoNot) {
    const Matrix4 m = shearA();
    const Vector3 d(1, 1, 1);
    const Vector3 point = transformPoint(m, d), dir = transformDirection(m, d);
    EXPECT_EQ(point.getX() - dir.getX(), 4.0f);
    EXPECT_EQ(point.getY() - dir.getY(), -5.0f);
    EXPECT_EQ(point.getZ() - dir.getZ(), 6.0f);
    const Vector4 homogeneous = m * Vector4(d, 1.0f);
    EXPECT_EQ(point.getX(), homogeneous.getX());
    EXPECT_EQ(homogeneous.getW(), 1.0f);
    EXPECT_EQ(m.getTranslation().getZ(), 6.0f);
}

TEST(Vectormath, DotLengthAndNormalizeUseXyzOnly) {
    const Vector3 v(3, 4, 12);
    EXPECT_EQ(dot(v, Vector3(1, 2, 3)), 47.0f);
    EXPECT_EQ(length(v), 13.0f);
    const Vector3 n = normalize(v);
    EXPECT_FLOAT_EQ(n.getX(), 3.0f / 13);
    EXPECT_FLOAT_EQ(n.getZ(), 12.0f / 13);
    const Vector3 c = cross(Vector3(1, 0, 0), Vector3(0, 1, 0));
    EXPECT_EQ(c.getZ(), 1.0f);
    EXPECT_EQ(c.getX(), 0.0f);
}

TEST(Vectormath, InverseOfRigidTransformIsTransposedRotationAndBackRotatedTranslation) {
    const Matrix4 m = rotationTranslation();
    const Matrix4 inv = inverse(m);
    Matrix4 expected = transpose(m);
    expected.setCol0(Vector4(expected.getCol0().getXYZ(), 0.0f));
    expected.setCol1(Vector4(expected.getCol1().getXYZ(), 0.0f));
    expected.setCol2(Vector4(expected.getCol2().getXYZ(), 0.0f));
    const Vector3 t = m.getTranslation();
    expected.setCol3(Vector4(-transformDirection(expected, t), 1.0f));
    // Float precision: the translation is about 900 long.
    expectMatrixNear(expected, inv, 1e-4f);
    expectMatrixNear(Matrix4::identity(), inv * m, 1e-4f);
}

TEST(Vectormath, InverseOfUnimodularMatrixIsExact) {
    // Determinant 1 and small integer cofactors: every float step is exact,
    // so a single wrong sign or minor shows up as an exact mismatch.
    const Matrix4 m(Vector4(2, 1, 0, 1), Vector4(1, 1, 0, 0), Vector4(0, 3, 1, 2), Vector4(1, 0, 0, 2));
    const Matrix4 inv = inverse(m);
    expectMatrixEq(Matrix4::identity(), inv * m);
    expectMatrixEq(Matrix4::identity(), m * inv);
}

TEST(Vectormath, InverseOfMatrixWithZeroColumnIsNonFinite) {
    Matrix4 m = rotationTranslation();
    m.setCol1(Vector4()); // a layer scaled to 0 along y
    const Matrix4 inv = inverse(m);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_FALSE(std::isfinite(inv.getElem(c, r))) << "column " << c << " row " << r;
}

TEST(Vectormath, HostMatrixRowsBecomeColumns) {
    A_Matrix4 host{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            host.mat[i][j] = 10 * i + j + 0.5;
    host.mat[3][0] = 12.5; // tx
    host.mat[3][1] = -7.0; // ty
    host.mat[3][2] = 300;  // tz
    host.mat[3][3] = 1;
    const Matrix4 m = ToMatrix4(host);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(static_cast<float>(host.mat[i][j]), m.getElem(i, j));
    EXPECT_EQ(m.getCol3().getX(), 12.5f);
    EXPECT_EQ(m.getCol3().getY(), -7.0f);
    EXPECT_EQ(m.getCol3().getZ(), 300.0f);
    EXPECT_EQ(m.getCol3().getW(), 1.0f);
}

TEST(Vectormath, HostMatrixKeepsItsMeaning) {
    // Host convention: p' = p * M with p a row vector.
    A_Matrix4 host{{{0, 1, 0, 0}, {-2, 0, 0, 0}, {0, 0, 3, 0}, {10, 20, 30, 1}}};
    const double p[4] = {1, 2, 3, 1};
    double expected[4] = {};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            expected[j] += p[i] * host.mat[i][j];
    const Vector3 q = transformPoint(ToMatrix4(host), Vector3(1, 2, 3));
    EXPECT_EQ(q.getX(), expected[0]);
    EXPECT_EQ(q.getY(), expected[1]);
    EXPECT_EQ(q.getZ(), expected[2]);
}

TEST(Vectormath, SquarePixelsLeaveTheHostMatrixUnchanged) {
    A_Matrix4 host{{{0.3, 0.1, 0.2, 0}, {-0.7, 1.1, 0, 0}, {0, 0.25, 3, 0}, {75.123, 20, 30, 1}}};
    const A_Matrix4 before = host;
    ModifyAspectedCoordinate(A_Ratio{1, 1}, 100, &host);
    EXPECT_EQ(0, std::memcmp(&before, &host, sizeof host));
    ModifyAspectedCoordinate(A_Ratio{3, 3}, 1920, &host);
    EXPECT_EQ(0, std::memcmp(&before, &host, sizeof host));
}

TEST(Vectormath, PixelAspectScalesWorldXAboutTheCentreLine) {
    A_Matrix4 at75{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {75, 20, 30, 1}}};
    A_Matrix4 at50 = at75;
    at50.mat[3][0] = 50;
    ModifyAspectedCoordinate(A_Ratio{2, 1}, 100, &at75);
    ModifyAspectedCoordinate(A_Ratio{2, 1}, 100, &at50);
    EXPECT_EQ(at75.mat[3][0], 100.0);
    EXPECT_EQ(at50.mat[3][0], 50.0);
    EXPECT_EQ(at75.mat[3][1], 20.0);
    EXPECT_EQ(at75.mat[0][0], 2.0);

    // Any point: x' = (x - 50) * 2 + 50, y and z unchanged.
    A_Matrix4 rotated{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {60, 10, 0, 1}}};
    ModifyAspectedCoordinate(A_Ratio{2, 1}, 100, &rotated);
    const Vector3 q = transformPoint(ToMatrix4(rotated), Vector3(4, 5, 6)); // unscaled: (55, 14, 6)
    EXPECT_EQ(q.getX(), 60.0f);
    EXPECT_EQ(q.getY(), 14.0f);
    EXPECT_EQ(q.getZ(), 6.0f);
}

TEST(Vectormath, InvalidAspectArgumentsAreHarmless) {
    A_Matrix4 host{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {75, 0, 0, 1}}};
    const A_Matrix4 before = host;
    ModifyAspectedCoordinate(A_Ratio{2, 0}, 100, &host);
    EXPECT_EQ(0, std::memcmp(&before, &host, sizeof host));
    ModifyAspectedCoordinate(A_Ratio{2, 1}, 100, nullptr);
}
