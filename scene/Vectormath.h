// Single-precision vector and matrix types of the renderer.
//
// Conventions:
// - All arithmetic is 32-bit float. Renderer code widens to double itself where
//   its own formulas need it.
// - Column vectors: a point p maps to M * p. For an affine transform col0, col1
//   and col2 are the images of the x, y and z axes (w = 0) and col3 holds the
//   translation (w = 1).
// - Vector3 is stored as four floats; the fourth lane means nothing.
//
// Everything here is a plain value type: no heap, no shared state, so every
// operation is safe to use from any number of render threads at once.
#pragma once

#include <cmath>
#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"

namespace Vectormath {
namespace Aos {

class alignas(16) Vector3 {
public:
    Vector3() : v_{0.0f, 0.0f, 0.0f, 0.0f} {}
    Vector3(float x, float y, float z) : v_{x, y, z, 0.0f} {}

    float getX() const { return v_[0]; }
    float getY() const { return v_[1]; }
    float getZ() const { return v_[2]; }
    Vector3 &setX(float x) { v_[0] = x; return *this; }
    Vector3 &setY(float y) { v_[1] = y; return *this; }
    Vector3 &setZ(float z) { v_[2] = z; return *this; }
    float getElem(int i) const { return v_[i]; }
    Vector3 &setElem(int i, float value) { v_[i] = value; return *this; }
    // Index 0..2 (x, y, z).
    float operator[](int i) const { return v_[i]; }
    float &operator[](int i) { return v_[i]; }

    Vector3 operator+(const Vector3 &b) const { return {v_[0] + b.v_[0], v_[1] + b.v_[1], v_[2] + b.v_[2]}; }
    Vector3 operator-(const Vector3 &b) const { return {v_[0] - b.v_[0], v_[1] - b.v_[1], v_[2] - b.v_[2]}; }
    Vector3 operator-() const { return {-v_[0], -v_[1], -v_[2]}; }
    Vector3 operator*(float s) const { return {v_[0] * s, v_[1] * s, v_[2] * s}; }
    Vector3 operator/(float s) const { return {v_[0] / s, v_[1] / s, v_[2] / s}; }
    Vector3 &operator+=(const Vector3 &b) { return *this = *this + b; }
    Vector3 &operator-=(const Vector3 &b) { return *this = *this - b; }
    Vector3 &operator*=(float s) { return *this = *this * s; }
    Vector3 &operator/=(float s) { return *this = *this / s; }

private:
    float v_[4];
};

inline Vector3 operator*(float s, const Vector3 &v) { return v * s; }

class alignas(16) Vector4 {
public:
    Vector4() : v_{0.0f, 0.0f, 0.0f, 0.0f} {}
    Vector4(float x, float y, float z, float w) : v_{x, y, z, w} {}
    Vector4(const Vector3 &xyz, float w) : v_{xyz.getX(), xyz.getY(), xyz.getZ(), w} {}

    float getX() const { return v_[0]; }
    float getY() const { return v_[1]; }
    float getZ() const { return v_[2]; }
    float getW() const { return v_[3]; }
    Vector3 getXYZ() const { return {v_[0], v_[1], v_[2]}; }
    Vector4 &setX(float x) { v_[0] = x; return *this; }
    Vector4 &setY(float y) { v_[1] = y; return *this; }
    Vector4 &setZ(float z) { v_[2] = z; return *this; }
    Vector4 &setW(float w) { v_[3] = w; return *this; }
    Vector4 &setXYZ(const Vector3 &xyz) {
        v_[0] = xyz.getX();
        v_[1] = xyz.getY();
        v_[2] = xyz.getZ();
        return *this;
    }
    float getElem(int i) const { return v_[i]; }
    Vector4 &setElem(int i, float value) { v_[i] = value; return *this; }
    // Index 0..3 (x, y, z, w).
    float operator[](int i) const { return v_[i]; }
    float &operator[](int i) { return v_[i]; }

    Vector4 operator+(const Vector4 &b) const {
        return {v_[0] + b.v_[0], v_[1] + b.v_[1], v_[2] + b.v_[2], v_[3] + b.v_[3]};
    }
    Vector4 operator-(const Vector4 &b) const {
        return {v_[0] - b.v_[0], v_[1] - b.v_[1], v_[2] - b.v_[2], v_[3] - b.v_[3]};
    }
    Vector4 operator-() const { return {-v_[0], -v_[1], -v_[2], -v_[3]}; }
    Vector4 operator*(float s) const { return {v_[0] * s, v_[1] * s, v_[2] * s, v_[3] * s}; }
    Vector4 operator/(float s) const { return {v_[0] / s, v_[1] / s, v_[2] / s, v_[3] / s}; }
    Vector4 &operator+=(const Vector4 &b) { return *this = *this + b; }
    Vector4 &operator-=(const Vector4 &b) { return *this = *this - b; }
    Vector4 &operator*=(float s) { return *this = *this * s; }
    Vector4 &operator/=(float s) { return *this = *this / s; }

private:
    float v_[4];
};

inline Vector4 operator*(float s, const Vector4 &v) { return v * s; }

// Products and norms over the x, y and z lanes.
inline Vector3 mulPerElem(const Vector3 &a, const Vector3 &b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ()};
}
inline float dot(const Vector3 &a, const Vector3 &b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ();
}
inline Vector3 cross(const Vector3 &a, const Vector3 &b) {
    return {a.getY() * b.getZ() - a.getZ() * b.getY(),
            a.getZ() * b.getX() - a.getX() * b.getZ(),
            a.getX() * b.getY() - a.getY() * b.getX()};
}
inline float lengthSqr(const Vector3 &v) { return dot(v, v); }
inline float length(const Vector3 &v) { return std::sqrt(lengthSqr(v)); }
// Scales by the reciprocal square root of the squared length. A zero vector
// gives non-finite lanes; callers that can meet one test for it.
inline Vector3 normalize(const Vector3 &v) { return v * (1.0f / std::sqrt(lengthSqr(v))); }

inline Vector4 mulPerElem(const Vector4 &a, const Vector4 &b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ(), a.getW() * b.getW()};
}
inline float dot(const Vector4 &a, const Vector4 &b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ() + a.getW() * b.getW();
}

class alignas(16) Matrix4 {
public:
    // The zero matrix.
    Matrix4() = default;
    Matrix4(const Vector4 &col0, const Vector4 &col1, const Vector4 &col2, const Vector4 &col3)
        : cols_{col0, col1, col2, col3} {}

    static Matrix4 identity() {
        return {Vector4(1.0f, 0.0f, 0.0f, 0.0f), Vector4(0.0f, 1.0f, 0.0f, 0.0f),
                Vector4(0.0f, 0.0f, 1.0f, 0.0f), Vector4(0.0f, 0.0f, 0.0f, 1.0f)};
    }
    // Affine transform from three axis images and a translation.
    static Matrix4 affine(const Vector3 &xAxis, const Vector3 &yAxis, const Vector3 &zAxis,
                          const Vector3 &translation) {
        return {Vector4(xAxis, 0.0f), Vector4(yAxis, 0.0f), Vector4(zAxis, 0.0f),
                Vector4(translation, 1.0f)};
    }

    const Vector4 &getCol0() const { return cols_[0]; }
    const Vector4 &getCol1() const { return cols_[1]; }
    const Vector4 &getCol2() const { return cols_[2]; }
    const Vector4 &getCol3() const { return cols_[3]; }
    // Column 0..3.
    const Vector4 &getCol(int c) const { return cols_[c]; }
    Matrix4 &setCol0(const Vector4 &c) { cols_[0] = c; return *this; }
    Matrix4 &setCol1(const Vector4 &c) { cols_[1] = c; return *this; }
    Matrix4 &setCol2(const Vector4 &c) { cols_[2] = c; return *this; }
    Matrix4 &setCol3(const Vector4 &c) { cols_[3] = c; return *this; }
    Matrix4 &setCol(int c, const Vector4 &v) { cols_[c] = v; return *this; }
    // Element in column `col`, row `row`.
    float getElem(int col, int row) const { return cols_[col][row]; }
    Matrix4 &setElem(int col, int row, float value) { cols_[col][row] = value; return *this; }

    // Column 3 taken as a position.
    Vector3 getTranslation() const { return cols_[3].getXYZ(); }
    Matrix4 &setTranslation(const Vector3 &t) { cols_[3].setXYZ(t); return *this; }

    // M * v: col0 * v.x + col1 * v.y + col2 * v.z + col3 * v.w.
    Vector4 operator*(const Vector4 &v) const {
        return cols_[0] * v.getX() + cols_[1] * v.getY() + cols_[2] * v.getZ() + cols_[3] * v.getW();
    }
    // A * B: B acts first, so (A * B) * p == A * (B * p).
    Matrix4 operator*(const Matrix4 &b) const;

private:
    Vector4 cols_[4];
};

// A point (w = 1): linear part plus translation.
inline Vector3 transformPoint(const Matrix4 &m, const Vector3 &p) {
    return (m.getCol0() * p.getX() + m.getCol1() * p.getY() + m.getCol2() * p.getZ() + m.getCol3())
        .getXYZ();
}
// A direction (w = 0): linear part only.
inline Vector3 transformDirection(const Matrix4 &m, const Vector3 &d) {
    return (m.getCol0() * d.getX() + m.getCol1() * d.getY() + m.getCol2() * d.getZ()).getXYZ();
}

inline Matrix4 transpose(const Matrix4 &m) {
    const Vector4 &c0 = m.getCol0(), &c1 = m.getCol1(), &c2 = m.getCol2(), &c3 = m.getCol3();
    return {Vector4(c0.getX(), c1.getX(), c2.getX(), c3.getX()),
            Vector4(c0.getY(), c1.getY(), c2.getY(), c3.getY()),
            Vector4(c0.getZ(), c1.getZ(), c2.getZ(), c3.getZ()),
            Vector4(c0.getW(), c1.getW(), c2.getW(), c3.getW())};
}

// General 4x4 inverse by cofactors. A singular matrix is not detected: its
// zero determinant turns the result into infinities and NaNs, which callers
// receive as they are.
Matrix4 inverse(const Matrix4 &m);

} // namespace Aos
} // namespace Vectormath

// Host transform to renderer matrix: host element [i][j] becomes element j of
// column i. The host's row-vector matrix read column by column is the same
// transform under the column-vector convention, so nothing is transposed and
// the host's translation row becomes col3.
inline Vectormath::Aos::Matrix4 ToMatrix4(const A_Matrix4 &m) {
    using Vectormath::Aos::Vector4;
    auto column = [&m](int i) {
        return Vector4(static_cast<float>(m.mat[i][0]), static_cast<float>(m.mat[i][1]),
                       static_cast<float>(m.mat[i][2]), static_cast<float>(m.mat[i][3]));
    };
    return {column(0), column(1), column(2), column(3)};
}

// Folds the composition's pixel aspect ratio into a host transform: every
// world x the transform produces is scaled by num/den about x = width / 2, so
// the scene is in square-pixel units horizontally. y and z are unchanged.
// A null matrix or a zero denominator leaves the matrix untouched.
void ModifyAspectedCoordinate(A_Ratio pixelAspect, int width, A_Matrix4 *transform);
