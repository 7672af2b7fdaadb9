// Nine-point coverage of output pixels.
#include "TracerTestSupport.h"

#include "tracer/CameraRay.h"
#include "tracer/CornerLanes.h"
#include "tracer/Coverage.h"
#include "tracer/Intersection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace tracer_test;

namespace {

const Vector3 kX(1.0f, 0.0f, 0.0f), kY(0.0f, 1.0f, 0.0f), kZ(0.0f, 0.0f, 1.0f);

void ExpectSameRay(const Ray &a, const Ray &b)
{
    EXPECT_EQ(a.direction.getX(), b.direction.getX());
    EXPECT_EQ(a.direction.getY(), b.direction.getY());
    EXPECT_EQ(a.direction.getZ(), b.direction.getZ());
    EXPECT_EQ(a.origin.getX(), b.origin.getX());
    EXPECT_EQ(a.origin.getY(), b.origin.getY());
    EXPECT_EQ(a.origin.getZ(), b.origin.getZ());
    EXPECT_EQ(a.origin.getW(), b.origin.getW());
}

Ray SampleRay(const Record &info, int x, int y, int index)
{
    Ray ray;
    BuildCameraRay(info, x, y, msaa_sampling_point[index][0], msaa_sampling_point[index][1], ray);
    return ray;
}

// A straight silhouette edge across pixel (0, 0): rays run along object x
// toward a surface stretched so far along y (b = 1e6) that its outline in
// the image is the line z = c. The image axes are turned so that a sample
// at offset (sx, sy) hits when slope * sx + sy exceeds `threshold`.
struct Edge {
    int slope;        // 1 or 2
    double threshold; // between two of the samples' values
    int hits;         // samples beyond the edge
    int firstHit;     // index of the first of them in table order
};

class StraightEdge : public ::testing::TestWithParam<Edge> {
protected:
    void SetUp() override
    {
        const Edge e = GetParam();
        SetSemiAxes(info->shape, 1.0f, 1e6f, 10.0f);
        SetFullResolution(*info);
        const double n = std::sqrt(e.slope * e.slope + 1.0);
        const float cosA = static_cast<float>(1.0 / n), sinA = static_cast<float>(e.slope / n);
        // Image x and y are the object's (y, z) plane turned so that
        // z = (slope * px + py) / n + tz.
        const Vector3 imageX(0.0f, cosA, sinA), imageY(0.0f, -sinA, cosA);
        const float tz = static_cast<float>(10.0 - e.threshold / n);
        SetOrthographicCamera(*info, Frame(imageX, imageY, kX, Vector3(0.0f, 0.0f, tz)), 0.0f, 0.0f);
    }
    TestRecord info;
};

TEST_P(StraightEdge, CoverageCountsTheSamplesBeyondTheEdge)
{
    const Edge e = GetParam();
    int count = 0;
    double A = 0, Bh = 0, D = -1;
    Ray ray;
    const double coverage = msaaRayTest(0, 0, info.get(), count, A, Bh, D, ray);
    EXPECT_EQ(count, e.hits);
    EXPECT_EQ(coverage, static_cast<double>(static_cast<float>(e.hits) / 9.0f));

    // The representative ray is the first hitting sample, with its quadratic.
    ExpectSameRay(ray, SampleRay(info.get(), 0, 0, e.firstHit));
    double A2, Bh2;
    const double D2 = SingleRayTest(info.get(), ray, A2, Bh2);
    EXPECT_EQ(A, A2);
    EXPECT_EQ(Bh, Bh2);
    EXPECT_EQ(D, D2);
    EXPECT_GE(D, 0.0);
}

// slope * sx + sy over the samples: slope 1 gives 1/3, 2/3 (twice), 1 (three
// times), 4/3 (twice), 5/3; slope 2 gives 1/2, 5/6, 7/6 (twice), 3/2, 11/6
// (twice), 13/6, 5/2.
INSTANTIATE_TEST_SUITE_P(EveryPartialCount, StraightEdge,
                         ::testing::Values(Edge{1, 1.5, 1, 8}, Edge{2, 2.0, 2, 3},
                                           Edge{1, 7.0 / 6.0, 3, 2}, Edge{2, 5.0 / 3.0, 4, 2},
                                           Edge{2, 4.0 / 3.0, 5, 0}, Edge{1, 5.0 / 6.0, 6, 0},
                                           Edge{2, 1.0, 7, 0}, Edge{1, 0.5, 8, 0}));

class Coverage : public ::testing::Test {
protected:
    void SetUp() override { SetFullResolution(*info); }
    TestRecord info;
};

TEST_F(Coverage, PixelWithAllCornersInsideIsFullAndUsesTheLastCorner)
{
    SetSemiAxes(info->shape, 2.0f, 2.0f, 2.0f);
    // Looking down the axis from between the sheets: every ray meets the tail.
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(0.0f, 0.0f, 0.0f)), 100.0f, 10.0f, 10.0f);
    int count = 0;
    double A = 0, Bh = 0, D = 0;
    Ray ray;
    EXPECT_EQ(msaaRayTest(3, 4, info.get(), count, A, Bh, D, ray), 1.0);
    EXPECT_EQ(count, 9);
    ExpectSameRay(ray, SampleRay(info.get(), 3, 4, 8));
    EXPECT_GT(D, 0.0);
}

TEST_F(Coverage, PixelWhoseCornersAllMissIsEmptyEvenIfItsCentreHits)
{
    // A needle-thin bowl (b = 0.01, c = 10) whose tip lies at 0.4 of the
    // pixel's height, on its vertical centre line: the centre and the lower
    // edge midpoint are inside, every corner outside.
    SetSemiAxes(info->shape, 1.0f, 0.01f, 10.0f);
    SetOrthographicCamera(*info, Frame(kY, kZ, kX, Vector3(0.0f, -0.5f, 9.6f)), 0.0f, 0.0f);
    Ray centre = SampleRay(info.get(), 0, 0, 0);
    double A = 0, Bh = 0;
    ASSERT_GE(SingleRayTest(info.get(), centre, A, Bh), 0.0);

    int count = 0;
    double D = -1;
    Ray ray;
    EXPECT_EQ(msaaRayTest(0, 0, info.get(), count, A, Bh, D, ray), 0.0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(D, 0.0);
    ExpectSameRay(ray, SampleRay(info.get(), 0, 0, 8)); // the last corner's ray
}

TEST_F(Coverage, TangentSampleCountsAsAHit)
{
    // Rays along x; the image point of the corner (5/6, 5/6) of pixel (0, 0)
    // is placed exactly on the tail vertex (0, 0, 1), so that corner's ray
    // grazes the surface there and every other sample passes between the sheets.
    SetSemiAxes(info->shape, 1.0f, 1.0f, 1.0f);
    const float corner = static_cast<float>(5.0 / 6.0);
    SetOrthographicCamera(*info, Frame(kY, kZ, kX, Vector3(0.0f, -corner, 1.0f - corner)), 0.0f,
                          0.0f);
    int count = 0;
    double A = 0, Bh = 0, D = -1;
    Ray ray;
    const double coverage = msaaRayTest(0, 0, info.get(), count, A, Bh, D, ray);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(coverage, static_cast<double>(1.0f / 9.0f));
    EXPECT_EQ(D, 0.0);
    const Vector4 touch = ray.pointAt(Bh / A);
    EXPECT_EQ(touch.getY(), 0.0f);
    EXPECT_EQ(touch.getZ(), 1.0f);
    EXPECT_EQ(touch.getX(), 0.0f);
}

TEST_F(Coverage, AsymptoteParallelSamplesNeverCountInTheFullPass)
{
    // Surface z^2 - x^2 = 1 (b so large that 1/b^2 is 0), eye at the origin,
    // focal length 1. A ray with equal x and z components runs along the
    // asymptote: A = 0 and, from the origin, D = 0. Such rays at the left
    // corners make the corner pass look further, the right corners miss.
    SetSemiAxes(info->shape, 1.0f, 1e30f, 1.0f);
    ASSERT_EQ(info->shape.invRadiiSquared.getY(), 0.0f);
    const float cx = static_cast<float>(-5.0 / 6.0); // left corners at image x = 1
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(0.0f, 0.0f, 0.0f)), 1.0f, cx, 0.0f);
    for (int corner : {5, 6}) {
        const Ray r = SampleRay(info.get(), 0, 0, corner);
        ASSERT_EQ(r.direction.getX(), r.direction.getZ());
        double A, Bh;
        ASSERT_GE(SingleRayTest(info.get(), r, A, Bh), 0.0);
        ASSERT_EQ(A, 0.0);
    }
    int count = 0;
    double A = -1, Bh = 0, D = -1;
    Ray ray;
    EXPECT_EQ(msaaRayTest(0, 0, info.get(), count, A, Bh, D, ray), 0.0);
    EXPECT_EQ(count, 0);
    // Nothing counted: the centre's ray and coefficients are handed back.
    ExpectSameRay(ray, SampleRay(info.get(), 0, 0, 0));
    double A0, Bh0;
    SingleRayTest(info.get(), SampleRay(info.get(), 0, 0, 0), A0, Bh0);
    EXPECT_EQ(A, A0);
    EXPECT_EQ(Bh, Bh0);
    EXPECT_EQ(D, 0.0);
}

} // namespace

namespace {

// Random semi-axes for `shape`, and a random camera frame within 400 units of
// the surface's centre, looking any way.
Matrix4 RandomSurfaceAndFrame(Hyperboloid &shape, std::mt19937 &random)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), far(-400.0f, 400.0f);
    std::uniform_real_distribution<float> semiAxes(5.0f, 150.0f);
    SetSemiAxes(shape, semiAxes(random), semiAxes(random), semiAxes(random));
    using Vectormath::Aos::cross;
    using Vectormath::Aos::normalize;
    const Vector3 z = normalize(Vector3(unit(random), unit(random), unit(random)));
    const Vector3 x = normalize(cross(Vector3(unit(random), unit(random), unit(random)), z));
    const Vector3 y = cross(z, x);
    return Frame(x, y, z, Vector3(far(random), far(random), far(random)));
}

} // namespace

// The perspective corner pass traces its four rays lane by lane; it must give
// exactly what the camera-ray and intersection functions give one ray at a
// time: the same decision, the same last-corner ray and quadratic, bit for bit.
TEST_F(Coverage, PerspectiveCornersMatchTheRayByRayPathBitForBit)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> zooms(50.0f, 3000.0f);
    std::uniform_int_distribution<int> pixels(0, 1919);
    int decided = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const Matrix4 frame = RandomSurfaceAndFrame(info->shape, random);
        SetPerspectiveCamera(*info, frame, zooms(random), 960.0f, 540.0f);
        const int px = pixels(random), py = pixels(random) % 1080;

        int hits = 0;
        double A = 0.0, Bh = 0.0, D = 0.0;
        Ray expected;
        for (int k = 5; k < 9; ++k) {
            expected = SampleRay(info.get(), px, py, k);
            D = SingleRayTest(info.get(), expected, A, Bh);
            if (D >= 0.0)
                ++hits;
            else
                D = 0.0;
        }
        int count = -1;
        double gotA = 0.0, gotBh = 0.0, gotD = 0.0;
        Ray got;
        const double coverage = msaaRayTest(px, py, info.get(), count, gotA, gotBh, gotD, got);
        if (hits != 0 && hits != 4) continue; // an edge pixel: traced sample by sample
        ++decided;
        ASSERT_EQ(coverage, hits == 4 ? 1.0 : 0.0) << "trial " << trial;
        ASSERT_EQ(count, hits == 4 ? 9 : 0);
        ASSERT_EQ(gotA, A);
        ASSERT_EQ(gotBh, Bh);
        ASSERT_EQ(gotD, D);
        ExpectSameRay(got, expected);
    }
    EXPECT_GT(decided, 2500);
}

namespace {

bool SameDouble(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

} // namespace

// A run of pixels is covered together, lane by lane; every pixel of it must be
// exactly what msaaRayTest gives it alone, edge pixels included, and carry
// the crossings of its own line. Whole rows of random cameras, cut into runs
// of every length.
TEST_F(Coverage, RunsOfPixelsMatchOnePixelAtATimeBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> zooms(50.0f, 3000.0f);
    std::uniform_int_distribution<int> rows(0, 1079), lengths(1, kCoverageRun);
    int edges = 0, interiors = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const Matrix4 frame = RandomSurfaceAndFrame(info->shape, random);
        if (trial % 4 == 3)
            SetOrthographicCamera(*info, frame, 960.0f, 540.0f);
        else
            SetPerspectiveCamera(*info, frame, zooms(random), 960.0f, 540.0f);
        const int row = rows(random);
        for (int column = 0; column < 1920;) {
            const int n = std::min(lengths(random), 1920 - column);
            PixelCoverage run[kCoverageRun];
            CoverRun(info.get(), column, row, n, run);
            for (int k = 0; k < n; ++k) {
                int count = -1;
                double A = 0.0, Bh = 0.0, D = 0.0;
                Ray ray;
                const double coverage = msaaRayTest(column + k, row, info.get(), count, A, Bh, D, ray);
                const PixelCoverage &p = run[k];
                ASSERT_EQ(p.coverage, coverage) << "trial " << trial << " pixel " << column + k;
                ASSERT_EQ(p.count, count);
                ASSERT_TRUE(SameDouble(p.A, A) && SameDouble(p.Bh, Bh) && SameDouble(p.D, D));
                ExpectSameRay(p.ray, ray);
                ASSERT_TRUE(SameDouble(p.tMinus, (Bh - std::sqrt(D)) / A));
                ASSERT_TRUE(SameDouble(p.tPlus, (Bh + std::sqrt(D)) / A));
                edges += count > 0 && count < 9;
                interiors += count == 9;
            }
            column += n;
        }
    }
    EXPECT_GT(edges, 100);
    EXPECT_GT(interiors, 10000);
}

// The corner lanes are built for several instruction sets, and the processor
// picks one; every build must give every lane's bits, so that a frame never
// depends on the machine. Random cameras, surfaces and image-plane points,
// some far off and some not finite. (Where the processor lacks x86-64-v3
// there is nothing to compare.)
TEST(CornerLanesTest, EveryBuildGivesTheSameBits)
{
    std::mt19937 random(13);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), plane(-3000.0f, 3000.0f);
    std::uniform_real_distribution<double> scales(1e-6, 1e-2), eye(-500.0, 500.0);
    const float odd[] = {0.0f, -0.0f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()};
    for (int trial = 0; trial < 500; ++trial) {
        CornerLaneCamera camera{};
        for (int i = 0; i < 3; ++i) {
            camera.X[i] = unit(random);
            camera.Y[i] = unit(random);
            camera.Z[i] = unit(random) * 1000.0f;
        }
        camera.ia = scales(random);
        camera.ib = scales(random);
        camera.ic = scales(random);
        camera.eyeX = eye(random);
        camera.eyeY = eye(random);
        camera.eyeZ = eye(random);
        camera.eyeImplicit = camera.eyeZ * camera.eyeZ * camera.ic - camera.eyeX * camera.eyeX * camera.ia -
                             camera.eyeY * camera.eyeY * camera.ib - 1.0;
        float px[kCornerLanes], py[kCornerLanes];
        for (int k = 0; k < kCornerLanes; ++k) {
            px[k] = plane(random);
            py[k] = trial % 10 == 0 && k < 6 ? odd[k] : plane(random);
        }
        CornerLanes baseline, wide;
        TraceCornerLanesBaseline(camera, px, py, baseline);
        if (!TraceCornerLanesV3(camera, px, py, wide)) GTEST_SKIP() << "no x86-64-v3 build or processor";
        ASSERT_EQ(std::memcmp(&baseline, &wide, sizeof baseline), 0) << "trial " << trial;
        if (TraceCornerLanesV4(camera, px, py, wide)) {
            ASSERT_EQ(std::memcmp(&baseline, &wide, sizeof baseline), 0) << "x86-64-v4, trial " << trial;
        }
    }
}
