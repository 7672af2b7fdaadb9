// Texture lookups at a hit: the host area samples they issue (how many, where,
// with which block), the u seam, the repetitions along the axis and how the
// fetched pixels are blended.
#include "imaging/TextureSampling.h"
#include "tracer/ArctangentBounds.h"

#include "TextureTestHost.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <atomic>
#include <limits>
#include <random>
#include <thread>

using namespace texture_test;
using Vectormath::Aos::Vector3;

namespace {

const Vector3 kTail(0.5f, 0.0f, 2.0f); // normalised points on either sheet
const Vector3 kHead(0.5f, 0.0f, -2.0f);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

headless::HostOptions OneThread()
{
    headless::HostOptions options;
    options.threads = 1;
    return options;
}

// What a lookup gave and asked of the host: its colour's bits, its error and
// the host samples it issued (where, with which block).
struct LookupTrace {
    PF_PixelFloat out;
    int err;
    std::vector<SampleCall> calls;

    bool operator==(const LookupTrace &o) const
    {
        return std::memcmp(&out, &o.out, sizeof out) == 0 && err == o.err &&
               calls.size() == o.calls.size() &&
               std::equal(calls.begin(), calls.end(), o.calls.begin(),
                          [](const SampleCall &a, const SampleCall &b) {
                              return a.depth == b.depth && a.x == b.x && a.y == b.y &&
                                     std::memcmp(&a.pb, &b.pb, sizeof a.pb) == 0;
                          });
    }
};


class TextureSamplingTest : public ::testing::Test {
protected:
    TextureSamplingTest()
    {
        SetSemiAxes(info->shape, 100.0f, 100.0f, 100.0f);
        info->openFactor = 1.0;
        info->textureLayer = TextureLayer(100, 100);
    }
    void TearDown() override
    {
        info.reset(); // releases the sampling suites
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }

    template <class P = PF_PixelFloat>
    PF_PixelFloat lookup(const Vector3 &pn, double u, double v, double rx, double ry)
    {
        samplers.clear();
        PF_PixelFloat out{-1.0f, -1.0f, -1.0f, -1.0f};
        err = TopologycalSampling<P>(*info, pn, u, v, rx, ry, &info->textureLayer, out);
        return out;
    }
    size_t fetches() const { return samplers.count(); }
    SampleCall fetch(size_t i) const { return samplers.calls().at(i); }

    // For lookups over seeded layouts: a texture of smooth colours, and
    // every 50 trials a new layout (gaps, none every 150; mirroring every
    // 100; screws, none every 200; an opened surface, not every 250).
    void smoothTexture()
    {
        samplers.setTexture([](double x, double y) {
            return PF_PixelFloat{float(std::fmod(x * 0.37 + y * 0.11, 1.0) + 0.1), float(x / 97.0),
                                 float(y / 89.0), 0.5f};
        });
    }
    void newLayout(int trial, std::mt19937 &random)
    {
        if (trial % 50 != 0) return;
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        info->extension.interval = trial % 150 == 0 ? 0.0 : unit(random) * 0.5;
        info->extension.tailExtensions = info->extension.headExtensions = 2;
        info->extension.flipVertical = trial % 100 == 0;
        info->extension.screwTurns = trial % 200 == 0 ? 0.0 : unit(random) - 0.5;
        info->openFactor = trial % 250 == 0 ? 1.0 : 1.0 + 3.0 * unit(random);
    }
    // What `lookup` (out -> error) gives and asks of the host.
    template <class Lookup> LookupTrace traced(Lookup &&lookup)
    {
        samplers.clear();
        LookupTrace t{{-1.0f, -1.0f, -1.0f, -1.0f}, 0, {}};
        t.err = lookup(t.out);
        t.calls = samplers.calls();
        return t;
    }

    headless::Host host{OneThread()};
    RecordingSamplers samplers{host};
    std::unique_ptr<Record> info = std::make_unique<Record>(host.inData());
    int err = 0;
};

bool IsTransparentBlack(const PF_PixelFloat &p)
{
    return p.alpha == 0.0f && p.red == 0.0f && p.green == 0.0f && p.blue == 0.0f;
}

// ---- fixed point ----------------------------------------------------------------------

TEST(FixedPoint, RoundsHalfAwayFromZeroAndSaturates)
{
    EXPECT_EQ(FixedFromDouble(2.5 / 65536), 3);
    EXPECT_EQ(FixedFromDouble(-2.5 / 65536), -3);
    EXPECT_EQ(FixedFromDouble(1.25), 81920);
    EXPECT_EQ(FixedFromDouble(32767.99999), INT32_MAX);
    EXPECT_EQ(FixedFromDouble(32768.0), INT32_MAX);
    EXPECT_EQ(FixedFromDouble(-32768.0), INT32_MIN);
    EXPECT_EQ(FixedFromDouble(1e12), INT32_MAX);
    EXPECT_EQ(FixedFromDouble(-1e12), INT32_MIN);
    EXPECT_EQ(FixedFromDouble(kInf), INT32_MAX);
    EXPECT_EQ(FixedFromDouble(-kInf), INT32_MIN);
    EXPECT_EQ(FixedFromDouble(kNaN), 0);
}

// The conversion as the system states it: add 0.5 (or -0.5 below 0), then
// saturate and truncate. Seeded values around the edges of the range, where
// the quick path hands over to the full one, and anywhere in between.
TEST(FixedPoint, EqualsTheStatedRuleAroundTheRangeEdges)
{
    const auto rule = [](double v) -> PF_Fixed {
        const double scaled = v * 65536.0;
        if (std::isnan(scaled)) return 0;
        const double rounded = scaled < 0.0 ? scaled - 0.5 : scaled + 0.5;
        if (rounded >= 2147483648.0) return INT32_MAX;
        if (rounded <= -2147483649.0) return INT32_MIN;
        return static_cast<PF_Fixed>(rounded);
    };
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> near(-2.0, 2.0), anywhere(-40000.0, 40000.0);
    for (int i = 0; i < 200000; ++i) {
        const double edge = (i & 1 ? 2147483647.0 : -2147483648.0) + near(random);
        const double v = i % 3 == 0 ? anywhere(random) : std::nextafter(edge / 65536.0, 0.0) *
                                                              (i % 3 == 1 ? 1.0 : 1.0 + 1e-16);
        ASSERT_EQ(FixedFromDouble(v), rule(v)) << v;
    }
    EXPECT_EQ(FixedFromDouble(-0.0), 0);
    EXPECT_EQ(FixedFromDouble(-0.5 / 65536), -1);
    // Just below one half: adding 0.5 rounds up to 1, by the rule as well.
    EXPECT_EQ(FixedFromDouble(std::nextafter(0.5, 0.0) / 65536), rule(std::nextafter(0.5, 0.0) / 65536));
}

TEST(FixedPoint, SampleRadiiStayWithinOneUnitAnd128Pixels)
{
    EXPECT_EQ(FixedSampleRadius(0.0), 1);
    EXPECT_EQ(FixedSampleRadius(-3.0), 1);
    EXPECT_EQ(FixedSampleRadius(kNaN), 1);
    EXPECT_EQ(FixedSampleRadius(0.5 / 65536), 1);
    EXPECT_EQ(FixedSampleRadius(1.5 / 65536), 2);
    EXPECT_EQ(FixedSampleRadius(1.5), 98304);
    EXPECT_EQ(FixedSampleRadius(128.0), 8388608);
    EXPECT_EQ(FixedSampleRadius(200.0), 8388608);
    EXPECT_EQ(FixedSampleRadius(1e300), 8388608);
    EXPECT_EQ(FixedSampleRadius(kInf), 8388608);

    // The footprint's quick path is the conversion clamped, as stated: seeded
    // radii across and around [0, 128], its ends and their neighbours.
    const auto stated = [](double pixels) {
        const PF_Fixed r = FixedFromDouble(pixels);
        return std::isnan(pixels) || r < 1 ? 1 : std::min(r, 8388608);
    };
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> across(-1.0, 130.0);
    for (int i = 0; i < 100000; ++i) {
        const double r = across(random);
        ASSERT_EQ(FixedSampleRadius(r), stated(r)) << r;
    }
    for (double r : {-0.0, std::nextafter(0.0, 1.0), std::nextafter(128.0, 0.0),
                     std::nextafter(128.0, 200.0), std::nextafter(127.5 / 65536 + 127.0, 0.0)})
        EXPECT_EQ(FixedSampleRadius(r), stated(r)) << r;
}

// ---- the host calls -----------------------------------------------------------------

TEST_F(TextureSamplingTest, EachFetchHandsTheHostAZeroedBlockWithOnlyRadiiAndSource)
{
    lookup(kTail, 0.5, 0.5, 1.5, 0.25);
    ASSERT_EQ(fetches(), 1u);
    const SampleCall call = fetch(0);
    EXPECT_EQ(call.depth, Depth::kFloat);
    EXPECT_EQ(call.effectRef, host.effectRef());
    EXPECT_EQ(call.x, 50 * 65536);
    EXPECT_EQ(call.y, 50 * 65536);

    PF_SampPB expected;
    std::memset(&expected, 0, sizeof expected);
    expected.x_radius = 98304;
    expected.y_radius = 16384;
    expected.src = &info->textureLayer;
    EXPECT_EQ(std::memcmp(&call.pb, &expected, sizeof expected), 0);
}

TEST_F(TextureSamplingTest, ZeroOrUnmeasurableRadiiSampleOneUnitWide)
{
    lookup(kTail, 0.5, 0.5, 0.0, kNaN);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_EQ(fetch(0).pb.x_radius, 1);
    EXPECT_EQ(fetch(0).pb.y_radius, 1);
    lookup(kTail, 0.5, 0.5, 1e9, kInf);
    EXPECT_EQ(fetch(0).pb.x_radius, 8388608);
    EXPECT_EQ(fetch(0).pb.y_radius, 8388608);
}

TEST_F(TextureSamplingTest, EachDepthUsesItsOwnSamplerAndConversion)
{
    samplers.setTexture([](double, double) { return PF_PixelFloat{1.0f, 0.5f, 0.25f, 0.2f}; });

    PF_PixelFloat f = lookup<PF_PixelFloat>(kTail, 0.5, 0.5, 1.0, 1.0);
    EXPECT_EQ(fetch(0).depth, Depth::kFloat);
    EXPECT_EQ(f.red, 0.5f);
    EXPECT_EQ(f.blue, 0.2f);

    PF_PixelFloat p16 = lookup<PF_Pixel16>(kTail, 0.5, 0.5, 1.0, 1.0);
    EXPECT_EQ(fetch(0).depth, Depth::k16);
    EXPECT_EQ(p16.alpha, 1.0f); // 32768 is full intensity
    EXPECT_EQ(p16.red, 0.5f);
    EXPECT_EQ(p16.green, 0.25f);

    PF_PixelFloat p8 = lookup<PF_Pixel>(kTail, 0.5, 0.5, 1.0, 1.0);
    EXPECT_EQ(fetch(0).depth, Depth::k8);
    EXPECT_EQ(p8.alpha, 1.0f);
    EXPECT_EQ(p8.red, 127 / 255.0f); // 0.5 stored as 127, read back / 255
    EXPECT_EQ(p8.blue, 51 / 255.0f);
}

TEST_F(TextureSamplingTest, AHostWithoutTheSamplerGivesAnErrorAndTransparentBlack)
{
    host.suites().remove("PF Sampling16 Suite", 1);
    PF_PixelFloat out{};
    EXPECT_NO_THROW(out = lookup<PF_Pixel16>(kTail, 0.5, 0.5, 1.0, 1.0));
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(IsTransparentBlack(out));
    TexelLookups<PF_Pixel16> lookups(*info); // lookups in a row: the same
    out = PF_PixelFloat{-1.0f, -1.0f, -1.0f, -1.0f};
    EXPECT_EQ(lookups(RowReach(*info, kTail, 0.5, &info->textureLayer), kTail, 0.5, 0.5, 1.0, 1.0,
                      out),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(IsTransparentBlack(out));

    out = lookup<PF_Pixel>(kTail, 0.5, 0.5, 1.0, 1.0); // the other suites still serve
    EXPECT_EQ(err, PF_Err_NONE);
    EXPECT_EQ(out.alpha, 1.0f);
}

TEST_F(TextureSamplingTest, RenderThreadsShareOneAcquisitionOfEachSampler)
{
    constexpr int kThreads = 8, kLookups = 100;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            for (int j = 0; j < kLookups; ++j) {
                PF_PixelFloat out{};
                const double u = (i * kLookups + j) / double(kThreads * kLookups);
                const int e = (j & 1) ? TopologycalSampling<PF_Pixel>(
                                            *info, kTail, u, 0.5, 0.0, 0.0, &info->textureLayer, out)
                                      : TopologycalSampling<PF_Pixel16>(
                                            *info, kTail, u, 0.5, 0.0, 0.0, &info->textureLayer, out);
                if (e != PF_Err_NONE || out.alpha != 1.0f) ++failures;
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(samplers.count(), size_t(kThreads * kLookups));
    EXPECT_EQ(host.ledger().suiteCount("PF Sampling8 Suite", 1), 1);
    EXPECT_EQ(host.ledger().suiteCount("PF Sampling16 Suite", 1), 1);
}

// ---- the u seam ---------------------------------------------------------------------

TEST_F(TextureSamplingTest, TheFootprintReachesOverTheSeamOnEitherSide)
{
    // W = 100 and rx = 2: within 1 + rx = 3 pixels below u = 1 the wrapped
    // side is fetched at u - 1; within rx = 2 pixels above u = 0 at u + 1.
    struct Case {
        double u;
        size_t fetches;
        double secondX; // pixels
    };
    for (Case c : {Case{0.975, 2, -2.5}, Case{0.965, 1, 0}, Case{0.015, 2, 101.5},
                   Case{0.025, 1, 0}, Case{0.5, 1, 0}}) {
        SCOPED_TRACE(c.u);
        lookup(kTail, c.u, 0.5, 2.0, 0.0);
        ASSERT_EQ(fetches(), c.fetches);
        EXPECT_NEAR(fetch(0).px(), c.u * 100, 1e-4);
        if (c.fetches == 2) {
            EXPECT_NEAR(fetch(1).px(), c.secondX, 1e-4);
            EXPECT_EQ(fetch(1).y, fetch(0).y);
        }
    }
}

TEST_F(TextureSamplingTest, WithZeroRadiiOnlyTheLastTexelBeforeTheSeamWraps)
{
    lookup(kTail, 0.995, 0.5, 0.0, 0.0);
    EXPECT_EQ(fetches(), 2u);
    lookup(kTail, 0.985, 0.5, 0.0, 0.0);
    EXPECT_EQ(fetches(), 1u);
    lookup(kTail, 0.0, 0.5, 0.0, 0.0);
    EXPECT_EQ(fetches(), 1u);
}

TEST_F(TextureSamplingTest, OverlappingFetchesAddTheirAlphaUnclamped)
{
    // Left half red at alpha 0.8, right half green at alpha 0.6.
    samplers.setTexture([](double x, double) {
        return x < 50 ? PF_PixelFloat{0.8f, 1.0f, 0.0f, 0.0f}
                      : PF_PixelFloat{0.6f, 0.0f, 1.0f, 0.0f};
    });
    const PF_PixelFloat out = lookup(kTail, 0.99, 0.5, 2.0, 0.0);
    ASSERT_EQ(fetches(), 2u);
    EXPECT_FLOAT_EQ(out.alpha, 1.4f);
    EXPECT_FLOAT_EQ(out.red, 0.8f / 1.4f);
    EXPECT_FLOAT_EQ(out.green, 0.6f / 1.4f);
    EXPECT_EQ(out.blue, 0.0f);
}

TEST(BlendPixel, ZeroTotalAlphaLeavesColoursUndivided)
{
    PF_PixelFloat a{0.0f, 0.7f, 0.0f, 0.0f};
    BlendPixel(a, PF_PixelFloat{0.0f, 0.0f, 0.9f, 0.0f});
    EXPECT_TRUE(IsTransparentBlack(a));
}

TEST_F(TextureSamplingTest, CoordinatesBeyondThe32BitRangeSaturate)
{
    // A widely opened surface far from the vertex: the u period is about 1e7
    // texture widths, so u * W passes 32767 pixels.
    info->openFactor = 10000.0;
    const Vector3 far(0.0f, 1000.0f, 1000.0f);
    lookup(far, 5e6, 0.5, 1.0, 1.0);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_EQ(fetch(0).x, INT32_MAX);
    EXPECT_EQ(fetch(0).y, 50 * 65536);

    PF_PixelFloat out{};
    const PF_SampPB pb = MakeSampPB(1.0, 1.0, &info->textureLayer);
    samplers.clear();
    ULoopSampling<PF_PixelFloat>(*info, 1.0, -1e9, kNaN, 0.0, 0.0, pb, out);
    ASSERT_GE(fetches(), 1u);
    EXPECT_EQ(fetch(0).x, INT32_MIN);
    EXPECT_EQ(fetch(0).y, 0);
}

TEST_F(TextureSamplingTest, AHitARoundingErrorInsideAVertexHasTheVertexsPeriod)
{
    // |pn.z| < 1 would make the period's square root NaN on an opened surface.
    info->openFactor = 2.0;
    lookup(Vector3(0.0f, 0.0f, 0.9999999f), 0.5, 0.5, 0.0, 0.0);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_NEAR(fetch(0).px(), 50.0, 1e-4);
}

// ---- repetitions along the axis --------------------------------------------------------

TEST_F(TextureSamplingTest, ASheetWithoutTextureIsTransparentWithoutHostCalls)
{
    info->extension.renderTail = false;
    EXPECT_TRUE(IsTransparentBlack(lookup(kTail, 0.5, 0.5, 4.0, 4.0)));
    EXPECT_EQ(fetches(), 0u);
    EXPECT_TRUE(IsTransparentBlack(lookup(kHead, 0.5, 0.5, 4.0, 4.0))); // v > 0 is not on the head
    EXPECT_EQ(fetches(), 0u);
}

TEST_F(TextureSamplingTest, GapsAreTransparentUnlessTheNextRepetitionIsWithinReach)
{
    // Repetition 0 on [0, 1], a gap of 0.5, repetition 1 on [1.5, 2.5].
    // Toward the next repetition the reach is 1 + ry = 4 rows.
    info->extension.tailExtensions = 2;
    info->extension.interval = 0.5;

    PF_PixelFloat out = lookup(kTail, 0.5, 1.25, 0.0, 3.0);
    EXPECT_EQ(fetches(), 1u);
    EXPECT_TRUE(IsTransparentBlack(out));

    lookup(kTail, 0.5, 1.45, 0.0, 3.0); // 5 rows before repetition 1
    EXPECT_EQ(fetches(), 1u);

    out = lookup(kTail, 0.5, 1.48, 0.0, 3.0); // 2 rows before it
    ASSERT_EQ(fetches(), 2u);
    EXPECT_NEAR(fetch(0).py(), 148.0, 1e-4); // repetition 0, past its end
    EXPECT_NEAR(fetch(1).py(), -2.0, 1e-4);  // repetition 1, before its start
    EXPECT_EQ(out.alpha, 1.0f);              // only repetition 1 reached the texture
    EXPECT_FLOAT_EQ(out.green, 0.0f);        // its first row
}

TEST_F(TextureSamplingTest, OnTheHeadSheetEachGapLiesOnTheVertexSideOfItsRepetition)
{
    // Repetition -1 on [-1, 0] with its gap [-1.5, -1], repetition -2 on
    // [-2.5, -1.5].
    info->extension.headExtensions = 2;
    info->extension.interval = 0.5;

    lookup(kHead, 0.5, -0.2, 0.0, 3.0);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_NEAR(fetch(0).py(), 80.0, 1e-4);

    lookup(kHead, 0.5, -1.48, 0.0, 3.0); // in the gap, 2 rows past the end of -2
    ASSERT_EQ(fetches(), 2u);
    EXPECT_NEAR(fetch(0).py(), -48.0, 1e-4);
    EXPECT_NEAR(fetch(1).py(), 102.0, 1e-4);
}

TEST_F(TextureSamplingTest, ThePreviousRepetitionIsReachedByRyAndTheNextBy1PlusRy)
{
    info->extension.tailExtensions = 2; // contiguous repetitions 0, 1, 2

    lookup(kTail, 0.5, 1.02, 0.0, 3.0); // 2 rows past the end of repetition 0
    ASSERT_EQ(fetches(), 2u);
    EXPECT_NEAR(fetch(0).py(), 2.0, 1e-4);
    EXPECT_NEAR(fetch(1).py(), 102.0, 1e-4);

    lookup(kTail, 0.5, 1.035, 0.0, 3.0); // 3.5 rows past it: out of reach
    EXPECT_EQ(fetches(), 1u);

    lookup(kTail, 0.5, 0.965, 0.0, 3.0); // 3.5 rows before repetition 1: within 4
    ASSERT_EQ(fetches(), 2u);
    EXPECT_NEAR(fetch(1).py(), -3.5, 1e-4);
}

TEST_F(TextureSamplingTest, AtMostOneNeighbourIsBlendedAndTheNextWins)
{
    info->extension.tailExtensions = 2;
    lookup(kTail, 0.5, 1.5, 0.0, 128.0); // both neighbours within 128 rows
    ASSERT_EQ(fetches(), 2u);
    EXPECT_NEAR(fetch(1).py(), -50.0, 1e-4); // repetition 2
}

TEST_F(TextureSamplingTest, WithZeroRadiiTheNextRepetitionReachesOneRowAndThePreviousNone)
{
    info->extension.tailExtensions = 1;
    lookup(kTail, 0.5, 0.995, 0.0, 0.0);
    EXPECT_EQ(fetches(), 2u);
    lookup(kTail, 0.5, 0.985, 0.0, 0.0);
    EXPECT_EQ(fetches(), 1u);
    lookup(kTail, 0.5, 1.0, 0.0, 0.0); // the first row of repetition 1
    EXPECT_EQ(fetches(), 1u);
}

TEST_F(TextureSamplingTest, TheSheetsMeetAtVZero)
{
    lookup(kTail, 0.5, 0.0, 0.0, 0.0);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_EQ(fetch(0).y, 0); // repetition 0, first row

    lookup(kHead, 0.5, -1e-9, 0.0, 0.0);
    ASSERT_EQ(fetches(), 1u);
    EXPECT_NEAR(fetch(0).py(), 100.0, 1e-4); // repetition -1, just below its end
}

TEST_F(TextureSamplingTest, FlipMirrorsOddRepetitionsAndScrewTwistsAllButTheBaseCopies)
{
    info->extension.tailExtensions = 2;
    info->extension.headExtensions = 2;
    info->extension.flipVertical = true;
    info->extension.screwTurns = 0.25;

    struct Case {
        Vector3 pn;
        double v;
        double x, y; // pixels of the fetch
    };
    // Local v is 0.3 everywhere; mirrored rows are (1 - 1/H) - 0.3 = 0.69.
    for (Case c : {Case{kTail, 0.3, 50, 30}, Case{kTail, 1.3, 75, 69},
                   Case{kTail, 2.3, 0, 30}, Case{kHead, -0.7, 50, 69},
                   Case{kHead, -1.7, 25, 30}}) {
        SCOPED_TRACE(c.v);
        lookup(c.pn, 0.5, c.v, 0.0, 0.0);
        ASSERT_EQ(fetches(), 1u);
        EXPECT_NEAR(fetch(0).px(), c.x, 1e-4);
        EXPECT_NEAR(fetch(0).py(), c.y, 1e-4);
    }
}

TEST_F(TextureSamplingTest, AnEmptyTextureWorldIsTransparentWithoutHostCalls)
{
    info->textureLayer = TextureLayer(0, 0);
    EXPECT_TRUE(IsTransparentBlack(lookup(kTail, 0.5, 0.5, 1.0, 1.0)));
    EXPECT_EQ(fetches(), 0u);
}

} // namespace

// Renders skip the angle, footprint and lookup of a hit the texture cannot
// reach, so the test that decides it must never say "unreachable" where a
// lookup with a radius up to the bound would fetch something.
TEST_F(TextureSamplingTest, ARowTheTextureCannotReachIsNeverFetched)
{
    // Rows near the ends of repetitions (where reach is decided), radii of a
    // few rows, and the bound itself as often as below it.
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> near(-6.0, 6.0), radii(0.0, 4.0), gaps(0.0, 1.0);
    std::uniform_int_distribution<int> copies(-4, 3), ends(0, 3);
    int unreachable = 0, reachable = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        auto &ext = info->extension;
        ext.tailExtensions = trial % 3;
        ext.headExtensions = (trial / 3) % 3;
        ext.renderTail = trial % 5 != 0;
        ext.renderHead = trial % 7 != 0;
        ext.interval = trial % 2 ? gaps(random) : 0.0;
        const Vector3 &pn = trial % 4 < 2 ? kTail : kHead;
        const double gap = ext.interval;
        const double ends4[4] = {0.0, 1.0, -gap, 1.0 + gap};
        const double rows = info->textureLayer.height;
        const double v = copies(random) * (1.0 + gap) + ends4[ends(random)] + near(random) / rows;
        const double maxRy = trial % 8 == 0 ? 130.0 : radii(random);
        const double ry = trial % 2 ? maxRy : std::uniform_real_distribution<double>(0.0, maxRy)(random);
        const RowReach reach(*info, pn, v, &info->textureLayer);
        if (reach.reaches(maxRy)) {
            ++reachable;
            // Renders skip the footprint's bound where any radius reaches:
            // there even the narrowest lookup fetches.
            if (reach.reachesAtAnyRadius()) {
                lookup(pn, 0.3, v, 0.0, 0.0);
                ASSERT_GT(fetches(), 0u) << "v " << v;
            }
            continue;
        }
        ASSERT_FALSE(reach.reachesAtAnyRadius()) << "v " << v;
        ++unreachable;
        const PF_PixelFloat out = lookup(pn, 0.3, v, 2.0, ry);
        ASSERT_EQ(fetches(), 0u) << "v " << v << " ry " << ry << " bound " << maxRy;
        ASSERT_TRUE(IsTransparentBlack(out));
        ASSERT_EQ(err, 0);
    }
    EXPECT_GT(unreachable, 500); // both answers are exercised
    EXPECT_GT(reachable, 500);

    // An empty texture is never reached.
    info->textureLayer = TextureLayer(0, 0);
    EXPECT_FALSE(RowReach(*info, kTail, 0.5, &info->textureLayer).reaches(128.0));
}

// ---- lookups in a row ---------------------------------------------------------------


// TexelLookups takes the common lookup straight to the host and leaves the
// rest to TopologycalSampling: over random layouts (gaps, flips, screws, an
// opened surface), hits near the seam and between repetitions, and radii
// from none to beyond the cap, both give the same colour, error and host
// samples at every depth, and so does a host without the suite.
TEST_F(TextureSamplingTest, LookupsInARowGiveWhatEachLookupGivesAlone)
{
    smoothTexture();
    std::mt19937 random(1207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double oddRadii[] = {0.0, kNaN, kInf, 1e9};
    int fast = 0, whole = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        newLayout(trial, random);
        const Vector3 pn(0.5f, 0.1f, static_cast<float>(trial % 2 ? 1.0 + 3.0 * unit(random)
                                                                  : -1.0 - 3.0 * unit(random)));
        const double u = trial % 7 == 0 ? 1.0 - unit(random) * 0.02 : unit(random) * 1.4 - 0.2;
        const double v = (unit(random) * 6.0 - 3.0);
        const double rx = trial % 23 == 0 ? oddRadii[trial % 4] : unit(random) * 6.0;
        const double ry = trial % 29 == 0 ? oddRadii[trial % 4] : unit(random) * 6.0;
        const RowReach reach(*info, pn, v, &info->textureLayer);
        const auto compare = [&](auto pixel) {
            using P = decltype(pixel);
            TexelLookups<P> lookups(*info);
            const LookupTrace alone = traced([&](PF_PixelFloat &out) {
                return TopologycalSampling<P>(*info, reach, pn, u, v, rx, ry,
                                              &info->textureLayer, out);
            });
            const LookupTrace inRow = traced(
                [&](PF_PixelFloat &out) { return lookups(reach, pn, u, v, rx, ry, out); });
            ASSERT_TRUE(inRow == alone) << "u " << u << " v " << v << " rx " << rx << " ry " << ry;
            (alone.calls.size() == 1 ? fast : whole) += 1;
        };
        compare(PF_PixelFloat{});
        compare(PF_Pixel16{});
        compare(PF_Pixel{});
    }
    EXPECT_GT(fast, 3000);  // most lookups are one sample
    EXPECT_GT(whole, 1000); // seams, gaps and neighbours are exercised
}

// A lookup made from bounds of the hit's angle (PlaceAngleBounds,
// TexelLookups::fromPlacement, TopologycalSamplingFromPlacement)
// is the lookup at the u of every angle within them: over random layouts
// (gaps, flips, screws, an opened surface, a slide) and angles (near 0 and a
// half turn, where u wraps, and anywhere), whenever the bounds settle a
// lookup, its colour, error and host samples are those of the lookup at the
// u of the angle itself and of either end; where they do not, they sample
// nothing.
TEST_F(TextureSamplingTest, LookupsFromAngleBoundsAreThoseOfEveryAngleWithin)
{
    smoothTexture();
    std::mt19937 random(4409);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int settled = 0, open = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        newLayout(trial, random);
        if (trial % 50 == 0) info->textureSlide = trial % 300 == 0 ? 0.0 : unit(random) * 2.0 - 1.0;
        const Vector3 pn(0.5f, 0.1f, static_cast<float>(trial % 2 ? 1.0 + 3.0 * unit(random)
                                                                  : -1.0 - 3.0 * unit(random)));
        // Anywhere, or where u wraps: at 0 and at a half turn.
        const double angles[] = {(unit(random) - 0.5) * 1e-10,
                                 (unit(random) < 0.5 ? -1 : 1) * (M_PI - unit(random) * 1e-10),
                                 (unit(random) - 0.5) * 2.0 * M_PI};
        const double angle = angles[std::min(trial % 5, 2)];
        const double rawV = unit(random) * 6.0 - 3.0;
        const double v = info->shape.openedV(*info, rawV);
        const double rx = unit(random) * 6.0, ry = unit(random) * 6.0;
        const RowReach reach(*info, pn, v, &info->textureLayer);
        const double lo = angle - kArctangentSlack, hi = angle + kArctangentSlack;
        const AnglePlacement placement =
            PlaceAngleBounds(*info, lo, hi, rawV, pn.getZ(), reach.repetition());
        const auto compare = [&](auto pixel) {
            using P = decltype(pixel);
            TexelLookups<P> lookups(*info);
            // In a row and alone: the same lookup, or none.
            bool made = false, madeAlone = false;
            const LookupTrace bounded = traced([&](PF_PixelFloat &out) {
                int err = 0;
                made = lookups.fromPlacement(reach, pn, placement, v, rx, ry, out, err);
                return err;
            });
            const LookupTrace alone = traced([&](PF_PixelFloat &out) {
                int err = 0;
                madeAlone = TopologycalSamplingFromPlacement<P>(*info, reach, pn, placement, v, rx,
                                                                ry, &info->textureLayer, out, err);
                return err;
            });
            ASSERT_EQ(madeAlone, made);
            ASSERT_TRUE(made ? alone == bounded : bounded.calls.empty() && alone.calls.empty());
            (made ? settled : open) += 1;
            for (const double a : {angle, lo, hi}) {
                if (!made) break;
                int wrapped = 0;
                const double u = info->shape.openedU(*info, Hyperboloid::uOfAngle(a, wrapped), rawV);
                const LookupTrace exact =
                    traced([&](PF_PixelFloat &out) { return lookups(reach, pn, u, v, rx, ry, out); });
                ASSERT_TRUE(bounded == exact) << "angle " << a << " u " << u << " v " << v;
            }
        };
        compare(PF_PixelFloat{});
        compare(PF_Pixel16{});
        compare(PF_Pixel{});
    }
    EXPECT_GT(settled, 3000); // the common lookups, away from the wraps
    EXPECT_GT(open, 1000);    // seams, neighbours and wraps are exercised
}
