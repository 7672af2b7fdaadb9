// A ray in the shape's object space: camera rays of the coverage pass and the
// shadow and reflection rays of shading. Every ray the renderer builds has a
// unit direction and an origin with w = 1.
//
// Thread safety: a plain value; each render thread keeps its own rays.
#pragma once

#include "scene/Vectormath.h"

struct Ray {
    Vectormath::Aos::Vector3 direction;
    Vectormath::Aos::Vector4 origin;

    // origin + t direction. The ray parameter is a double; the point, like
    // all geometry, is single precision and keeps the origin's w.
    Vectormath::Aos::Vector4 pointAt(double t) const
    {
        const float s = static_cast<float>(t);
        return Vectormath::Aos::Vector4(origin.getX() + s * direction.getX(),
                                        origin.getY() + s * direction.getY(),
                                        origin.getZ() + s * direction.getZ(), origin.getW());
    }
};
