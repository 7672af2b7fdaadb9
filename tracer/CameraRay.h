// Camera rays: the ray through a sub-pixel position of an output pixel, in
// the shape's object space.
//
// The output buffer's pixel grid is read as the composition's grid at full
// resolution (divided by the render scale), centred on the principal point
// (imagePlane.x, imagePlane.y), with x stretched by the pixel aspect ratio.
// A perspective camera shoots from the eye through that point of the image
// plane, which lies at the zoom distance along the camera's +z; an
// orthographic camera shoots parallel to its z axis from a point far enough
// behind the image plane to start outside the surface's bounds.
//
// Thread safety: reads the render record only; call from any render thread.
#pragma once

#include "scene/RenderInfo.h"
#include "tracer/Ray.h"

#include <algorithm>
#include <cmath>

// Image-plane coordinates (composition pixels from the principal point) of
// the sub-pixel position x + offsetX, y + offsetY of the output grid.
// At full resolution the division by the render scale is by exactly 1, which
// leaves the position as it is: it is skipped, without changing a bit.
inline double FullResolution(double position, double downsample)
{
    return downsample == 1.0 ? position : position / downsample;
}
inline float ImagePlaneX(const RenderInfoTemplate<Hyperboloid> &info, int x, double offsetX)
{
    return static_cast<float>((FullResolution(x + offsetX, info.downsampleX) - info.imagePlane.getX()) *
                              info.pixelAspect);
}
inline float ImagePlaneY(const RenderInfoTemplate<Hyperboloid> &info, int y, double offsetY)
{
    return static_cast<float>(FullResolution(y + offsetY, info.downsampleY) - info.imagePlane.getY());
}

// The camera ray through image-plane point (px, py). Sub-samples of a pixel
// share their columns and rows, so callers that trace several compute each
// coordinate once.
inline void CameraRayThrough(const RenderInfoTemplate<Hyperboloid> &info, float px, float py,
                             Ray &ray)
{
    using Vectormath::Aos::Vector3;
    using Vectormath::Aos::Vector4;

    const Vectormath::Aos::Matrix4 &M = info.cameraToObject;
    const Vector3 axisX = M.getCol0().getXYZ();
    const Vector3 axisY = M.getCol1().getXYZ();
    const Vector3 axisZ = M.getCol2().getXYZ();

    if (info.perspective) {
        const float focal = info.imagePlane.getZ(); // minus the zoom
        ray.direction = Vectormath::Aos::normalize(axisX * px + axisY * py - axisZ * focal);
        ray.origin = M.getCol3();
        return;
    }

    const Vector3 &r = info.shape.radii;
    const float behind = std::max({std::fabs(r.getX()), std::fabs(r.getY()), std::fabs(r.getZ())});
    ray.direction = Vectormath::Aos::normalize(axisZ);
    const Vector3 start = axisX * px + axisY * py - axisZ * behind + M.getCol3().getXYZ();
    ray.origin = Vector4(start, 1.0f);
}

inline void BuildCameraRay(const RenderInfoTemplate<Hyperboloid> &info, int x, int y,
                           double offsetX, double offsetY, Ray &ray)
{
    CameraRayThrough(info, ImagePlaneX(info, x, offsetX), ImagePlaneY(info, y, offsetY), ray);
}
