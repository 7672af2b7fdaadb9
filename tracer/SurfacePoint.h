// Point-wise quantities of the hyperboloid of two sheets
//     Q(p) = z^2/c^2 - x^2/a^2 - y^2/b^2 = 1
// in the shape's object space: the normalised point and the surface normal.
// Both are computed in single precision from the reciprocal semi-axes the
// render record precomputes once per frame.
//
// Thread safety: pure functions of their arguments; call from any thread.
#pragma once

#include "scene/Hyperboloid.h"
#include "scene/Vectormath.h"

// pn = (x/a, y/b, z/c). Its z is the "normalised height" d of the texture
// parametrisation: |d| >= 1 on the surface, d = +-1 at the vertices.
inline Vectormath::Aos::Vector3 NormalisedPoint(const Hyperboloid &shape,
                                                const Vectormath::Aos::Vector3 &p)
{
    const Vectormath::Aos::Vector3 &inv = shape.invRadii;
    return Vectormath::Aos::Vector3(p.getX() * inv.getX(), p.getY() * inv.getY(),
                                    p.getZ() * inv.getZ());
}

// Unit gradient of Q at p, (-x/a^2, -y/b^2, z/c^2) normalised. It points into
// the bowls (toward Q > 1) on both sheets.
inline Vectormath::Aos::Vector3 SurfaceNormal(const Hyperboloid &shape,
                                              const Vectormath::Aos::Vector3 &p)
{
    const Vectormath::Aos::Vector3 &inv2 = shape.invRadiiSquared;
    return Vectormath::Aos::normalize(Vectormath::Aos::Vector3(
        -p.getX() * inv2.getX(), -p.getY() * inv2.getY(), p.getZ() * inv2.getZ()));
}
