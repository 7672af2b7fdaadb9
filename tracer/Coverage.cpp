#include "tracer/Coverage.h"

#include "tracer/CameraRay.h"
#include "tracer/Intersection.h"

#include <cmath>

namespace {

constexpr int kCentre = 0;
constexpr int kFirstCorner = 5;
constexpr int kSampleCount = 9;

// The corner pass reads the corners as (left, top), (left, bottom),
// (right, top), (right, bottom).
static_assert(msaa_sampling_point[5][0] == msaa_sampling_point[6][0] &&
              msaa_sampling_point[7][0] == msaa_sampling_point[8][0] &&
              msaa_sampling_point[5][1] == msaa_sampling_point[7][1] &&
              msaa_sampling_point[6][1] == msaa_sampling_point[8][1]);

using Record = RenderInfoTemplate<Hyperboloid>;

// The four corner rays of one pixel and their quadratics, lane by lane.
struct Corners {
    float dx[4], dy[4], dz[4]; // unit directions
    double A[4], Bh[4], D[4];
};

// Corner rays of a perspective camera: exactly the operations of
// CameraRayThrough and SingleRayTest, on arrays the compiler can vectorise
// (every lane rounds as the scalar code would).
void TracePerspectiveCorners(const Record &info, const float (&px)[4], const float (&py)[4],
                             Corners &c)
{
    const Vectormath::Aos::Matrix4 &M = info.cameraToObject;
    const Vectormath::Aos::Vector3 X = M.getCol0().getXYZ(), Y = M.getCol1().getXYZ();
    const Vectormath::Aos::Vector3 Z = M.getCol2().getXYZ() * info.imagePlane.getZ();
    for (int k = 0; k < 4; ++k) {
        const float vx = (X.getX() * px[k] + Y.getX() * py[k]) - Z.getX();
        const float vy = (X.getY() * px[k] + Y.getY() * py[k]) - Z.getY();
        const float vz = (X.getZ() * px[k] + Y.getZ() * py[k]) - Z.getZ();
        const float scale = 1.0f / std::sqrt(vx * vx + vy * vy + vz * vz);
        c.dx[k] = vx * scale;
        c.dy[k] = vy * scale;
        c.dz[k] = vz * scale;
    }
    const Vectormath::Aos::Vector3 &inv2 = info.shape.invRadiiSquared;
    const double ia = inv2.getX(), ib = inv2.getY(), ic = inv2.getZ();
    for (int k = 0; k < 4; ++k) {
        const double dx = c.dx[k], dy = c.dy[k], dz = c.dz[k];
        c.A[k] = dz * dz * ic - dx * dx * ia - dy * dy * ib;
        const double B = dz * info.eyeZ * ic - dx * info.eyeX * ia - dy * info.eyeY * ib;
        c.Bh[k] = -B;
        c.D[k] = B * B - c.A[k] * info.eyeImplicit;
    }
}

// Any camera: one corner at a time.
void TraceCorners(const Record &info, const float (&px)[4], const float (&py)[4], Corners &c,
                  Ray &ray)
{
    for (int k = 0; k < 4; ++k) {
        CameraRayThrough(info, px[k], py[k], ray);
        c.dx[k] = ray.direction.getX();
        c.dy[k] = ray.direction.getY();
        c.dz[k] = ray.direction.getZ();
        c.D[k] = SingleRayTest(info, ray, c.A[k], c.Bh[k]);
    }
}

} // namespace

double msaaRayTest(int x, int y, const RenderInfoTemplate<Hyperboloid> &info, int &count, double &A,
                   double &Bh, double &D, Ray &ray)
{
    count = 0;

    // Corner pass. A corner whose line merely runs parallel to an asymptote
    // (A = 0) still counts here; it only marks the pixel as worth a closer look.
    // The four corners lie on two columns and two rows of the image plane.
    const float left = ImagePlaneX(info, x, msaa_sampling_point[kFirstCorner][0]);
    const float right = ImagePlaneX(info, x, msaa_sampling_point[kSampleCount - 1][0]);
    const float top = ImagePlaneY(info, y, msaa_sampling_point[kFirstCorner][1]);
    const float bottom = ImagePlaneY(info, y, msaa_sampling_point[kSampleCount - 1][1]);
    const float cornerX[4] = {left, left, right, right};
    const float cornerY[4] = {top, bottom, top, bottom};
    Corners corners;
    if (info.perspective) {
        TracePerspectiveCorners(info, cornerX, cornerY, corners);
        ray.origin = info.cameraToObject.getCol3();
        ray.direction = Vectormath::Aos::Vector3(corners.dx[3], corners.dy[3], corners.dz[3]);
    } else {
        TraceCorners(info, cornerX, cornerY, corners, ray); // leaves the last corner's ray
    }
    int cornerHits = 0;
    for (int k = 0; k < 4; ++k) cornerHits += corners.D[k] >= 0.0;
    // The last corner's quadratic, D = 0 where it misses (also for a
    // discriminant that is not a number).
    A = corners.A[3];
    Bh = corners.Bh[3];
    D = corners.D[3] >= 0.0 ? corners.D[3] : 0.0;
    if (cornerHits == 0) return 0.0;
    if (cornerHits == kSampleCount - kFirstCorner) {
        count = kSampleCount; // interior: shaded along the last corner's ray
        return 1.0;
    }

    // Edge pixel: trace all nine samples.
    for (int i = 0; i < kSampleCount; ++i) {
        Ray sample;
        double sampleA = 0.0, sampleBh = 0.0;
        BuildCameraRay(info, x, y, msaa_sampling_point[i][0], msaa_sampling_point[i][1], sample);
        const double sampleD = SingleRayTest(info, sample, sampleA, sampleBh);
        if (i == kCentre) {
            ray = sample;
            A = sampleA;
            Bh = sampleBh;
        }
        if (sampleA != 0.0 && sampleD >= 0.0) {
            if (count == 0) {
                ray = sample;
                A = sampleA;
                Bh = sampleBh;
                D = sampleD;
            }
            ++count;
        }
    }
    return static_cast<double>(static_cast<float>(count) / 9.0f);
}
