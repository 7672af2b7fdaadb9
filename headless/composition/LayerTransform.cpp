#include "headless/composition/LayerTransform.h"

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace headless {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

Vec3 subtract(const Vec3 &a, const Vec3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3 cross(const Vec3 &a, const Vec3 &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Vec3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// v / |v|, or `fallback` when v has no usable length.
Vec3 normalised(const Vec3 &v, const Vec3 &fallback) {
    const double len = length(v);
    if (!(len > 1e-12) || !std::isfinite(len)) return fallback;
    return {v.x / len, v.y / len, v.z / len};
}

A_Matrix4 fromRows(const Vec3 &x, const Vec3 &y, const Vec3 &z) {
    A_Matrix4 m = identityMatrix();
    const Vec3 rows[3] = {x, y, z};
    for (int r = 0; r < 3; ++r) {
        m.mat[r][0] = rows[r].x;
        m.mat[r][1] = rows[r].y;
        m.mat[r][2] = rows[r].z;
    }
    return m;
}

} // namespace

A_Matrix4 identityMatrix() {
    A_Matrix4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mat[r][c] = r == c ? 1.0 : 0.0;
    return m;
}

A_Matrix4 multiply(const A_Matrix4 &a, const A_Matrix4 &b) {
    A_Matrix4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += a.mat[r][k] * b.mat[k][c];
            m.mat[r][c] = sum;
        }
    return m;
}

Vec3 transformPoint(const Vec3 &p, const A_Matrix4 &m) {
    const double in[4] = {p.x, p.y, p.z, 1.0};
    double out[4] = {0.0, 0.0, 0.0, 0.0};
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k < 4; ++k) out[c] += in[k] * m.mat[k][c];
    // Affine transforms keep w at 1; divide only when a caller built otherwise.
    if (out[3] != 1.0 && out[3] != 0.0) return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
    return {out[0], out[1], out[2]};
}

A_Matrix4 translation(const Vec3 &offset) {
    A_Matrix4 m = identityMatrix();
    m.mat[3][0] = offset.x;
    m.mat[3][1] = offset.y;
    m.mat[3][2] = offset.z;
    return m;
}

A_Matrix4 scaling(const Vec3 &factors) {
    A_Matrix4 m = identityMatrix();
    m.mat[0][0] = factors.x;
    m.mat[1][1] = factors.y;
    m.mat[2][2] = factors.z;
    return m;
}

A_Matrix4 rotationX(double degrees) {
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    return fromRows({1.0, 0.0, 0.0}, {0.0, c, s}, {0.0, -s, c});
}

A_Matrix4 rotationY(double degrees) {
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    return fromRows({c, 0.0, -s}, {0.0, 1.0, 0.0}, {s, 0.0, c});
}

A_Matrix4 rotationZ(double degrees) {
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    return fromRows({c, s, 0.0}, {-s, c, 0.0}, {0.0, 0.0, 1.0});
}

A_Matrix4 lookAt(const Vec3 &eye, const Vec3 &target) {
    const Vec3 z = normalised(subtract(target, eye), {0.0, 0.0, 1.0});
    const Vec3 x = normalised(cross({0.0, 1.0, 0.0}, z), {1.0, 0.0, 0.0});
    const Vec3 y = cross(z, x);
    return fromRows(x, y, z);
}

A_Matrix4 layerToParent(const Layer &layer, double t) {
    const Transform &tr = layer.transform;
    const Vec3 anchor = tr.anchorPoint.at(t);
    const Vec3 scale = tr.scale.at(t);
    const Vec3 orientation = tr.orientation.at(t);
    const Vec3 position = tr.position.at(t);

    A_Matrix4 m = translation({-anchor.x, -anchor.y, -anchor.z});
    m = multiply(m, scaling({scale.x / 100.0, scale.y / 100.0, scale.z / 100.0}));
    m = multiply(m, rotationX(tr.rotationX.at(t)));
    m = multiply(m, rotationY(tr.rotationY.at(t)));
    m = multiply(m, rotationZ(tr.rotationZ.at(t)));
    m = multiply(m, rotationX(orientation.x));
    m = multiply(m, rotationY(orientation.y));
    m = multiply(m, rotationZ(orientation.z));
    const bool looks = tr.hasPointOfInterest &&
                       (layer.type == LayerType::Camera || layer.type == LayerType::Light);
    if (looks) m = multiply(m, lookAt(position, tr.pointOfInterest.at(t)));
    return multiply(m, translation(position));
}

A_Matrix4 layerToWorld(const Composition &comp, int layerIndex, double t) {
    const std::size_t count = comp.layers.size();
    if (layerIndex < 0 || static_cast<std::size_t>(layerIndex) >= count) return identityMatrix();
    // Walk up the chain, stopping at a parent that is missing or seen before.
    std::vector<bool> seen(count, false);
    A_Matrix4 m = identityMatrix();
    int index = layerIndex;
    while (index >= 0 && static_cast<std::size_t>(index) < count &&
           !seen[static_cast<std::size_t>(index)]) {
        seen[static_cast<std::size_t>(index)] = true;
        const Layer &layer = comp.layers[static_cast<std::size_t>(index)];
        m = multiply(m, layerToParent(layer, t));
        index = layer.parent;
    }
    return m;
}

} // namespace headless
