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

// Corner rays and their quadratics, lane by lane: the four corners of one
// pixel (L = 4) or of a run of pixels (L = 4 kCoverageRun), in the order
// (left, top), (left, bottom), (right, top), (right, bottom) per pixel.
template <int L> struct Corners {
    float dx[L], dy[L], dz[L]; // unit directions
    double A[L], Bh[L], D[L];
};

// Corner rays of a perspective camera: exactly the operations of
// CameraRayThrough and SingleRayTest, on arrays the compiler can vectorise
// (every lane rounds as the scalar code would).
template <int L>
void TracePerspectiveCorners(const Record &info, const float (&px)[L], const float (&py)[L],
                             Corners<L> &c)
{
    const Vectormath::Aos::Matrix4 &M = info.cameraToObject;
    const Vectormath::Aos::Vector3 X = M.getCol0().getXYZ(), Y = M.getCol1().getXYZ();
    const Vectormath::Aos::Vector3 Z = M.getCol2().getXYZ() * info.imagePlane.getZ();
    for (int k = 0; k < L; ++k) {
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
    for (int k = 0; k < L; ++k) {
        const double dx = c.dx[k], dy = c.dy[k], dz = c.dz[k];
        c.A[k] = dz * dz * ic - dx * dx * ia - dy * dy * ib;
        const double B = dz * info.eyeZ * ic - dx * info.eyeX * ia - dy * info.eyeY * ib;
        c.Bh[k] = -B;
        c.D[k] = B * B - c.A[k] * info.eyeImplicit;
    }
}

// Any camera: one corner at a time.
void TraceCorners(const Record &info, const float (&px)[4], const float (&py)[4], Corners<4> &c,
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

// The coverage of pixel (x, y) from its four corners, lanes first to
// first + 3 of `c`, whose last corner's ray is `last`. A corner whose line
// merely runs parallel to an asymptote (A = 0) still counts here; it only
// marks the pixel as worth a closer look.
template <int L>
void CoverFromCorners(const Record &info, int x, int y, const Corners<L> &c, int first,
                      const Ray &last, PixelCoverage &p)
{
    int cornerHits = 0;
    for (int k = first; k < first + 4; ++k) cornerHits += c.D[k] >= 0.0;
    // The last corner's quadratic, D = 0 where it misses (also for a
    // discriminant that is not a number).
    const int lastCorner = first + 3;
    p.ray = last;
    p.A = c.A[lastCorner];
    p.Bh = c.Bh[lastCorner];
    p.D = c.D[lastCorner] >= 0.0 ? c.D[lastCorner] : 0.0;
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

// The corner ray of lane k of a perspective camera.
template <int L> Ray PerspectiveCornerRay(const Record &info, const Corners<L> &c, int k)
{
    Ray ray;
    ray.origin = info.cameraToObject.getCol3();
    ray.direction = Vectormath::Aos::Vector3(c.dx[k], c.dy[k], c.dz[k]);
    return ray;
}

PixelCoverage CoverPixel(const Record &info, int x, int y)
{
    // The four corners lie on two columns and two rows of the image plane.
    const float left = LeftOf(info, x), right = RightOf(info, x);
    const float top = TopOf(info, y), bottom = BottomOf(info, y);
    const float cornerX[4] = {left, left, right, right};
    const float cornerY[4] = {top, bottom, top, bottom};
    Corners<4> corners;
    Ray last;
    if (info.perspective) {
        TracePerspectiveCorners(info, cornerX, cornerY, corners);
        last = PerspectiveCornerRay(info, corners, 3);
    } else {
        TraceCorners(info, cornerX, cornerY, corners, last); // leaves the last corner's ray
    }
    PixelCoverage p;
    CoverFromCorners(info, x, y, corners, 0, last, p);
    return p;
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
    const PixelCoverage p = CoverPixel(info, x, y);
    count = p.count;
    A = p.A;
    Bh = p.Bh;
    D = p.D;
    ray = p.ray;
    return p.coverage;
}

void CoverRun(const RenderInfoTemplate<Hyperboloid> &info, int x, int y, int n,
              PixelCoverage (&out)[kCoverageRun])
{
    n = n < 1 ? 1 : (n > kCoverageRun ? kCoverageRun : n);
    if (!info.perspective) {
        for (int k = 0; k < n; ++k) out[k] = CoverPixel(info, x + k, y);
    } else {
        // Every lane is traced, those past the run's end on its last column.
        constexpr int L = 4 * kCoverageRun;
        const float top = TopOf(info, y), bottom = BottomOf(info, y);
        float cornerX[L], cornerY[L];
        for (int k = 0; k < kCoverageRun; ++k) {
            const int column = x + (k < n ? k : n - 1);
            const float left = LeftOf(info, column), right = RightOf(info, column);
            const float xs[4] = {left, left, right, right}, ys[4] = {top, bottom, top, bottom};
            for (int j = 0; j < 4; ++j) {
                cornerX[4 * k + j] = xs[j];
                cornerY[4 * k + j] = ys[j];
            }
        }
        Corners<L> corners;
        TracePerspectiveCorners(info, cornerX, cornerY, corners);
        for (int k = 0; k < n; ++k)
            CoverFromCorners(info, x + k, y, corners, 4 * k,
                             PerspectiveCornerRay(info, corners, 4 * k + 3), out[k]);
    }
    for (int k = n; k < kCoverageRun; ++k) out[k] = out[n - 1];
    AddCrossings(out);
}
