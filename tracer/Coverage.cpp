#include "tracer/Coverage.h"

#include "tracer/CameraRay.h"
#include "tracer/Intersection.h"

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
    int cornerHits = 0;
    for (int i = kFirstCorner; i < kSampleCount; ++i) {
        CameraRayThrough(info, cornerX[i - kFirstCorner], cornerY[i - kFirstCorner], ray);
        D = SingleRayTest(info, ray, A, Bh);
        if (D >= 0.0)
            ++cornerHits;
        else
            D = 0.0; // also for a discriminant that is not a number
    }
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
