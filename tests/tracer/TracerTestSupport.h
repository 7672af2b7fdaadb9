// Shared set-up of the tracer tests: a render record with a chosen surface
// and camera, filled the way scene construction fills it.
#pragma once

#include "headless/boundary/Host.h"
#include "scene/Hyperboloid.h"
#include "scene/RenderInfo.h"
#include "scene/Vectormath.h"

#include <cmath>
#include <memory>

namespace tracer_test {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;
using Record = RenderInfoTemplate<Hyperboloid>;

// A render record for tests, on a headless host that supplies the basic
// suite its suite cache is built from. Geometry reads no host service.
class TestRecord {
public:
    TestRecord() : host_(SingleThreaded()), info_(std::make_unique<Record>(host_.inData())) {}
    Record &operator*() { return *info_; }
    Record *operator->() { return info_.get(); }
    const Record &get() const { return *info_; }

private:
    static headless::HostOptions SingleThreaded()
    {
        headless::HostOptions options;
        options.threads = 1;
        return options;
    }

    headless::Host host_;
    std::unique_ptr<Record> info_;
};

// Final semi-axes and their derived values, as scene construction stores them.
inline void SetSemiAxes(Hyperboloid &shape, float a, float b, float c)
{
    shape.radii = Vector3(a, b, c);
    shape.radiiSquared = Vector3(a * a, b * b, c * c);
    const float ia = 1.0f / a, ib = 1.0f / b, ic = c > 0.0f ? 1.0f / c : 0.0f;
    shape.invRadii = Vector3(ia, ib, ic);
    shape.invRadiiSquared = Vector3(ia * ia, ib * ib, ic * ic);
}

// The quadric's value Q(p) = z^2/c^2 - x^2/a^2 - y^2/b^2 in double.
inline double Quadric(const Hyperboloid &shape, double x, double y, double z)
{
    const double a = shape.radii.getX(), b = shape.radii.getY(), c = shape.radii.getZ();
    return z * z / (c * c) - x * x / (a * a) - y * y / (b * b);
}

inline Matrix4 Frame(const Vector3 &axisX, const Vector3 &axisY, const Vector3 &axisZ,
                     const Vector3 &translation)
{
    return Matrix4(Vector4(axisX, 0.0f), Vector4(axisY, 0.0f), Vector4(axisZ, 0.0f),
                   Vector4(translation, 1.0f));
}

// Perspective camera at `eye` with the given frame, as camera construction
// leaves the record: cameraToObject, the eye in double and its quadric value.
inline void SetPerspectiveCamera(Record &info, const Matrix4 &cameraToObject, float zoom,
                                 float cx, float cy)
{
    info.perspective = true;
    info.cameraToObject = cameraToObject;
    info.imagePlane = Vector3(cx, cy, -zoom);
    const Vector4 eye = cameraToObject.getCol3();
    info.eyeX = eye.getX();
    info.eyeY = eye.getY();
    info.eyeZ = eye.getZ();
    const Vector3 &inv2 = info.shape.invRadiiSquared;
    info.eyeImplicit = info.eyeZ * info.eyeZ * inv2.getZ() + inv2.getX() * (-info.eyeX * info.eyeX) -
                       inv2.getY() * (info.eyeY * info.eyeY) - 1.0;
}

inline void SetOrthographicCamera(Record &info, const Matrix4 &cameraToObject, float cx, float cy)
{
    info.perspective = false;
    info.cameraToObject = cameraToObject;
    info.imagePlane = Vector3(cx, cy, -1000.0f);
}

// Unit render scale and square pixels.
inline void SetFullResolution(Record &info)
{
    info.downsampleX = 1.0;
    info.downsampleY = 1.0;
    info.pixelAspect = 1.0;
}

} // namespace tracer_test
