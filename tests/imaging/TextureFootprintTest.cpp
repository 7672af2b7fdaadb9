// Sampling radii from a ray's footprint at the hit.
#include "imaging/TextureSampling.h"

#include "TextureTestHost.h"

#include "tracer/FootprintLanes.h"
#include "tracer/HitLanes.h"
#include "tracer/Shading.h"
#include "tracer/SurfacePoint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>

using namespace texture_test;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

headless::HostOptions OneThread()
{
    headless::HostOptions options;
    options.threads = 1;
    return options;
}

// A hit on the tail sheet of a = b = c = 100 at pn = (sqrt 3, 0, 2), seen by a
// perspective camera of zoom 1000, on a 200 x 100 texture one texture height
// of which covers 100 object units.
class TextureFootprintTest : public ::testing::Test {
protected:
    TextureFootprintTest()
    {
        SetSemiAxes(info->shape, 100.0f, 100.0f, 100.0f);
        info->openFactor = 1.0;
        info->textureHeight = 100.0;
        info->textureLayer = TextureLayer(200, 100);
        info->perspective = true;
        info->imagePlane = Vector3(320.0f, 240.0f, -1000.0f);
        info->textureBlur = 1.0;
        point = Vector3(100.0f * std::sqrt(3.0f), 0.0f, 200.0f);
        pn = NormalisedPoint(info->shape, point);
        normal = SurfaceNormal(info->shape, point);
        info->shape.getJacobian(*info, pn, Ju, Jv);
    }

    // Radii for a ray along `direction` hitting at ray parameter t.
    void radii(const Vector3 &direction, double t)
    {
        Ray ray{direction, Vector4(point - static_cast<float>(t) * direction, 1.0f)};
        getSampRadius(*info, ray, t, pn, normal, rx, ry);
    }
    // A ray along the surface in the direction of growing v: grazing incidence.
    Vector3 alongV() const { return Vectormath::Aos::normalize(Vector3(2.0f, 0.0f, std::sqrt(3.0f))); }

    headless::Host host{OneThread()};
    std::unique_ptr<Record> info = std::make_unique<Record>(host.inData());
    Vector3 point, pn, normal;
    double Ju = 0.0, Jv = 0.0;
    double rx = -1.0, ry = -1.0;
};

TEST_F(TextureFootprintTest, HeadOnTheRadiiAreThePixelFootprintInTexturePixels)
{
    // e = t / zoom = 0.5 object units per pixel; W / Ju and H / Jv texture
    // pixels per object unit. Incidence counts as 0.9999, not 1.
    radii(-normal, 500.0);
    EXPECT_NEAR(rx, 200.0 * 0.5 / Ju, 1e-9);
    EXPECT_NEAR(ry, 100.0 * 0.5 / (0.9999 * Jv), 1e-9);
    EXPECT_GT(rx, 0.0);
    EXPECT_LT(ry, 128.0);
}

TEST_F(TextureFootprintTest, AGrazingRayStretchesTheFootprintAlongItsPathByAtMost1OverMinimum)
{
    info->textureBlur = 0.001; // keeps the stretched radius below the caps
    radii(alongV(), 500.0);
    EXPECT_NEAR(rx, 0.001 * 200.0 * 0.5 / Ju, 1e-9);
    EXPECT_NEAR(ry, 0.001 * 100.0 * 0.5 / (0.0001 * Jv), 1e-6);
}

TEST_F(TextureFootprintTest, AGrazingRayAlongUHasNoVFootprint)
{
    // Directions a rounding error longer than unit, as normalising leaves
    // them, must not turn the vanishing v extent into an unmeasurable one
    // (which would blur as widely as allowed).
    for (const Vector3 d : {Vector3(0.0f, 1.0f, 0.0f), Vector3(0.0f, 1.0000001f, 0.0f),
                            Vector3(0.0f, -1.0000001f, 0.0f)}) {
        SCOPED_TRACE(d.getY());
        radii(d, 500.0);
        EXPECT_LT(ry, 0.01);
        EXPECT_GE(ry, 0.0);
        EXPECT_EQ(rx, 128.0); // stretched along the ray instead
    }
}

TEST_F(TextureFootprintTest, OnlyAPerspectiveFootprintGrowsWithDistance)
{
    radii(-normal, 500.0);
    const double nearX = rx, nearY = ry;
    radii(-normal, 1000.0);
    EXPECT_NEAR(rx, 2.0 * nearX, 1e-12);
    EXPECT_NEAR(ry, 2.0 * nearY, 1e-12);

    info->perspective = false;
    radii(-normal, 10.0);
    const double orthoX = rx;
    EXPECT_NEAR(rx, 200.0 / Ju, 1e-9); // e = 1
    radii(-normal, 5000.0);
    EXPECT_EQ(rx, orthoX);
}

TEST_F(TextureFootprintTest, SharpnessScalesTheRadiiBeforeThe128PixelCap)
{
    // A distance at which the unscaled u radius is 200 pixels.
    const double t = 200.0 * Ju / 200.0 * 1000.0;
    radii(-normal, t);
    EXPECT_EQ(rx, 128.0);

    info->textureBlur = 0.5; // default sharpness
    radii(-normal, t);
    EXPECT_NEAR(rx, 100.0, 1e-9);

    info->textureBlur = 0.0; // full sharpness: point sampling
    radii(-normal, t);
    EXPECT_EQ(rx, 0.0);
    EXPECT_EQ(ry, 0.0);
    EXPECT_EQ(FixedSampleRadius(rx), 1);
}

TEST_F(TextureFootprintTest, HugeFootprintsAreCappedAt32768BeforeSharpness)
{
    const double t = 1e6 * Ju / 200.0 * 1000.0; // unscaled u radius 1e6 pixels
    info->textureBlur = 0.001;
    radii(-normal, t);
    EXPECT_NEAR(rx, 32.768, 1e-9);
}

TEST_F(TextureFootprintTest, UnmeasurableFootprintsBlurAsWidelyAsAllowed)
{
    radii(-normal, kNaN);
    EXPECT_EQ(rx, 128.0);
    EXPECT_EQ(ry, 128.0);
    info->textureBlur = 0.5;
    radii(-normal, kNaN);
    EXPECT_EQ(rx, 128.0);
}

TEST_F(TextureFootprintTest, AtAVertexUIsBlurredFullyAndVNotAtAll)
{
    // Around the axis u has no extent (Ju = 0), along it v changes only to
    // second order (Jv infinite).
    point = Vector3(0.0f, 0.0f, 100.0f);
    pn = NormalisedPoint(info->shape, point);
    normal = SurfaceNormal(info->shape, point);
    radii(Vector3(0.0f, 0.0f, -1.0f), 500.0);
    EXPECT_EQ(rx, 128.0);
    EXPECT_EQ(ry, 0.0);
}

} // namespace

// Lane k of a run's hits: the ray and its parameter.
static void PutLane(FootprintLaneHits &hits, int k, const Ray &ray, double t)
{
    hits.ox[k] = ray.origin.getX();
    hits.oy[k] = ray.origin.getY();
    hits.oz[k] = ray.origin.getZ();
    hits.dx[k] = ray.direction.getX();
    hits.dy[k] = ray.direction.getY();
    hits.dz[k] = ray.direction.getZ();
    hits.t[k] = t;
}

// Seeded random records, surface points and directions for the footprint's
// property tests.
struct RandomFootprints {
    explicit RandomFootprints(unsigned seed) : random(seed) {}

    double scale() { return std::pow(10.0, logScale(random)); }
    // A surface, opening (negative or positive), texture, camera and
    // sharpness, and the pass begun.
    void newRecord(Record &info, bool negativeOpening, bool perspective)
    {
        SetSemiAxes(info.shape, static_cast<float>(scale()), static_cast<float>(scale()),
                    static_cast<float>(scale()));
        info.openFactor = (negativeOpening ? -1.0 : 1.0) * (0.5 + 2.0 * blurs(random));
        info.textureHeight = scale();
        info.textureLayer = TextureLayer(1 + static_cast<int>(scale()), 1 + static_cast<int>(scale()));
        info.perspective = perspective;
        info.imagePlane = Vector3(320.0f, 240.0f, -static_cast<float>(scale()));
        info.textureBlur = blurs(random);
        info.beginPass();
    }
    // A point of the surface at normalised height d, at a random angle.
    Vector3 surfacePoint(const Record &info, double d)
    {
        const double theta = angle(random), ring = std::sqrt(d * d - 1.0);
        const Vector3 &r = info.shape.radii;
        return Vector3(static_cast<float>(r.getX() * ring * std::cos(theta)),
                       static_cast<float>(r.getY() * ring * std::sin(theta)),
                       static_cast<float>(r.getZ() * d));
    }
    Vector3 direction()
    {
        return Vectormath::Aos::normalize(Vector3(static_cast<float>(unit(random)),
                                                  static_cast<float>(unit(random)),
                                                  static_cast<float>(unit(random))));
    }

    std::mt19937 random;
    std::uniform_real_distribution<double> unit{-1.0, 1.0}, angle{0.0, 6.283185307179586};
    std::uniform_real_distribution<double> logScale{-2.0, 3.0}, heights{1.0, 20.0}, blurs{0.0, 1.5};
};

// The cheap bound that lets a hit skip measuring its footprint must never
// fall below the radius the footprint gives: a hit wrongly skipped would lose
// the blurred fringe of the texture's edge. Seeded random surfaces, cameras,
// openings, sharpness, hits and directions (grazing ones included).
TEST(TextureFootprintBound, NeverBelowTheMeasuredRadius)
{
    headless::Host host{OneThread()};
    auto info = std::make_unique<Record>(host.inData());
    RandomFootprints draw(5);
    int bounded = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        if (trial % 50 == 0) {
            draw.newRecord(*info, trial % 200 == 0, trial % 150 != 0);
            ASSERT_GT(info->footprintBound, 0.0);
        }
        const Vector3 point =
            draw.surfacePoint(*info, (trial % 2 ? 1.0 : -1.0) * draw.heights(draw.random));
        const Vector3 pn = NormalisedPoint(info->shape, point);
        const Vector3 normal = SurfaceNormal(info->shape, point);
        Vector3 direction = draw.direction();
        if (trial % 3 == 0) // along the surface
            direction = Vectormath::Aos::normalize(Vectormath::Aos::cross(normal, direction));
        const double t = draw.scale() * 10.0;
        const Ray ray{direction, Vector4(point - static_cast<float>(t) * direction, 1.0f)};
        double rx = 0.0, ry = 0.0;
        getSampRadius(*info, ray, t, pn, normal, rx, ry);
        const double bound = sampRadiusYBound(*info, t, pn, direction, normal);
        ASSERT_GE(bound, ry) << "trial " << trial;
        bounded += bound < kSampleRadiusCap;
    }
    EXPECT_GT(bounded, 5000); // the bound is mostly below the cap, so it is tested
}

// Scales the bound is not proven for, and hits that are not finite, give the
// cap: no bound at all.
TEST_F(TextureFootprintTest, OutsideItsProvenRangeTheBoundIsTheCap)
{
    const Vector3 d = -normal;
    info->beginPass();
    EXPECT_LT(sampRadiusYBound(*info, 1000.0, pn, d, normal), 2.0);
    EXPECT_EQ(sampRadiusYBound(*info, 1000.0, Vector3(kNaN, 0.0f, 2.0f), d, normal), 128.0);
    info->openFactor = 0.0; // every radius is NaN, which the caps read as huge
    info->beginPass();
    EXPECT_EQ(sampRadiusYBound(*info, 1000.0, pn, d, normal), 128.0);
    info->openFactor = 1.0;
    info->imagePlane = Vector3(320.0f, 240.0f, 0.0f);
    info->beginPass();
    EXPECT_EQ(sampRadiusYBound(*info, 1000.0, pn, d, normal), 128.0);
}

// A coverage run's footprints are measured together in lanes, by one of two
// builds of the lane kernel; each lane must give the radii getSampRadius gives
// for that hit, bit for bit, so that a pixel's colour never depends on which
// path measured it or on the machine. Seeded random surfaces, openings (with
// and without the pass's quotients), cameras, sharpness, hits and directions,
// grazing ones, vertices and far or degenerate hits among them.
TEST(TextureFootprintLanes, EveryLaneIsTheOneHitFootprintBitForBit)
{
    headless::Host host{OneThread()};
    auto info = std::make_unique<Record>(host.inData());
    RandomFootprints draw(17);
    int wide = 0; // comparisons of a wider build's lanes
    for (int trial = 0; trial < 3000; ++trial) {
        if (trial % 25 == 0) {
            draw.newRecord(*info, trial % 100 == 0, trial % 75 != 0);
            // Half the time the opening changes after the pass began: the
            // surface metric then divides instead of taking the pass's quotients.
            if (trial % 50 == 25) info->openFactor = 1.0 + draw.blurs(draw.random);
        }
        FootprintLaneHits hits{};
        double expectedRx[kFootprintLanes], expectedRy[kFootprintLanes];
        for (int k = 0; k < kFootprintLanes; ++k) {
            // Lane 3 hits a vertex.
            const Vector3 point = draw.surfacePoint(
                *info, (k % 2 ? 1.0 : -1.0) * (k == 3 ? 1.0 : draw.heights(draw.random)));
            Vector3 direction = draw.direction();
            if (k == 5) // along the surface
                direction = Vectormath::Aos::normalize(
                    Vectormath::Aos::cross(SurfaceNormal(info->shape, point), direction));
            double t = draw.scale() * 10.0;
            if (trial % 7 == 0 && k == 6) t = 1e30; // far beyond any surface
            if (trial % 11 == 0 && k == 7) t = 0.0;
            const Ray ray{direction, Vector4(point - static_cast<float>(t) * direction, 1.0f)};
            // What shading measures for this hit, one at a time.
            const Vector3 hit = ray.pointAt(t).getXYZ();
            getSampRadius(*info, ray, t, NormalisedPoint(info->shape, hit), SurfaceNormal(info->shape, hit),
                          expectedRx[k], expectedRy[k]);
            PutLane(hits, k, ray, t);
        }
        const FootprintLaneScene scene = FootprintScene(*info);
        FootprintLaneRadii baseline, fast;
        MeasureFootprintLanesBaseline(scene, hits, baseline);
        ASSERT_EQ(std::memcmp(baseline.rx, expectedRx, sizeof expectedRx), 0) << "trial " << trial;
        ASSERT_EQ(std::memcmp(baseline.ry, expectedRy, sizeof expectedRy), 0) << "trial " << trial;
        for (const auto build : {MeasureFootprintLanesV3, MeasureFootprintLanesV4})
            if (build(scene, hits, fast)) {
                ASSERT_EQ(std::memcmp(&fast, &baseline, sizeof fast), 0) << "trial " << trial;
                ++wide;
            }
    }
    if (wide == 0) std::cout << "no x86-64-v3 or -v4 build or processor: their lanes were not compared\n";
}

namespace {

// A normalised height whose hit lies within 200 texture rows of the start or
// end of a repetition -5 to 5 (on the sheet that has it); `otherwise` where
// that row is not on the surface.
double NearAnEdge(const Record &info, RandomFootprints &draw, double otherwise)
{
    std::uniform_int_distribution<int> copy(-5, 5), end(0, 1);
    std::uniform_real_distribution<double> rows(-200.0, 200.0);
    const double pitch = 1.0 + info.extension.interval, H = std::max(info.textureLayer.height, 1);
    const int n = copy(draw.random);
    const double edge = n * pitch + (n < 0 ? info.extension.interval : 0.0) + end(draw.random);
    const double v = edge + rows(draw.random) / H;
    const double raw = (v - info.fixedPointV) / info.openFactor + info.fixedPointV;
    const double axial = info.textureHeight * info.openFactor, c = info.shape.radii.getZ();
    const double z = n >= 0 ? raw * axial + c : (raw + 1.0 / H) * axial - c;
    const double d = z / c;
    return std::fabs(d) >= 1.0 && std::isfinite(d) ? d : otherwise;
}

} // namespace

// A run's hits are also worked out ahead in lanes (place, row among the
// repetitions, normal, and whether any lookup reaches them), by one of two
// builds of the kernel; each lane must hold what LookAhead, shading's own
// first steps, gives that hit, bit for bit: a hit wrongly settled as out of
// reach would lose its texture, and one shaded from other values could take
// other texels. Seeded random surfaces, openings, textures (one without
// pixels, one not chosen), repetitions (gaps, extensions on either sheet, a
// sheet without texture, mirroring), "Show Pivot", cameras and hits on both
// sheets, on the texture, near its reach and far beyond it.
TEST(TextureHitLanes, EveryLaneIsTheOneHitLookAheadBitForBit)
{
    headless::Host host{OneThread()};
    auto info = std::make_unique<Record>(host.inData());
    RandomFootprints draw(29);
    std::uniform_int_distribution<int> copies(0, 3), coin(0, 9);
    int inReach = 0, outOfReach = 0, wide = 0, placed = 0, sampled = 0, outsideCommon = 0;
    // Footprint radii, times a random blur: small, wide, past the sampler's
    // 128 pixels, negative and not a number.
    constexpr double kRadii[] = {0.5, 2.0, 0.0, 20.0, 90.0, 1e4, -1.0, 3.0,
                                 std::numeric_limits<double>::quiet_NaN()};
    for (int trial = 0; trial < 3000; ++trial) {
        if (trial % 25 == 0) {
            draw.newRecord(*info, trial % 100 == 0, trial % 75 != 0);
            auto &extension = info->extension;
            extension.interval = trial % 3 == 0 ? draw.blurs(draw.random) : 0.0;
            extension.headExtensions = copies(draw.random);
            extension.tailExtensions = copies(draw.random);
            extension.renderHead = coin(draw.random) != 0;
            extension.renderTail = coin(draw.random) != 0;
            extension.flipVertical = coin(draw.random) < 5;
            // The twist and the slide of u, which place the texel column.
            extension.screwTurns = trial % 50 == 0 ? 0.0 : (coin(draw.random) - 4.5) / 7.0;
            info->textureSlide = trial % 75 == 0 ? 0.0 : (coin(draw.random) - 4.5) / 3.0;
            info->showPivot = trial % 200 == 100;
            if (trial % 100 == 25) info->openFactor = 1.0; // unopened: every u period is 1
            if (trial % 300 == 150) info->textureLayer = TextureLayer(0, 0);
            if (trial % 300 == 275) info->textureLayer = PF_LayerDef{};
            info->beginPass();
        }
        FootprintLaneHits hits{};
        HitLaneValues expected{};
        for (int k = 0; k < kHitLanes; ++k) {
            // Half the lanes hit within 200 rows of a repetition's edge,
            // where the reach and its bound decide; lane 5 runs along the
            // surface, where the incidence is clamped.
            double d = (k % 2 ? 1.0 : -1.0) * draw.heights(draw.random);
            if (k < kHitLanes / 2) d = NearAnEdge(*info, draw, d);
            const Vector3 point = draw.surfacePoint(*info, d);
            Vector3 direction = draw.direction();
            if (k == 5)
                direction = Vectormath::Aos::normalize(
                    Vectormath::Aos::cross(SurfaceNormal(info->shape, point), direction));
            const double t = draw.scale() * 10.0;
            const Ray ray{direction, Vector4(point - static_cast<float>(t) * direction, 1.0f)};
            LookAhead(ray, t, *info, expected, k);
            PutLane(hits, k, ray, t);
        }
        const HitLaneScene scene = MakeHitLaneScene(*info);
        HitLaneValues baseline{}, fast{}; // zeroed, padding included, for memcmp
        LocateHitLanesBaseline(scene, hits, baseline);
        // Every value the lane holds, but the normal of a hit out of reach,
        // which shading never takes.
        const auto same = [](const auto &a, const auto &b) { return std::memcmp(&a, &b, sizeof a) == 0; };
        ASSERT_EQ(baseline.hasTexture, expected.hasTexture);
        for (int k = 0; k < kHitLanes; ++k) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << ", lane " << k);
            ASSERT_TRUE(same(baseline.px[k], expected.px[k]));
            ASSERT_TRUE(same(baseline.py[k], expected.py[k]));
            ASSERT_TRUE(same(baseline.pz[k], expected.pz[k]));
            ASSERT_TRUE(same(baseline.rawV[k], expected.rawV[k]));
            ASSERT_TRUE(same(baseline.v[k], expected.v[k]));
            ASSERT_EQ(baseline.repetition[k], expected.repetition[k]);
            ASSERT_EQ(baseline.onRepetition[k], expected.onRepetition[k]);
            ASSERT_EQ(baseline.nextExists[k], expected.nextExists[k]);
            ASSERT_EQ(baseline.previousExists[k], expected.previousExists[k]);
            ASSERT_TRUE(same(baseline.rowsToNext[k], expected.rowsToNext[k]));
            ASSERT_TRUE(same(baseline.rowsPastPrevious[k], expected.rowsPastPrevious[k]));
            ASSERT_EQ(baseline.outOfReach[k], expected.outOfReach[k]);
            ASSERT_EQ(baseline.angleBounded[k], expected.angleBounded[k]);
            if (expected.angleBounded[k] != 0.0) {
                ASSERT_TRUE(same(baseline.angleLo[k], expected.angleLo[k]));
                ASSERT_TRUE(same(baseline.angleHi[k], expected.angleHi[k]));
                ASSERT_EQ(baseline.placed[k], expected.placed[k]);
                if (expected.placed[k] != 0.0) {
                    ASSERT_EQ(baseline.column[k], expected.column[k]);
                }
                ASSERT_TRUE(same(baseline.unLo[k], expected.unLo[k]));
                ASSERT_TRUE(same(baseline.unHi[k], expected.unHi[k]));
                placed += expected.placed[k] != 0.0;
            }
            if (expected.outOfReach[k] != 0.0) {
                ++outOfReach;
                continue;
            }
            ++inReach;
            ASSERT_TRUE(same(baseline.nx[k], expected.nx[k]));
            ASSERT_TRUE(same(baseline.ny[k], expected.ny[k]));
            ASSERT_TRUE(same(baseline.nz[k], expected.nz[k]));
        }
        for (const auto build : {LocateHitLanesV3, LocateHitLanesV4})
            if (build(scene, hits, fast)) {
                ASSERT_EQ(std::memcmp(&fast, &baseline, sizeof fast), 0) << "trial " << trial;
                ++wide;
            }
        // The common lookup's host sample, placed in lanes from footprint
        // radii (past the neighbouring repetitions' rows and the seam, and
        // beyond the sampler's range) as the one-hit steps place it.
        FootprintLaneRadii radii{};
        for (int k = 0; k < kHitLanes; ++k) {
            radii.rx[k] = kRadii[(trial + k) % std::size(kRadii)] * draw.blurs(draw.random);
            radii.ry[k] = kRadii[(trial + 3 * k) % std::size(kRadii)] * draw.blurs(draw.random);
        }
        HitLaneValues lookups = baseline, lookupsFast = baseline;
        PlaceLookupLanesBaseline(scene, radii, lookups);
        for (int k = 0; k < kHitLanes; ++k) {
            if (expected.angleBounded[k] == 0.0) continue;
            SCOPED_TRACE(testing::Message() << "trial " << trial << ", lane " << k);
            const double rx = radii.rx[k], ry = radii.ry[k];
            const HitAhead ahead{0.0, &expected, nullptr, nullptr, nullptr, k};
            const AnglePlacement placement{expected.placed[k] != 0.0, expected.column[k],
                                           expected.unLo[k], expected.unHi[k]};
            PlacedSample sample{};
            const bool common =
                CommonPlacedSample(*info, ahead.reach(),
                                   NormalisedPoint(info->shape, Vector3(expected.px[k], expected.py[k],
                                                                        expected.pz[k])),
                                   placement, expected.v[k], rx, ry, sample);
            const bool inRange = rx >= 0.0 && rx <= 128.0 && ry >= 0.0 && ry <= 128.0;
            ASSERT_EQ(lookups.common[k] != 0.0, common && inRange);
            if (lookups.common[k] == 0.0) {
                outsideCommon += placement.placed;
                continue;
            }
            ++sampled;
            ASSERT_EQ(lookups.column[k], sample.x);
            ASSERT_EQ(lookups.row[k], sample.y);
            ASSERT_EQ(lookups.xRadius[k], sample.xRadius);
            ASSERT_EQ(lookups.yRadius[k], sample.yRadius);
        }
        for (const auto build : {PlaceLookupLanesV3, PlaceLookupLanesV4}) {
            lookupsFast = baseline;
            if (build(scene, radii, lookupsFast)) {
                ASSERT_EQ(std::memcmp(&lookupsFast, &lookups, sizeof lookups), 0) << "trial " << trial;
            }
        }
    }
    EXPECT_GT(inReach, 1000);
    EXPECT_GT(outOfReach, 1000);
    EXPECT_GT(placed, 1000);
    EXPECT_GT(sampled, 500);
    EXPECT_GT(outsideCommon, 500);
    if (wide == 0) std::cout << "no x86-64-v3 or -v4 build or processor: their lanes were not compared\n";
}
