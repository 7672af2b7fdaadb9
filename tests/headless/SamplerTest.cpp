// The host's samplers ("PF Sampling8/16/Float Suite" 1) against a brute-force
// box average, their edges (half-pixel radius, the smallest radius, outside
// the world, transparent regions), their errors, and their tables under many
// threads.
#include "headless/boundary/AreaSampler.h"
#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"
#include "headless/boundary/WorldSuites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <latch>
#include <limits>
#include <random>
#include <thread>
#include <vector>

using headless::Host;
using headless::HostWorld;
using headless::Ledger;
using headless::PixelDepth;

namespace {

constexpr PF_Fixed kOne = 65536;
constexpr PF_Fixed kHalf = 32768;

// ---- the suites per pixel type ----------------------------------------------------

template <class P> using SampleFn = PF_Err (*)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB *, P *);
template <class P> struct SuiteFunctions {
    AEGP_WorldType worldType;
    SampleFn<P> nearest, bilinear, area;
};
template <class P> SuiteFunctions<P> suite() {
    if constexpr (std::is_same_v<P, PF_Pixel>) {
        const PF_Sampling8Suite1 &s = headless::sampling8Suite1();
        return {AEGP_WorldType_8, s.nn_sample, s.subpixel_sample, s.area_sample};
    } else if constexpr (std::is_same_v<P, PF_Pixel16>) {
        const PF_Sampling16Suite1 &s = headless::sampling16Suite1();
        return {AEGP_WorldType_16, s.nn_sample16, s.subpixel_sample16, s.area_sample16};
    } else {
        const PF_SamplingFloatSuite1 &s = headless::samplingFloatSuite1();
        return {AEGP_WorldType_32, s.nn_sample_float, s.subpixel_sample_float, s.area_sample_float};
    }
}

// ---- pixels -------------------------------------------------------------------------

template <class P> double fullOf() { return headless::fullIntensity(headless::depthOf<P>()); }

template <class P> P &at(const PF_EffectWorld &world, A_long x, A_long y) {
    return reinterpret_cast<P *>(static_cast<char *>(world.data) + y * world.rowbytes)[x];
}

template <class P> P makePixel(double a, double r, double g, double b) {
    using C = decltype(P{}.alpha);
    return P{C(a), C(r), C(g), C(b)};
}

// Random content; alpha 0 with probability `clear`. Float colours reach past
// [0, 1] as light does.
template <class P> P randomPixel(std::mt19937 &rng, double clear) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const bool transparent = unit(rng) < clear;
    if constexpr (std::is_same_v<P, PF_PixelFloat>) {
        std::uniform_real_distribution<double> light(-0.25, 2.0);
        return makePixel<P>(transparent ? 0.0 : unit(rng), light(rng), light(rng), light(rng));
    } else {
        std::uniform_int_distribution<int> channel(0, static_cast<int>(fullOf<P>()));
        return makePixel<P>(transparent ? 0 : channel(rng), channel(rng), channel(rng), channel(rng));
    }
}

// Straight colour and alpha in units of full intensity.
struct Expected {
    double alpha, red, green, blue;
};

// The filter, by brute force: every pixel the box touches, weighted by the
// area it covers, alpha-weighted colour.
template <class P>
Expected bruteForce(const PF_EffectWorld &world, double x, double y, double rx, double ry) {
    rx = std::max(rx, 0.5);
    ry = std::max(ry, 0.5);
    const double x0 = x - rx, x1 = x + rx, y0 = y - ry, y1 = y + ry;
    const A_long i0 = std::max<A_long>(0, A_long(std::floor(x0))), i1 = std::min<A_long>(world.width - 1, A_long(std::ceil(x1)));
    const A_long j0 = std::max<A_long>(0, A_long(std::floor(y0))), j1 = std::min<A_long>(world.height - 1, A_long(std::ceil(y1)));
    double a = 0, r = 0, g = 0, b = 0;
    for (A_long j = j0; j <= j1; ++j) {
        const double wy = std::min(j + 0.5, y1) - std::max(j - 0.5, y0);
        if (wy <= 0) continue;
        for (A_long i = i0; i <= i1; ++i) {
            const double wx = std::min(i + 0.5, x1) - std::max(i - 0.5, x0);
            if (wx <= 0) continue;
            const P &p = at<P>(world, i, j);
            const double weight = double(p.alpha) * wx * wy;
            a += weight;
            r += double(p.red) * weight;
            g += double(p.green) * weight;
            b += double(p.blue) * weight;
        }
    }
    const double full = fullOf<P>();
    if (a == 0) return {0, 0, 0, 0};
    return {a / (4 * rx * ry) / full, r / a / full, g / a / full, b / a / full};
}

// The system's store rule for one channel.
template <class C> C stored(double value, float full) {
    const float scaled = static_cast<float>(value) * full;
    if (scaled > full) return static_cast<C>(full);
    if (!(scaled >= 0)) return 0;
    return static_cast<C>(scaled);
}

// Integer depths: the stored value, allowing for the average landing on
// either side of a truncation step by rounding. Float: close to the average.
template <class P> ::testing::AssertionResult matches(const P &got, const Expected &want) {
    const double wanted[4] = {want.alpha, want.red, want.green, want.blue};
    const double channels[4] = {double(got.alpha), double(got.red), double(got.green), double(got.blue)};
    for (int c = 0; c < 4; ++c) {
        bool ok;
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            ok = std::fabs(channels[c] - wanted[c]) <= 1e-6 * std::max(1.0, std::fabs(wanted[c]));
        } else {
            using C = decltype(P{}.alpha);
            const float full = static_cast<float>(fullOf<P>());
            const double slack = 1e-9;
            ok = channels[c] == stored<C>(wanted[c] - slack, full) || channels[c] == stored<C>(wanted[c] + slack, full);
        }
        if (!ok)
            return ::testing::AssertionFailure()
                   << "channel " << c << " is " << channels[c] << ", the box average is " << wanted[c]
                   << " of full intensity";
    }
    return ::testing::AssertionSuccess();
}

// ---- fixture: worlds made the way the effect makes them ---------------------------

struct SamplerHost {
    Host host;
    std::vector<AEGP_WorldH> handles;

    template <class P> PF_EffectWorld newWorld(A_long width, A_long height) {
        AEGP_WorldH handle = nullptr;
        PF_EffectWorld desc{};
        const AEGP_WorldSuite3 &worlds = headless::aegpWorldSuite3();
        EXPECT_EQ(worlds.AEGP_New(1, suite<P>().worldType, width, height, &handle), A_Err_NONE);
        EXPECT_EQ(worlds.AEGP_FillOutPFEffectWorld(handle, &desc), A_Err_NONE);
        handles.push_back(handle);
        return desc;
    }
    ~SamplerHost() {
        for (AEGP_WorldH handle : handles) headless::aegpWorldSuite3().AEGP_Dispose(handle);
        EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
    }
    const HostWorld &worldOf(const PF_EffectWorld &desc) { return *host.worlds().find(desc); }
};

PF_SampPB block(const PF_EffectWorld &source, PF_Fixed rx, PF_Fixed ry) {
    PF_SampPB pb{};
    pb.x_radius = rx;
    pb.y_radius = ry;
    pb.src = const_cast<PF_EffectWorld *>(&source);
    return pb;
}

template <class P> struct SamplerTest : ::testing::Test, SamplerHost {
    P area(const PF_EffectWorld &world, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry) {
        const PF_SampPB pb = block(world, rx, ry);
        P out{};
        EXPECT_EQ(suite<P>().area(host.effectRef(), x, y, &pb, &out), PF_Err_NONE);
        return out;
    }
};
using PixelTypes = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;
TYPED_TEST_SUITE(SamplerTest, PixelTypes);

TYPED_TEST(SamplerTest, AgreesWithBruteForceBoxAverages) {
    using P = TypeParam;
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> side(1, 40);
    for (int trial = 0; trial < 12; ++trial) {
        const A_long width = side(rng), height = side(rng);
        const PF_EffectWorld world = this->template newWorld<P>(width, height);
        // The world starts as garbage, padding included; the effect writes
        // every pixel, about a third of them transparent.
        for (A_long y = 0; y < height; ++y)
            for (A_long x = 0; x < width; ++x) at<P>(world, x, y) = randomPixel<P>(rng, 0.3);

        std::uniform_int_distribution<PF_Fixed> px(-8 * kOne, (width + 8) * kOne);
        std::uniform_int_distribution<PF_Fixed> py(-8 * kOne, (height + 8) * kOne);
        std::uniform_int_distribution<PF_Fixed> small(1, 4 * kOne), large(1, 64 * kOne);
        for (int n = 0; n < 300; ++n) {
            const PF_Fixed x = px(rng), y = py(rng);
            PF_Fixed radii[2];
            for (PF_Fixed &r : radii) {
                switch (n % 7) {
                case 0: r = 1; break;                  // the smallest the effect asks for
                case 1: r = kHalf; break;              // exactly half a pixel: bilinear
                case 2: r = kHalf + (n % 2 ? 1 : -1); break;
                case 3: r = small(rng); break;
                case 4: r = large(rng); break;
                case 5: r = 1000 * kOne; break;        // far beyond the world
                default: r = n % 2 ? 8388608 : small(rng); // the effect's largest; or mixed
                }
            }
            const P got = this->area(world, x, y, radii[0], radii[1]);
            const Expected want = bruteForce<P>(world, x / 65536.0, y / 65536.0, radii[0] / 65536.0, radii[1] / 65536.0);
            ASSERT_TRUE(matches(got, want)) << width << " x " << height << " world, sample at (" << x << ", " << y
                                            << ") radii (" << radii[0] << ", " << radii[1] << ")";
        }
    }
    EXPECT_TRUE(this->host.ledger().problems().empty()) << this->host.ledger().report();
}

TYPED_TEST(SamplerTest, HalfPixelOrLessIsBilinearAndColourStaysStraight) {
    using P = TypeParam;
    const double full = fullOf<P>();
    const PF_EffectWorld world = this->template newWorld<P>(2, 2);
    // Top row: opaque red | transparent (with colour that must not show).
    // Bottom row: opaque, red 0 | opaque, red 200/255.
    at<P>(world, 0, 0) = makePixel<P>(full, full, 0, 0);
    at<P>(world, 1, 0) = makePixel<P>(0, 0, full * 0.3, full);
    at<P>(world, 0, 1) = makePixel<P>(full, 0, 0, 0);
    at<P>(world, 1, 1) = makePixel<P>(full, full * 200 / 255, 0, 0);

    for (PF_Fixed r : {PF_Fixed{1}, kHalf / 2, kHalf}) {
        // Half way between an opaque red pixel and a transparent one: red
        // stays full, alpha halves.
        const P mid = this->area(world, kHalf, 0, r, r);
        EXPECT_TRUE(matches(mid, Expected{0.5, 1, 0, 0})) << r;
        // A quarter of the way along the bottom row: plain interpolation.
        const P quarter = this->area(world, kHalf / 2, kOne, r, r);
        EXPECT_TRUE(matches(quarter, Expected{1, 0.25 * 200 / 255, 0, 0})) << r;
        // On a pixel centre: that pixel.
        EXPECT_TRUE(matches(this->area(world, kOne, kOne, r, r), Expected{1, 200 / 255.0, 0, 0}));
    }
    // subpixel_sample is the same filter, whatever the block's radii.
    const PF_SampPB pb = block(world, 40 * kOne, 40 * kOne);
    P out{};
    ASSERT_EQ(suite<P>().bilinear(this->host.effectRef(), kHalf / 2, kOne, &pb, &out), PF_Err_NONE);
    EXPECT_TRUE(matches(out, Expected{1, 0.25 * 200 / 255, 0, 0}));
    ASSERT_EQ(suite<P>().bilinear(this->host.effectRef(), -kHalf, -kHalf, &pb, &out), PF_Err_NONE);
    EXPECT_TRUE(matches(out, Expected{0.25, 1, 0, 0})) << "a quarter of the box on the corner pixel";
}

TYPED_TEST(SamplerTest, NearestTakesThePixelWhoseSquareHoldsThePoint) {
    using P = TypeParam;
    const PF_EffectWorld world = this->template newWorld<P>(3, 1);
    for (A_long x = 0; x < 3; ++x) at<P>(world, x, 0) = makePixel<P>(fullOf<P>(), x + 1, 0, 0);
    const PF_SampPB pb = block(world, 0, 0);
    auto nearestRed = [&](PF_Fixed x, PF_Fixed y) {
        P out = makePixel<P>(9, 9, 9, 9);
        EXPECT_EQ(suite<P>().nearest(this->host.effectRef(), x, y, &pb, &out), PF_Err_NONE);
        return double(out.red);
    };
    EXPECT_EQ(nearestRed(kOne + kHalf - 1, 0), 2) << "just left of the edge between pixels 1 and 2";
    EXPECT_EQ(nearestRed(kOne + kHalf, 0), 3) << "the edge belongs to the right-hand pixel";
    EXPECT_EQ(nearestRed(-kHalf, kHalf - 1), 1);
    EXPECT_EQ(nearestRed(-kHalf - 1, 0), 0) << "outside: transparent black";
    EXPECT_EQ(nearestRed(0, kHalf), 0);
}

TYPED_TEST(SamplerTest, OutsideTheWorldIsTransparentBlack) {
    using P = TypeParam;
    const double full = fullOf<P>();
    const PF_EffectWorld world = this->template newWorld<P>(4, 3);
    const P p = makePixel<P>(full, full / 2, full / 4, full);
    for (A_long y = 0; y < 3; ++y)
        for (A_long x = 0; x < 4; ++x) at<P>(world, x, y) = p;
    const double red = p.red / full, green = p.green / full, blue = p.blue / full;

    EXPECT_TRUE(matches(this->area(world, -3 * kOne, kOne, kOne, kOne), Expected{0, 0, 0, 0}))
        << "a box wholly left of the world";
    EXPECT_TRUE(matches(this->area(world, kOne, 100 * kOne, 50 * kOne, 2 * kOne), Expected{0, 0, 0, 0}));
    // A box of 2 x 2 pixels centred on the world's top left corner covers one
    // pixel's area of it: alpha a quarter, colour as it is.
    EXPECT_TRUE(matches(this->area(world, -kHalf, -kHalf, kOne, kOne), Expected{0.25, red, green, blue}));
    // A box far larger than the world: the world's colour, alpha its share.
    EXPECT_TRUE(matches(this->area(world, kOne, kOne, 10 * kOne, 10 * kOne), Expected{12.0 / 400, red, green, blue}));
}

TYPED_TEST(SamplerTest, TransparentRegionsHaveNoColour) {
    using P = TypeParam;
    std::mt19937 rng(7);
    const PF_EffectWorld world = this->template newWorld<P>(64, 48);
    for (A_long y = 0; y < 48; ++y)
        for (A_long x = 0; x < 64; ++x)
            at<P>(world, x, y) = x >= 40 && y >= 30 ? makePixel<P>(0, fullOf<P>(), fullOf<P>(), 0)
                                                    : randomPixel<P>(rng, 0.0);
    // Inside the transparent corner the colour it carries must not show.
    EXPECT_TRUE(matches(this->area(world, 50 * kOne, 38 * kOne, 3 * kOne, 2 * kOne), Expected{0, 0, 0, 0}));
    EXPECT_TRUE(matches(this->area(world, 63 * kOne, 47 * kOne, 1, 1), Expected{0, 0, 0, 0}));
    const P out = this->area(world, 50 * kOne, 38 * kOne, 3 * kOne, 2 * kOne);
    EXPECT_EQ(double(out.alpha) + double(out.red) + double(out.green) + double(out.blue), 0.0) << "exactly";
}

// ---- float precision at 4K ---------------------------------------------------------

// The 8-bit store, all four channels at once, against the rule one channel
// at a time, at the values where the rule turns: below 0, NaN, the edges of
// every step, 1 and beyond.
TEST(SamplerStoreTest, EightBitStoreFollowsTheRuleOnEveryChannel) {
    const auto rule = [](float value) -> A_u_char {
        const float scaled = value * 255.0f;
        if (scaled > 255.0f) return 255;
        if (!(scaled >= 0.0f)) return 0;
        return static_cast<A_u_char>(scaled);
    };
    std::vector<float> values = {0.0f, -0.0f, -1e-30f, -1.0f, 1.0f, 1.0000001f, 2.0f, 1e30f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min()};
    for (int k = 0; k <= 255; ++k) {
        const float step = static_cast<float>(k) / 255.0f;
        values.insert(values.end(), {step, std::nextafter(step, 0.0f), std::nextafter(step, 2.0f)});
    }
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
    for (int trial = 0; trial < 20000; ++trial) {
        const PF_PixelFloat p{values[pick(random)], values[pick(random)], values[pick(random)], values[pick(random)]};
        const PF_Pixel got = headless::storeEightBit(p);
        ASSERT_EQ(got.alpha, rule(p.alpha)) << p.alpha;
        ASSERT_EQ(got.red, rule(p.red)) << p.red;
        ASSERT_EQ(got.green, rule(p.green)) << p.green;
        ASSERT_EQ(got.blue, rule(p.blue)) << p.blue;
    }
}

TEST(SamplerPrecisionTest, FloatTablesOfA4KWorldLoseNothingVisible) {
    SamplerHost h;
    const PF_EffectWorld world = h.newWorld<PF_PixelFloat>(3840, 2160);
    std::mt19937 rng(4096);
    for (A_long y = 0; y < 2160; ++y)
        for (A_long x = 0; x < 3840; ++x)
            at<PF_PixelFloat>(world, x, y) = x >= 3700 && y >= 2000 ? PF_PixelFloat{0, 1, 1, 1}
                                                                    : randomPixel<PF_PixelFloat>(rng, 0.05);
    auto sample = [&](double x, double y, double r) {
        const PF_SampPB pb = block(world, PF_Fixed(r * kOne), PF_Fixed(r * kOne));
        PF_PixelFloat out{};
        EXPECT_EQ(suite<PF_PixelFloat>().area(h.host.effectRef(), PF_Fixed(x * kOne), PF_Fixed(y * kOne), &pb, &out),
                  PF_Err_NONE);
        return out;
    };
    // Far from the table's origin, where its sums are largest.
    std::uniform_real_distribution<double> nearEnd(3000, 3690), lowRows(1500, 1990), radius(0.25, 6);
    for (int n = 0; n < 400; ++n) {
        const double x = nearEnd(rng), y = lowRows(rng), r = radius(rng);
        const PF_PixelFloat got = sample(x, y, r);
        const Expected want = bruteForce<PF_PixelFloat>(world, PF_Fixed(x * kOne) / 65536.0,
                                                        PF_Fixed(y * kOne) / 65536.0, PF_Fixed(r * kOne) / 65536.0,
                                                        PF_Fixed(r * kOne) / 65536.0);
        ASSERT_TRUE(matches(got, want)) << "at (" << x << ", " << y << ") radius " << r;
    }
    const PF_PixelFloat hole = sample(3770, 2080, 20);
    EXPECT_EQ(hole.alpha, 0.0f);
    EXPECT_EQ(hole.red + hole.green + hole.blue, 0.0f);
}

// ---- errors, faults and changing pixels --------------------------------------------

struct SamplerErrorsTest : ::testing::Test, SamplerHost {};

TEST_F(SamplerErrorsTest, EveryHostOffersTheThreeSuitesByName) {
    SPBasicSuite &basic = *host.inData()->pica_basicP;
    const std::pair<const char *, const void *> offered[] = {{kPFSampling8Suite, &headless::sampling8Suite1()},
                                                             {kPFSampling16Suite, &headless::sampling16Suite1()},
                                                             {kPFSamplingFloatSuite, &headless::samplingFloatSuite1()}};
    for (const auto &[name, table] : offered) {
        const void *acquired = nullptr;
        EXPECT_EQ(basic.AcquireSuite(name, 1, &acquired), kSPNoError) << name;
        EXPECT_EQ(acquired, table) << name;
        EXPECT_EQ(basic.ReleaseSuite(name, 1), kSPNoError);
    }
}

TEST_F(SamplerErrorsTest, BadSourcesAreRefusedAndRecordedOnce) {
    const PF_EffectWorld eight = newWorld<PF_Pixel>(4, 4);
    const PF_Pixel opaque{255, 255, 255, 255};
    auto check = [&](const PF_SampPB *pb, const char *problem) {
        for (int n = 0; n < 3; ++n) {
            PF_Pixel out = opaque;
            EXPECT_EQ(suite<PF_Pixel>().area(host.effectRef(), 0, 0, pb, &out), PF_Err_BAD_CALLBACK_PARAM) << problem;
            EXPECT_EQ(out.alpha + out.red, 0) << "transparent black on failure";
        }
        std::size_t seen = 0;
        for (const std::string &text : host.ledger().problems()) seen += text.find(problem) != std::string::npos;
        EXPECT_EQ(seen, 1u) << problem << "\n" << host.ledger().report();
    };
    PF_EffectWorld foreign = eight;
    std::vector<PF_Pixel> pixels(16);
    foreign.data = pixels.data();
    const PF_SampPB foreignBlock = block(foreign, kOne, kOne);
    check(&foreignBlock, "no world of the host has pixels at");
    PF_EffectWorld resized = eight;
    resized.height = 40;
    const PF_SampPB resizedBlock = block(resized, kOne, kOne);
    check(&resizedBlock, "of size 4 x 40");
    PF_SampPB noSource = block(eight, kOne, kOne);
    noSource.src = nullptr;
    check(&noSource, "without a source world");
    check(nullptr, "null sampling parameter block");

    const PF_EffectWorld sixteen = newWorld<PF_Pixel16>(4, 4);
    const PF_SampPB deep = block(sixteen, kOne, kOne);
    check(&deep, "is a 16-bit world");

    const PF_SampPB good = block(eight, kOne, kOne);
    EXPECT_EQ(suite<PF_Pixel>().area(host.effectRef(), 0, 0, &good, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_Pixel out = opaque;
    int local = 0;
    EXPECT_EQ(suite<PF_Pixel>().area(reinterpret_cast<PF_ProgPtr>(&local), 0, 0, &good, &out),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(out.alpha, 0);
}

TEST_F(SamplerErrorsTest, DisposedSourcesAreRefusedNotRead) {
    PF_EffectWorld desc{};
    const PF_WorldSuite2 &pf = headless::pfWorldSuite2();
    ASSERT_EQ(pf.PF_NewWorld(host.effectRef(), 8, 8, true, PF_PixelFormat_ARGB128, &desc), PF_Err_NONE);
    const PF_EffectWorld copy = desc;
    const PF_SampPB pb = block(copy, kOne, kOne);
    PF_PixelFloat out{};
    EXPECT_EQ(suite<PF_PixelFloat>().area(host.effectRef(), kOne, kOne, &pb, &out), PF_Err_NONE);
    ASSERT_EQ(pf.PF_DisposeWorld(host.effectRef(), &desc), PF_Err_NONE);
    host.run(PF_Cmd_SMART_RENDER, [] {}); // the next command frees what was disposed of
    EXPECT_EQ(suite<PF_PixelFloat>().area(host.effectRef(), kOne, kOne, &pb, &out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.ledger().problems().size(), 1u) << host.ledger().report();
}

TEST_F(SamplerErrorsTest, FaultsFailTheChosenSample) {
    const PF_EffectWorld world = newWorld<PF_Pixel16>(4, 4);
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 4; ++x) at<PF_Pixel16>(world, x, y) = PF_Pixel16{32768, 32768, 0, 0};
    host.faults().arm(headless::service::kAreaSample, 2, PF_Err_OUT_OF_MEMORY, kPFSampling16Suite);
    const PF_SampPB pb = block(world, kOne, kOne);
    PF_Err results[3];
    PF_Pixel16 outs[3];
    for (int n = 0; n < 3; ++n) results[n] = suite<PF_Pixel16>().area(host.effectRef(), kOne, kOne, &pb, &outs[n]);
    EXPECT_EQ(results[0], PF_Err_NONE);
    EXPECT_EQ(results[1], PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(results[2], PF_Err_NONE);
    EXPECT_EQ(outs[0].red, 32768);
    EXPECT_EQ(outs[1].alpha + outs[1].red, 0) << "a failed sample is transparent black";
    EXPECT_EQ(host.faults().calls(headless::service::kAreaSample, kPFSampling16Suite), 3);

    PF_Pixel16 out{};
    host.faults().arm(headless::service::kPointSample, 1, PF_Err_INTERNAL_STRUCT_DAMAGED, kPFSampling16Suite);
    EXPECT_EQ(suite<PF_Pixel16>().area(host.effectRef(), 0, 0, &pb, &out), PF_Err_NONE) << "not a point sample";
    EXPECT_EQ(suite<PF_Pixel16>().nearest(host.effectRef(), 0, 0, &pb, &out), PF_Err_INTERNAL_STRUCT_DAMAGED);
}

TEST_F(SamplerErrorsTest, WhatTheEffectWritesIsSampledAfterTheNextBoundary) {
    const PF_EffectWorld world = newWorld<PF_Pixel>(16, 16);
    const HostWorld &hostWorld = worldOf(world);
    const PF_SampPB pb = block(world, 4 * kOne, 4 * kOne);
    struct Frame {
        const PF_EffectWorld *world;
        const PF_SampPB *pb;
        PF_ProgPtr ref;
        A_u_char value;
        PF_Pixel seen;
    } frame{&world, &pb, host.effectRef(), 0, {}};

    // Per frame: a pass writes every pixel, a second pass samples.
    auto render = [&](A_u_char value) {
        frame.value = value;
        host.run(PF_Cmd_SMART_RENDER, [&] {
            PF_UtilCallbacks &utils = *host.inData()->utils;
            PF_Err err = utils.iterate_generic(16, &frame, [](void *refcon, A_long, A_long row, A_long) -> PF_Err {
                auto &f = *static_cast<Frame *>(refcon);
                for (A_long x = 0; x < 16; ++x) at<PF_Pixel>(*f.world, x, row) = PF_Pixel{255, f.value, 0, 0};
                return PF_Err_NONE;
            });
            if (err) return err;
            return utils.iterate_generic(1, &frame, [](void *refcon, A_long, A_long, A_long) -> PF_Err {
                auto &f = *static_cast<Frame *>(refcon);
                return suite<PF_Pixel>().area(f.ref, 8 * kOne, 8 * kOne, f.pb, &f.seen);
            });
        });
        return frame.seen.red;
    };
    EXPECT_EQ(render(10), 10);
    EXPECT_EQ(render(200), 200) << "a table from an earlier frame is not used";
    EXPECT_EQ(hostWorld.tableBuilds(), 2);
}

// Render threads remember the sources they found last: whatever the order of
// sources, and whatever happened to them since, a sample reads the world its
// description names as it is now.
TEST_F(SamplerErrorsTest, RememberedSourcesFollowTheWorldsTheyName) {
    // Image-sized worlds, so that one made after another went reuses its pixels' memory.
    constexpr A_long kSide = 600;
    auto paint = [&](const PF_EffectWorld &world, A_u_char red) {
        for (A_long y = 0; y < kSide; ++y)
            for (A_long x = 0; x < kSide; ++x) at<PF_Pixel>(world, x, y) = PF_Pixel{255, red, 0, 0};
        const_cast<HostWorld &>(worldOf(world)).pixelsChanged();
    };
    auto redOf = [&](const PF_EffectWorld &world, PF_Err expected = PF_Err_NONE) {
        const PF_SampPB pb = block(world, 3 * kOne, 2 * kOne);
        PF_Pixel out{};
        EXPECT_EQ(suite<PF_Pixel>().area(host.effectRef(), 300 * kOne, 300 * kOne, &pb, &out), expected);
        return int{out.red};
    };
    std::vector<PF_EffectWorld> worlds;
    for (A_u_char red : {10, 20, 30}) {
        worlds.push_back(newWorld<PF_Pixel>(kSide, kSide));
        paint(worlds.back(), red);
    }
    // More sources than a thread remembers, in an order that evicts each in turn.
    for (int source : {0, 1, 0, 2, 1, 2, 0, 0, 1})
        EXPECT_EQ(redOf(worlds[source]), 10 * (source + 1)) << "source " << source;

    // Pixels written and announced: the new ones.
    paint(worlds[1], 99);
    EXPECT_EQ(redOf(worlds[1]), 99);
    EXPECT_EQ(redOf(worlds[0]), 10);

    // A world that went, and one made in its memory: the old description is
    // refused while no world has those pixels, then names the new world.
    const PF_EffectWorld gone = worlds[2];
    ASSERT_EQ(headless::aegpWorldSuite3().AEGP_Dispose(handles[2]), A_Err_NONE);
    handles.erase(handles.begin() + 2);
    EXPECT_EQ(redOf(gone, PF_Err_BAD_CALLBACK_PARAM), 0);
    host.run(PF_Cmd_SMART_RENDER, [] {}); // frees it
    const PF_EffectWorld fresh = newWorld<PF_Pixel>(kSide, kSide);
    EXPECT_EQ(fresh.data, gone.data) << "the new world reuses the memory of the one that went";
    paint(fresh, 77);
    EXPECT_EQ(redOf(fresh), 77);
    EXPECT_EQ(redOf(gone), 77);
    EXPECT_EQ(redOf(worlds[1]), 99);
}

// ---- threads ------------------------------------------------------------------------

TEST_F(SamplerErrorsTest, ThreadsSamplingAFreshWorldShareOneTable) {
    const PF_EffectWorld world = newWorld<PF_PixelFloat>(256, 256);
    std::mt19937 rng(3);
    for (A_long y = 0; y < 256; ++y)
        for (A_long x = 0; x < 256; ++x) at<PF_PixelFloat>(world, x, y) = randomPixel<PF_PixelFloat>(rng, 0.2);
    const HostWorld &hostWorld = worldOf(world);
    const PF_SampPB pb = block(world, 9 * kOne, 5 * kOne);

    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<PF_PixelFloat> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            suite<PF_PixelFloat>().area(host.effectRef(), 100 * kOne, 90 * kOne, &pb, &seen[t]);
        });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(hostWorld.tableBuilds(), 1);
    for (const PF_PixelFloat &p : seen) {
        EXPECT_EQ(p.alpha, seen[0].alpha);
        EXPECT_EQ(p.blue, seen[0].blue);
    }

    // A pass of the host's iterator: the effect may have written its world
    // before it, so the pass gets one new table, which all its threads share.
    std::vector<PF_PixelFloat> inPass(4096), serial(4096);
    for (A_long i = 0; i < 4096; ++i)
        suite<PF_PixelFloat>().area(host.effectRef(), (i % 64) * 4 * kOne, (i / 64) * 4 * kOne, &pb, &serial[i]);
    struct Pass {
        PF_ProgPtr ref;
        const PF_SampPB *pb;
        PF_PixelFloat *out;
    } pass{host.effectRef(), &pb, inPass.data()};
    host.run(PF_Cmd_SMART_RENDER, [&] {
        return host.inData()->utils->iterate_generic(4096, &pass, [](void *refcon, A_long, A_long i, A_long) -> PF_Err {
            auto &p = *static_cast<Pass *>(refcon);
            return suite<PF_PixelFloat>().area(p.ref, (i % 64) * 4 * kOne, (i / 64) * 4 * kOne, p.pb, &p.out[i]);
        });
    });
    EXPECT_EQ(hostWorld.tableBuilds(), 2);
    for (A_long i = 0; i < 4096; ++i) ASSERT_EQ(inPass[i].red, serial[i].red) << i;
}

} // namespace
