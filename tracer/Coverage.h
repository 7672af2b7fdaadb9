// Nine-point anti-aliasing coverage of one output pixel.
//
// Sub-sample positions inside the pixel square [0, 1) x [0, 1) form a 3 x 3
// grid: the centre first, then the four edge midpoints, then the four
// corners. The corners decide whether the pixel is empty, fully covered or on
// an edge, so the interior of the silhouette costs four rays and the outside
// four rays; only edge pixels trace all nine.
//
// Thread safety: reads the render record only and writes the caller's
// outputs; any number of render threads call it at once.
#pragma once

#include "scene/RenderInfo.h"
#include "tracer/Ray.h"

// (x, y) offsets inside the pixel; indices 1-4 are edge midpoints, 5-8 corners.
inline constexpr double msaa_sampling_point[9][2] = {
    {0.5, 0.5},
    {0.16666666666666666, 0.5},
    {0.5, 0.8333333333333334},
    {0.8333333333333334, 0.5},
    {0.5, 0.16666666666666666},
    {0.16666666666666666, 0.16666666666666666},
    {0.16666666666666666, 0.8333333333333334},
    {0.8333333333333334, 0.16666666666666666},
    {0.8333333333333334, 0.8333333333333334},
};

// Coverage of output pixel (x, y), one of 0, k/9 (a float quotient) or 1.
// count receives the number of hitting samples (9 for a fully covered
// pixel, 0 for an empty one). ray, A, Bh and D receive the representative
// ray and its quadratic (see Intersection.h): the first hitting sample in
// table order, or the corner (5/6, 5/6) for a fully covered pixel. For an
// empty pixel they hold the last corner's ray with D = 0, or the centre's
// ray when only rays parallel to an asymptote touched the corners.
double msaaRayTest(int x, int y, const RenderInfoTemplate<Hyperboloid> &info, int &count, double &A,
                   double &Bh, double &D, Ray &ray);

// What msaaRayTest gives for one pixel, with the two crossings of the
// representative ray's line, t- = (Bh - sqrt(D)) / A and t+ = (Bh + sqrt(D)) / A
// (t- leaves the bowls, t+ enters them).
struct PixelCoverage {
    int count = 0;
    double coverage = 0.0;
    double A = 0.0, Bh = 0.0, D = 0.0;
    double tMinus = 0.0, tPlus = 0.0;
    Ray ray;
};

// Longest run of pixels that CoverRun covers in one call.
inline constexpr int kCoverageRun = 8;

// The coverage of n pixels of one row, (x, y) to (x + n - 1, y), with
// 1 <= n <= kCoverageRun, into out[0] to out[n - 1]: each pixel exactly what
// msaaRayTest gives it, bit for bit. The pixels are independent, so tracing
// them together lets their divisions and square roots overlap instead of
// waiting on one another; a perspective camera's corner rays of the whole run
// go lane by lane.
void CoverRun(const RenderInfoTemplate<Hyperboloid> &info, int x, int y, int n,
              PixelCoverage (&out)[kCoverageRun]);
