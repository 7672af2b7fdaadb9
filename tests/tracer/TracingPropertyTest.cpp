// Seeded property tests over random surfaces, points and rays.
#include "TracerTestSupport.h"

#include "tracer/CameraRay.h"
#include "tracer/Coverage.h"
#include "tracer/Intersection.h"
#include "tracer/SurfacePoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace tracer_test;

namespace {

class TracingProperties : public ::testing::Test {
protected:
    std::mt19937 rng{20240611u};

    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

    Vector3 randomUnit()
    {
        for (;;) {
            const Vector3 v(static_cast<float>(uniform(-1, 1)), static_cast<float>(uniform(-1, 1)),
                            static_cast<float>(uniform(-1, 1)));
            const float l = Vectormath::Aos::length(v);
            if (l > 0.1f && l <= 1.0f) return Vectormath::Aos::normalize(v);
        }
    }

    void randomSurface()
    {
        SetSemiAxes(info->shape, static_cast<float>(uniform(0.5, 50)),
                    static_cast<float>(uniform(0.5, 50)), static_cast<float>(uniform(0.5, 50)));
    }

    TestRecord info;
};

// A secondary ray (shadow or reflection) starts on the surface. Of its two
// crossings, the one nearer the start is the start itself; the other, which
// shading tests for obstruction, must lie elsewhere, not a rounding error
// away from the starting point.
TEST_F(TracingProperties, RayLeavingAHitPointDoesNotReHitTheSamePoint)
{
    int tested = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        randomSurface();
        const Hyperboloid &shape = info.get().shape;
        const double H = uniform(5, 200);
        const Vector3 p = shape.getHitcoordFromUV(H, shape.radii, uniform(0, 1), uniform(-4, 4));
        const Vector3 n = SurfaceNormal(shape, p);
        const Vector3 d = randomUnit();
        if (std::fabs(Vectormath::Aos::dot(d, n)) < 0.05f) continue; // grazing: a double root
        ++tested;

        const Ray ray{d, Vector4(p, 1.0f)};
        double A, B, C;
        RayQuadric(shape, ray, A, B, C);
        const double disc = B * B - A * C;
        ASSERT_GT(disc, 0.0) << "trial " << trial;
        const double t1 = (-B - std::sqrt(disc)) / A, t2 = (std::sqrt(disc) - B) / A;
        const double tNear = std::fabs(t2) > std::fabs(t1) ? t1 : t2;
        const double tFar = std::fabs(t2) > std::fabs(t1) ? t2 : t1;

        const double scale = Vectormath::Aos::length(p) + 1.0;
        EXPECT_LT(std::fabs(tNear), 1e-4 * scale) << "trial " << trial;
        // The other crossing is at least a small fraction of the surface's size away.
        const double size = std::min({shape.radii.getX(), shape.radii.getY(), shape.radii.getZ()});
        EXPECT_GT(std::fabs(tFar), 1e-3 * size) << "trial " << trial;
    }
    EXPECT_GT(tested, 3000);
}

// At t+ a camera ray enters the bowls (Q rises through 1), at t- it leaves them.
TEST_F(TracingProperties, RootsCrossTheSurfaceInTheirStatedDirection)
{
    SetFullResolution(*info);
    int crossings = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        randomSurface();
        const Vector3 z = randomUnit();
        Vector3 x = Vectormath::Aos::normalize(
            Vector3(z.getY() - z.getZ(), z.getZ() - z.getX(), z.getX() - z.getY()));
        const Vector3 y(z.getY() * x.getZ() - z.getZ() * x.getY(), z.getZ() * x.getX() - z.getX() * x.getZ(),
                        z.getX() * x.getY() - z.getY() * x.getX());
        const Vector3 eye(static_cast<float>(uniform(-80, 80)), static_cast<float>(uniform(-80, 80)),
                          static_cast<float>(uniform(-80, 80)));
        SetPerspectiveCamera(*info, Frame(x, y, z, eye), static_cast<float>(uniform(20, 400)), 50.0f,
                             50.0f);

        Ray ray;
        BuildCameraRay(info.get(), static_cast<int>(uniform(0, 100)), static_cast<int>(uniform(0, 100)),
                       0.5, 0.5, ray);
        double A, Bh;
        const double D = SingleRayTest(info.get(), ray, A, Bh);
        if (!(D > 0.0) || A == 0.0) continue;

        const Hyperboloid &shape = info.get().shape;
        auto Q = [&](double t) {
            return Quadric(shape, info->eyeX + t * ray.direction.getX(),
                           info->eyeY + t * ray.direction.getY(), info->eyeZ + t * ray.direction.getZ());
        };
        const double tPlus = (Bh + std::sqrt(D)) / A, tMinus = (Bh - std::sqrt(D)) / A;
        const double gap = std::fabs(tPlus - tMinus);
        if (gap < 1e-3 * (std::fabs(tPlus) + 1.0)) continue; // nearly tangent
        const double e = 0.05 * gap;
        EXPECT_LT(Q(tPlus - e), 1.0) << "trial " << trial;
        EXPECT_GT(Q(tPlus + e), 1.0) << "trial " << trial;
        EXPECT_GT(Q(tMinus - e), 1.0) << "trial " << trial;
        EXPECT_LT(Q(tMinus + e), 1.0) << "trial " << trial;
        ++crossings;
    }
    EXPECT_GT(crossings, 300);
}

} // namespace

namespace {

// Many render threads share one record: every pixel comes out as it does
// when traced alone.
TEST(TracingConcurrency, ThreadsShareTheRecordWithoutInterference)
{
    TestRecord info;
    SetSemiAxes(info->shape, 20.0f, 15.0f, 10.0f);
    SetFullResolution(*info);
    const Vector3 kX(1.0f, 0.0f, 0.0f), kY(0.0f, 1.0f, 0.0f), kZ(0.0f, 0.0f, 1.0f);
    SetPerspectiveCamera(*info, Frame(kX, kY, kZ, Vector3(5.0f, 3.0f, -120.0f)), 60.0f, 32.0f, 32.0f);

    constexpr int kSize = 64;
    struct Result {
        double coverage, A, Bh, D, u, v;
        int count;
    };
    auto trace = [&](int i) {
        Result r{};
        Ray ray;
        r.coverage = msaaRayTest(i % kSize, i / kSize, info.get(), r.count, r.A, r.Bh, r.D, ray);
        r.u = r.v = -1.0;
        if (r.count > 0) {
            const Vector3 p = ray.pointAt((r.Bh - std::sqrt(r.D)) / r.A).getXYZ();
            info.get().shape.getUVFromCoordinate(info.get(), p, r.u, r.v);
            info.get().shape.modifyUVByOpenParam(info.get(), r.u, r.v);
        }
        return r;
    };
    info->textureHeight = 30.0;
    info->openFactor = 2.0;

    std::vector<Result> serial(kSize * kSize), parallel(kSize * kSize);
    for (int i = 0; i < kSize * kSize; ++i) serial[i] = trace(i);
    headless::WorkerPool pool(4);
    ASSERT_EQ(pool.iterate(kSize * kSize,
                           [&](A_long, A_long i) {
                               parallel[i] = trace(static_cast<int>(i));
                               return PF_Err_NONE;
                           }),
              PF_Err_NONE);
    int hits = 0;
    for (int i = 0; i < kSize * kSize; ++i) {
        EXPECT_EQ(parallel[i].count, serial[i].count) << i;
        EXPECT_EQ(parallel[i].coverage, serial[i].coverage) << i;
        EXPECT_EQ(parallel[i].D, serial[i].D) << i;
        EXPECT_EQ(parallel[i].u, serial[i].u) << i;
        EXPECT_EQ(parallel[i].v, serial[i].v) << i;
        hits += serial[i].count > 0;
    }
    EXPECT_GT(hits, 100);
}

} // namespace
