#include "tracer/Coverage.h"

#include "tracer/CameraRay.h"
#include "tracer/CornerLanes.h"
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

// The four corner rays of one pixel and their quadratics, in the order
// (left, top), (left, bottom), (right, top), (right, bottom).
struct Corners {
    double A[4], Bh[4], D[4];
};

// Any camera: one corner at a time.
void TraceCorners(const Record &info, const float (&px)[4], const float (&py)[4], Corners &c,
                  Ray &ray)
{
    for (int k = 0; k < 4; ++k) {
        CameraRayThrough(info, px[k], py[k], ray);
        c.D[k] = SingleRayTest(info, ray, c.A[k], c.Bh[k]);
    }
}

// Image-plane columns of the left and right corners of pixel column x, and
// rows of the top and bottom corners of pixel row y.
float LeftOf(const Record &info, int x) { return ImagePlaneX(info, x, msaa_sampling_point[kFirstCorner][0]); }
float RightOf(const Record &info, int x) { return ImagePlaneX(info, x, msaa_sampling_point[kSampleCount - 1][0]); }
float TopOf(const Record &info, int y) { return ImagePlaneY(info, y, msaa_sampling_point[kFirstCorner][1]); }
float BottomOf(const Record &info, int y) { return ImagePlaneY(info, y, msaa_sampling_point[kSampleCount - 1][1]); }

// Edge pixel: all nine samples, in table order. `p` comes in with the last
// corner's ray and quadratic (D held at 0 where it misses).
void CoverEdgePixel(const Record &info, int x, int y, PixelCoverage &p)
{
    for (int i = 0; i < kSampleCount; ++i) {
        Ray sample;
        double sampleA = 0.0, sampleBh = 0.0;
        BuildCameraRay(info, x, y, msaa_sampling_point[i][0], msaa_sampling_point[i][1], sample);
        const double sampleD = SingleRayTest(info, sample, sampleA, sampleBh);
        if (i == kCentre) {
            p.ray = sample;
            p.A = sampleA;
            p.Bh = sampleBh;
        }
        if (sampleA != 0.0 && sampleD >= 0.0) {
            if (p.count == 0) {
                p.ray = sample;
                p.A = sampleA;
                p.Bh = sampleBh;
                p.D = sampleD;
            }
            ++p.count;
        }
    }
    p.coverage = static_cast<double>(static_cast<float>(p.count) / 9.0f);
}

// The coverage of pixel (x, y) from the quadratics of its four corners,
// A[0..3], Bh[0..3] and D[0..3], whose last corner's ray is `last`. A corner
// whose line merely runs parallel to an asymptote (A = 0) still counts here;
// it only marks the pixel as worth a closer look.
void CoverFromCorners(const Record &info, int x, int y, const double *A, const double *Bh,
                      const double *D, const Ray &last, PixelCoverage &p)
{
    int cornerHits = 0;
    for (int k = 0; k < 4; ++k) cornerHits += D[k] >= 0.0;
    // The last corner's quadratic, D = 0 where it misses (also for a
    // discriminant that is not a number).
    p.ray = last;
    p.A = A[3];
    p.Bh = Bh[3];
    p.D = D[3] >= 0.0 ? D[3] : 0.0;
    p.count = 0;
    p.coverage = 0.0;
    if (cornerHits == 0) return;
    if (cornerHits == kSampleCount - kFirstCorner) {
        p.count = kSampleCount; // interior: shaded along the last corner's ray
        p.coverage = 1.0;
        return;
    }
    CoverEdgePixel(info, x, y, p);
}

// Any camera, one pixel, one corner at a time.
PixelCoverage CoverPixel(const Record &info, int x, int y)
{
    // The four corners lie on two columns and two rows of the image plane.
    const float left = LeftOf(info, x), right = RightOf(info, x);
    const float top = TopOf(info, y), bottom = BottomOf(info, y);
    const float cornerX[4] = {left, left, right, right};
    const float cornerY[4] = {top, bottom, top, bottom};
    Corners corners;
    Ray last;
    TraceCorners(info, cornerX, cornerY, corners, last); // leaves the last corner's ray
    PixelCoverage p;
    CoverFromCorners(info, x, y, corners.A, corners.Bh, corners.D, last, p);
    return p;
}

// The camera and surface as the corner lanes take them.
CornerLaneCamera LaneCamera(const Record &info)
{
    const Vectormath::Aos::Matrix4 &M = info.cameraToObject;
    const Vectormath::Aos::Vector3 X = M.getCol0().getXYZ(), Y = M.getCol1().getXYZ();
    const Vectormath::Aos::Vector3 Z = M.getCol2().getXYZ() * info.imagePlane.getZ();
    const Vectormath::Aos::Vector3 &inv2 = info.shape.invRadiiSquared;
    return {{X.getX(), X.getY(), X.getZ()},
            {Y.getX(), Y.getY(), Y.getZ()},
            {Z.getX(), Z.getY(), Z.getZ()},
            inv2.getX(),
            inv2.getY(),
            inv2.getZ(),
            info.eyeX,
            info.eyeY,
            info.eyeZ,
            info.eyeImplicit};
}

// A perspective camera: the corners of the whole run lane by lane, every
// lane traced, those past the run's end on its last column.
void CoverPerspectiveRun(const Record &info, int x, int y, int n,
                         PixelCoverage (&out)[kCoverageRun])
{
    static_assert(kCornerLanes == 4 * kCoverageRun);
    const float top = TopOf(info, y), bottom = BottomOf(info, y);
    float cornerX[kCornerLanes], cornerY[kCornerLanes];
    for (int k = 0; k < kCoverageRun; ++k) {
        const int column = x + (k < n ? k : n - 1);
        const float left = LeftOf(info, column), right = RightOf(info, column);
        const float xs[4] = {left, left, right, right}, ys[4] = {top, bottom, top, bottom};
        for (int j = 0; j < 4; ++j) {
            cornerX[4 * k + j] = xs[j];
            cornerY[4 * k + j] = ys[j];
        }
    }
    CornerLanes lanes;
    TraceCornerLanes(LaneCamera(info), cornerX, cornerY, lanes);
    for (int k = 0; k < n; ++k) {
        const int first = 4 * k, last = first + 3;
        Ray ray;
        ray.origin = info.cameraToObject.getCol3();
        ray.direction = Vectormath::Aos::Vector3(lanes.dx[last], lanes.dy[last], lanes.dz[last]);
        CoverFromCorners(info, x + k, y, lanes.A + first, lanes.Bh + first, lanes.D + first, ray,
                         out[k]);
    }
}

// The crossings of each pixel's representative line, for all lanes of a run
// (lanes past the run's end hold harmless values).
void AddCrossings(PixelCoverage (&run)[kCoverageRun])
{
    double A[kCoverageRun], Bh[kCoverageRun], root[kCoverageRun];
    for (int k = 0; k < kCoverageRun; ++k) {
        A[k] = run[k].A;
        Bh[k] = run[k].Bh;
        root[k] = std::sqrt(run[k].D);
    }
    for (int k = 0; k < kCoverageRun; ++k) {
        run[k].tMinus = (Bh[k] - root[k]) / A[k];
        run[k].tPlus = (Bh[k] + root[k]) / A[k];
    }
}

} // namespace

double msaaRayTest(int x, int y, const RenderInfoTemplate<Hyperboloid> &info, int &count, double &A,
                   double &Bh, double &D, Ray &ray)
{
    PixelCoverage run[kCoverageRun];
    CoverRun(info, x, y, 1, run);
    count = run[0].count;
    A = run[0].A;
    Bh = run[0].Bh;
    D = run[0].D;
    ray = run[0].ray;
    return run[0].coverage;
}

void CoverRun(const RenderInfoTemplate<Hyperboloid> &info, int x, int y, int n,
              PixelCoverage (&out)[kCoverageRun])
{
    n = n < 1 ? 1 : (n > kCoverageRun ? kCoverageRun : n);
    if (info.perspective)
        CoverPerspectiveRun(info, x, y, n, out);
    else
        for (int k = 0; k < n; ++k) out[k] = CoverPixel(info, x + k, y);
    for (int k = n; k < kCoverageRun; ++k) out[k] = out[n - 1];
    AddCrossings(out);
}
