// Area tables held as a rolling window of rows against the same tables held
// whole: the same sums bit for bit in any order of boxes and from many
// threads at once, and memory that follows the rows in use. 8-bit worlds held
// whole keep 32-bit words: their boxes against the 64-bit rolling rows, where
// the sums pass 2^32. And the box sums of every kind of table on the
// build's own instruction set against the x86-64-v3 build.
#include "headless/images/AreaBox.h"
#include "headless/images/AreaTable.h"
#include "headless/images/AreaTableRows.h"
#include "headless/images/HostWorld.h"
#include "headless/images/NarrowAreaTable.h"
#include "headless/images/RollingRows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <latch>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using headless::AreaTable;
using headless::AreaTableRows;
using headless::BoxSums;
using headless::HostWorld;
using headless::NarrowAreaTable;
using headless::PixelDepth;
using headless::TableBox;

namespace {

// A world of random pixels; float worlds get a few non-finite channels and
// large magnitudes, where the compensated sums matter.
std::unique_ptr<HostWorld> randomWorld(PixelDepth depth, A_long width, A_long height, unsigned seed) {
    auto world = std::make_unique<HostWorld>(depth, width, height);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x) {
            const double a = unit(rng), r = unit(rng), g = unit(rng), b = unit(rng);
            switch (depth) {
            case PixelDepth::Eight:
                *world->pixel<PF_Pixel>(x, y) = {A_u_char(a * 255), A_u_char(r * 255), A_u_char(g * 255),
                                                 A_u_char(b * 255)};
                break;
            case PixelDepth::Sixteen:
                *world->pixel<PF_Pixel16>(x, y) = {A_u_short(a * 32768), A_u_short(r * 32768),
                                                   A_u_short(g * 32768), A_u_short(b * 32768)};
                break;
            case PixelDepth::Float: {
                PF_PixelFloat p{float(a), float(r * 1e3 - 5e2), float(g), float(b * 1e-3)};
                if (unit(rng) < 0.002) p.red = std::numeric_limits<float>::infinity();
                if (unit(rng) < 0.002) p.alpha = std::numeric_limits<float>::quiet_NaN();
                *world->pixel<PF_PixelFloat>(x, y) = p;
                break;
            }
            }
        }
    world->pixelsChanged();
    return world;
}

// The world with bands of transparent rows (alpha 0 under its colours): at
// the top, and a third of the rest, as a blur's layers are where nothing was
// drawn. A rolling window keeps the rows under such a band in one slot.
std::unique_ptr<HostWorld> withTransparentBands(std::unique_ptr<HostWorld> world) {
    for (A_long y = 0; y < world->height(); ++y) {
        if (y >= 40 && (y / 23) % 3 != 1) continue;
        for (A_long x = 0; x < world->width(); ++x) {
            if (PF_Pixel *p = world->pixel<PF_Pixel>(x, y)) p->alpha = 0;
            if (PF_Pixel16 *p = world->pixel<PF_Pixel16>(x, y)) p->alpha = 0;
            if (PF_PixelFloat *p = world->pixel<PF_PixelFloat>(x, y)) p->alpha = 0.0f;
        }
    }
    world->pixelsChanged();
    return world;
}

struct Box {
    double x0, y0, x1, y1;
};

// Boxes of every size, including ones reaching outside the world.
std::vector<Box> randomBoxes(A_long width, A_long height, int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> x(-3.0, width + 3.0), y(-3.0, height + 3.0), r(0.0, 40.0);
    std::vector<Box> boxes;
    for (int i = 0; i < count; ++i) {
        const double cx = x(rng), cy = y(rng), rx = r(rng), ry = r(rng);
        boxes.push_back({cx - rx, cy - ry, cx + rx, cy + ry});
    }
    return boxes;
}

// Boxes a blur sweeping the world row by row asks for: radius up to `radius`.
std::vector<Box> sweepBoxes(A_long width, A_long height, double radius, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> r(0.5, radius);
    std::vector<Box> boxes;
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; x += 3) {
            const double rx = r(rng), ry = r(rng);
            boxes.push_back({x + 0.5 - rx, y + 0.5 - ry, x + 0.5 + rx, y + 0.5 + ry});
        }
    return boxes;
}

bool sameBits(const BoxSums &a, const BoxSums &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expectSameSums(const AreaTable &whole, const AreaTable &rolling, const std::vector<Box> &boxes) {
    int differing = 0;
    for (const Box &box : boxes) {
        const BoxSums w = whole.integrate(box.x0, box.y0, box.x1, box.y1);
        const BoxSums r = rolling.integrate(box.x0, box.y0, box.x1, box.y1);
        if (!sameBits(w, r) && ++differing <= 3)
            ADD_FAILURE() << "box " << box.x0 << ", " << box.y0 << " .. " << box.x1 << ", " << box.y1
                          << ": alpha " << w.alpha << " vs " << r.alpha << ", red " << w.red << " vs " << r.red;
    }
    EXPECT_EQ(differing, 0);
}

class RollingTableTest : public ::testing::TestWithParam<PixelDepth> {};

TEST_P(RollingTableTest, GivesTheWholeTablesSumsInAnyOrder) {
    const auto world = withTransparentBands(randomWorld(GetParam(), 97, 530, 7));
    const AreaTable whole(*world, 0, AreaTable::Storage::Whole);
    const AreaTable rolling(*world, 0, AreaTable::Storage::Rolling);
    ASSERT_FALSE(whole.rolling());
    ASSERT_TRUE(rolling.rolling());
    EXPECT_EQ(whole.alphaNoise(), rolling.alphaNoise());

    // Random order jumps behind the window again and again: every start from
    // a checkpoint must land on the same entries.
    expectSameSums(whole, rolling, randomBoxes(97, 530, 3000, 11));
    expectSameSums(whole, rolling, sweepBoxes(97, 530, 20.0, 12));
}

TEST_P(RollingTableTest, ManyThreadsReadingAtOnceGetTheWholeTablesSums) {
    const auto world = withTransparentBands(randomWorld(GetParam(), 61, 700, 8));
    const AreaTable whole(*world, 0, AreaTable::Storage::Whole);
    // Four threads sweep their own parts and each finishes with random boxes:
    // rows are made, reused and made again while others read them. A read
    // that missed a row changing under it shows only now and then, so the
    // race is run on several fresh tables.
    constexpr int kThreads = 4, kRounds = 8;
    std::vector<std::vector<Box>> work(kThreads);
    const std::vector<Box> sweep = sweepBoxes(61, 700, 30.0, 21);
    for (std::size_t i = 0; i < sweep.size(); ++i) work[(i / 500) % kThreads].push_back(sweep[i]);
    for (int t = 0; t < kThreads; ++t) {
        const std::vector<Box> extra = randomBoxes(61, 700, 400, 30 + t);
        work[t].insert(work[t].end(), extra.begin(), extra.end());
    }
    for (int round = 0; round < kRounds; ++round) {
        const AreaTable rolling(*world, 0, AreaTable::Storage::Rolling);
        std::vector<int> differing(kThreads, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (const Box &box : work[t])
                    if (!sameBits(whole.integrate(box.x0, box.y0, box.x1, box.y1),
                                  rolling.integrate(box.x0, box.y0, box.x1, box.y1)))
                        ++differing[t];
            });
        for (std::thread &thread : threads) thread.join();
        for (int t = 0; t < kThreads; ++t) EXPECT_EQ(differing[t], 0) << "round " << round << ", thread " << t;
    }
}

TEST(RollingTableThreadsTest, MoreReadersAtOnceThanPostsStillGetTheWholeTablesSums) {
    // Every reader stays alive until all have read, so that those beyond the
    // window's posts read under its lock while the others read without it.
    const auto world = randomWorld(PixelDepth::Eight, 45, 400, 9);
    const AreaTable whole(*world, 0, AreaTable::Storage::Whole);
    const AreaTable rolling(*world, 0, AreaTable::Storage::Rolling);
    const std::vector<Box> boxes = sweepBoxes(45, 400, 12.0, 22);
    constexpr int kThreads = headless::kReaderPosts + 8;
    std::latch allRead(kThreads);
    std::vector<int> differing(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = t % 7; i < boxes.size(); i += 7) {
                const Box &box = boxes[i];
                if (!sameBits(whole.integrate(box.x0, box.y0, box.x1, box.y1),
                              rolling.integrate(box.x0, box.y0, box.x1, box.y1)))
                    ++differing[t];
            }
            allRead.arrive_and_wait();
        });
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(differing[t], 0) << "thread " << t;
}

INSTANTIATE_TEST_SUITE_P(Depths, RollingTableTest,
                         ::testing::Values(PixelDepth::Eight, PixelDepth::Sixteen, PixelDepth::Float),
                         [](const auto &info) {
                             return info.param == PixelDepth::Eight     ? std::string("Eight")
                                    : info.param == PixelDepth::Sixteen ? std::string("Sixteen")
                                                                        : std::string("Float");
                         });

TEST(WholeTableTest, SixteenBitSumsBeyondTwoToThe52AreExactToo) {
    // Full-intensity 16-bit pixels: a box of more than 2^22 of them sums past
    // 2^52, where the fast integer-to-double conversion no longer holds.
    HostWorld world(PixelDepth::Sixteen, 2100, 2049);
    world.fill(PF_Pixel16{32768, 32768, 32768, 32768});
    const AreaTable whole(world, 0, AreaTable::Storage::Whole);
    const AreaTable rolling(world, 0, AreaTable::Storage::Rolling);
    const double full = 32768.0 * 32768.0 * 2100.0 * 2049.0;
    ASSERT_GT(full, std::ldexp(1.0, 52));
    const BoxSums all = whole.integrate(0, 0, 2100, 2049);
    EXPECT_EQ(all.red, full);
    EXPECT_EQ(all.alpha, 32768.0 * 2100.0 * 2049.0);
    expectSameSums(whole, rolling, {{0.5, 0.25, 2099.75, 2048.5}, {3.2, 1.1, 2000.7, 2040.9}, {10, 10, 20, 20}});
}

// An 8-bit world of bright pixels (every channel 128 to 255), saturated
// (all 255) in [0, saturated) x [0, saturated): 258 x 258 saturated pixels
// sum past 2^32 in every channel but alpha.
std::unique_ptr<HostWorld> brightWorld(A_long width, A_long height, A_long saturated, unsigned seed) {
    auto world = std::make_unique<HostWorld>(PixelDepth::Eight, width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> bright(128, 255);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x) {
            PF_Pixel &p = *world->pixel<PF_Pixel>(x, y);
            if (x < saturated && y < saturated) p = {255, 255, 255, 255};
            else p = {A_u_char(bright(rng)), A_u_char(bright(rng)), A_u_char(bright(rng)), A_u_char(bright(rng))};
        }
    world->pixelsChanged();
    return world;
}

// A row of an integer world's table made by the build's own loop and by the
// x86-64-v3 kernel, each into memory of its own and in place over the row
// above, from a row of random 64-bit sums (where additions wrap): the same
// integers. 16-bit pixels of full scale have products beyond 2^31.
TEST(AreaTableRowsTest, BaselineAndV3MakeTheSameRowsInPlaceOrNot) {
    for (PixelDepth depth : {PixelDepth::Eight, PixelDepth::Sixteen})
        for (A_long width : {1, 7, 300}) {
            SCOPED_TRACE(testing::Message() << "depth " << static_cast<int>(depth) << ", width " << width);
            auto world = randomWorld(depth, width, 2, 7u + unsigned(width));
            if (depth == PixelDepth::Sixteen) {
                *world->pixel<PF_Pixel16>(width - 1, 1) = {65535, 65535, 65535, 65535};
            }
            std::mt19937_64 rng(static_cast<std::uint64_t>(width));
            std::vector<std::uint64_t> above((std::size_t(width) + 1) * 4);
            for (std::uint64_t &value : above) value = rng();
            std::vector<std::pair<const char *, headless::ExactRowKernel>> kernels = {
                {"baseline", headless::exactRowBaseline}};
            if (headless::ExactRowKernel v3 = headless::exactRowV3(depth)) kernels.push_back({"x86-64-v3", v3});
            for (A_long y : {0, 1}) {
                std::vector<std::uint64_t> want;
                for (const auto &[name, kernel] : kernels) {
                    std::vector<std::uint64_t> apart(above.size()), inPlace = above;
                    kernel(*world, y, above.data(), apart.data());
                    kernel(*world, y, inPlace.data(), inPlace.data());
                    if (want.empty()) want = apart;
                    EXPECT_EQ(apart, want) << name << ", row " << y;
                    EXPECT_EQ(inPlace, want) << name << " in place, row " << y;
                }
            }
        }
}

// The rows of a world in bands, transparent (alpha 0 under any colour, or
// not finite) and not, against the rows' definition written out here: each
// entry the sum over the pixels above and to the left, exact for integer
// worlds and compensated along the row and then down the column for float
// ones, where the transparent bands after the drawn ones meet sums with their
// compensation pending. Made in the maker's own memory and in memory of the
// caller's alike.
TEST(AreaTableRowsTest, TransparentBandsGiveTheRowsOfTheSums) {
    constexpr A_long kWidth = 23, kHeight = 26;
    const auto drawn = [](A_long y) { return (y >= 5 && y < 9) || (y >= 15 && y < 18); };
    for (PixelDepth depth : {PixelDepth::Eight, PixelDepth::Sixteen, PixelDepth::Float}) {
        SCOPED_TRACE(static_cast<int>(depth));
        auto world = randomWorld(depth, kWidth, kHeight, 41);
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                // A red far above the rest leaves the float sums after it
                // rounded, their compensation pending.
                if (drawn(y) && x == 0 && depth == PixelDepth::Float)
                    *world->pixel<PF_PixelFloat>(x, y) = {1.0f, 3e17f, 0.5f, 0.5f};
                if (drawn(y)) continue;
                if (depth == PixelDepth::Eight) world->pixel<PF_Pixel>(x, y)->alpha = 0;
                if (depth == PixelDepth::Sixteen) world->pixel<PF_Pixel16>(x, y)->alpha = 0;
                if (depth == PixelDepth::Float)
                    world->pixel<PF_PixelFloat>(x, y)->alpha =
                        x % 3 ? 0.0f : x % 2 ? -0.0f : std::numeric_limits<float>::infinity();
            }
        world->pixelsChanged();

        // The definition, as doubles holding what each depth's sums hold.
        const std::size_t stride = (std::size_t(kWidth) + 1) * 4;
        std::vector<double> expected(stride, 0.0), sums(stride, 0.0), compensation(stride, 0.0);
        const auto kahan = [](double &sum, double &c, double v) {
            const double y = v - c, t = sum + y;
            c = (t - sum) - y;
            sum = t;
        };
        for (A_long y = 0; y < kHeight; ++y) {
            double run[4] = {}, runC[4] = {};
            for (A_long x = 0; x < kWidth; ++x) {
                double v[4];
                const auto premultiply = [&v](double a, double r, double g, double b) {
                    v[0] = a, v[1] = r * a, v[2] = g * a, v[3] = b * a;
                };
                const auto finite = [](float f) { return std::isfinite(f) ? double(f) : 0.0; };
                if (const PF_PixelFloat *p = world->pixel<PF_PixelFloat>(x, y))
                    premultiply(finite(p->alpha), finite(p->red), finite(p->green), finite(p->blue));
                else if (const PF_Pixel *p = world->pixel<PF_Pixel>(x, y))
                    premultiply(p->alpha, p->red, p->green, p->blue);
                else if (const PF_Pixel16 *p = world->pixel<PF_Pixel16>(x, y))
                    premultiply(p->alpha, p->red, p->green, p->blue);
                for (int c = 0; c < 4; ++c) {
                    const std::size_t at = (std::size_t(x) + 1) * 4 + c;
                    if (depth != PixelDepth::Float) {
                        run[c] += v[c]; // integers below 2^53: exact
                        sums[at] += run[c];
                    } else {
                        kahan(run[c], runC[c], v[c]);
                        kahan(sums[at], compensation[at], run[c]);
                    }
                }
            }
            expected.insert(expected.end(), sums.begin(), sums.end());
        }

        const auto check = [&](auto tag, bool ownMemory) {
            using T = decltype(tag);
            AreaTableRows<T> rows(*world);
            std::vector<T> made(rows.values(), rows.values() + stride), memory(stride * kHeight);
            for (A_long y = 0; y < kHeight; ++y) {
                if (ownMemory) rows.advance();
                else rows.advanceInto(memory.data() + std::size_t(y) * stride);
                made.insert(made.end(), rows.values(), rows.values() + stride);
            }
            int differing = 0;
            for (std::size_t k = 0; k < made.size(); ++k) {
                const double value = static_cast<double>(made[k]);
                if (std::memcmp(&value, &expected[k], sizeof value) != 0 && ++differing <= 3)
                    ADD_FAILURE() << "row " << k / stride << " entry " << k % stride << ": " << value << " vs "
                                  << expected[k] << (ownMemory ? " (own memory)" : " (caller's memory)");
            }
            EXPECT_EQ(differing, 0);
        };
        for (bool ownMemory : {true, false}) {
            if (depth == PixelDepth::Float) check(double{}, ownMemory);
            else check(std::uint64_t{}, ownMemory);
        }
    }
}

TEST(NarrowTableTest, BoxesOfAnySizeGiveTheExactSums) {
    // 700 x 600 crosses the exact rows and columns at 256 and 512; sums pass
    // 2^32 many times over.
    const auto world = brightWorld(700, 600, 300, 5);
    const AreaTable narrow(*world, 0, AreaTable::Storage::Whole);
    const AreaTable exact(*world, 0, AreaTable::Storage::Rolling); // 64-bit sums
    ASSERT_FALSE(narrow.rolling());

    std::mt19937 rng(6);
    std::uniform_real_distribution<double> x(-3.0, 703.0), y(-3.0, 603.0), r(0.0, 400.0);
    std::vector<Box> boxes;
    for (int i = 0; i < 3000; ++i) {
        const double cx = x(rng), cy = y(rng), rx = r(rng), ry = r(rng);
        boxes.push_back({cx - rx, cy - ry, cx + rx, cy + ry});
    }
    // Within the saturated corner: whole pixels of 257 x 257 cells still fit
    // 32 bits, one more column or row does not.
    boxes.push_back({10.5, 20.5, 267.5, 277.5});
    boxes.push_back({10.5, 20.5, 268.5, 277.5});
    boxes.push_back({10.5, 20.5, 267.5, 278.5});
    boxes.push_back({0, 0, 259, 259});
    expectSameSums(narrow, exact, boxes);

    std::uint64_t alpha = 0, red = 0;
    for (A_long j = 0; j < 600; ++j)
        for (A_long i = 0; i < 700; ++i) {
            const PF_Pixel &p = *world->pixel<PF_Pixel>(i, j);
            alpha += p.alpha;
            red += std::uint64_t{p.red} * p.alpha;
        }
    const BoxSums all = narrow.integrate(0, 0, 700, 600);
    EXPECT_EQ(all.alpha, static_cast<double>(alpha));
    EXPECT_EQ(all.red, static_cast<double>(red));
}

// A whole table of T made row by row, as the host makes it.
template <class T> std::vector<T> wholeRows(const HostWorld &world) {
    AreaTableRows<T> rows(world);
    std::vector<T> table(rows.values(), rows.values() + rows.stride());
    for (A_long j = 0; j < world.height(); ++j) {
        rows.advance();
        table.insert(table.end(), rows.values(), rows.values() + rows.stride());
    }
    return table;
}

// Random boxes by their edge cells, of at most `span` cells a side.
std::vector<TableBox> randomTableBoxes(A_long width, A_long height, A_long span, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    std::vector<TableBox> boxes;
    for (int i = 0; i < 2000; ++i) {
        const A_long a0 = std::uniform_int_distribution<A_long>(0, width - 1)(rng);
        const A_long b0 = std::uniform_int_distribution<A_long>(0, height - 1)(rng);
        const A_long a1 = std::min(width - 1, a0 + std::uniform_int_distribution<A_long>(0, span - 1)(rng));
        const A_long b1 = std::min(height - 1, b0 + std::uniform_int_distribution<A_long>(0, span - 1)(rng));
        boxes.push_back({{a0, fraction(rng)}, {a1, fraction(rng)}, {b0, fraction(rng)}, {b1, fraction(rng)}});
    }
    return boxes;
}

template <class T> int boxesDifferingBetweenBuilds(const T *table, A_long width, A_long height, A_long span) {
    int differing = 0;
    for (const TableBox &box : randomTableBoxes(width, height, span, 17)) {
        BoxSums v3;
        EXPECT_TRUE(headless::wholeTableBoxV3(table, width, box, v3));
        if (!sameBits(v3, headless::wholeTableBoxBaseline(table, width, box))) ++differing;
    }
    return differing;
}

// The kernels of a rolling window's rows, which read every value
// atomically, give the whole table's bits, on both builds.
template <class T, class Kernel>
int rowBoxesDifferingFromWhole(const T *table, A_long width, A_long height, Kernel v3) {
    const std::size_t stride = (std::size_t(width) + 1) * 4;
    int differing = 0;
    for (const TableBox &box : randomTableBoxes(width, height, width, 23)) {
        const T *const rows[4] = {table + std::size_t(box.top.cell) * stride, table + std::size_t(box.top.cell + 1) * stride,
                                  table + std::size_t(box.bottom.cell) * stride,
                                  table + std::size_t(box.bottom.cell + 1) * stride};
        const BoxSums whole = headless::wholeTableBoxBaseline(table, width, box);
        differing += !sameBits(headless::rowsBoxBaseline(rows, box), whole) || !sameBits(v3(rows, box), whole);
    }
    return differing;
}

TEST(AreaBoxBuildsTest, BaselineAndV3GiveTheSameBitsOnEveryKindOfTable) {
    BoxSums probe;
    const std::uint64_t none[4 * 4 * 4] = {};
    if (!headless::wholeTableBoxV3(none, 3, TableBox{{0, 0}, {2, 0}, {0, 0}, {2, 0}}, probe))
        GTEST_SKIP() << "this processor (or build) has no x86-64-v3 kernels";

    const auto bright = brightWorld(300, 280, 100, 3);
    const NarrowAreaTable narrow(*bright);
    // Boxes whose sums fit the words: 257 cells a side at most.
    EXPECT_EQ(boxesDifferingBetweenBuilds(narrow.words(), 300, 280, 257), 0);

    const auto sixteen = randomWorld(PixelDepth::Sixteen, 300, 280, 4);
    const std::vector<std::uint64_t> exact = wholeRows<std::uint64_t>(*sixteen);
    EXPECT_EQ(boxesDifferingBetweenBuilds(exact.data(), 300, 280, 300), 0);
    EXPECT_EQ(rowBoxesDifferingFromWhole(exact.data(), 300, 280, headless::rowsBoxV3<std::uint64_t>()), 0);

    const auto real = randomWorld(PixelDepth::Float, 300, 280, 5);
    const std::vector<double> sums = wholeRows<double>(*real);
    EXPECT_EQ(boxesDifferingBetweenBuilds(sums.data(), 300, 280, 300), 0);
    EXPECT_EQ(rowBoxesDifferingFromWhole(sums.data(), 300, 280, headless::rowsBoxV3<double>()), 0);
}

// Boxes whose edges fall in neighbouring columns and rows are summed from
// their four pixels, in tables held whole and rolling alike: the same bits
// as the table's entries give, on the build's own instruction set and on
// x86-64-v3 alike. Edges on cell borders, and boxes at the last column and
// row, included.
TEST(QuadBoxTest, FourPixelBoxesGiveTheTablesBits) {
    for (PixelDepth depth : {PixelDepth::Eight, PixelDepth::Sixteen}) {
        SCOPED_TRACE(depth == PixelDepth::Eight ? "8-bit" : "16-bit");
        const auto world = randomWorld(depth, 83, 67, 9);
        const AreaTable whole(*world, 0, AreaTable::Storage::Whole);
        const AreaTable rolling(*world, 0, AreaTable::Storage::Rolling);
        std::mt19937 rng(10);
        std::uniform_int_distribution<A_long> column(0, 81), row(0, 65);
        std::uniform_real_distribution<double> fraction(0.0, 1.0);
        std::vector<Box> boxes;
        std::vector<TableBox> cells;
        for (int i = 0; i < 4000; ++i) {
            const A_long a = i == 0 ? 81 : column(rng), b = i == 0 ? 65 : row(rng);
            double s0 = fraction(rng), s1 = fraction(rng), t0 = fraction(rng), t1 = fraction(rng);
            if (i % 7 == 1) s0 = 0, t1 = 1; // on cell borders
            boxes.push_back({a + s0, b + t0, a + 1 + s1, b + 1 + t1});
            cells.push_back({{a, s0}, {a + 1, s1}, {b, t0}, {b + 1, t1}});
        }
        expectSameSums(whole, rolling, boxes);

        const std::vector<std::uint64_t> entries = wholeRows<std::uint64_t>(*world);
        const headless::QuadBoxKernel v3 = headless::quadBoxV3();
        int differing = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const BoxSums fromEntries = headless::wholeTableBoxBaseline(entries.data(), 83, cells[i]);
            differing += !sameBits(headless::quadBoxBaseline(*world, cells[i]), fromEntries);
            differing += v3 && !sameBits(v3(*world, cells[i]), fromEntries);
        }
        EXPECT_EQ(differing, 0);
    }
}

// The four-pixel kernels are exact for every channel value: 16-bit colour
// times alpha passes 2^31 above 32768 (60000 x 60000 is 3 600 000 000), on
// the build's own kernel and the x86-64-v3 one alike. A box of one whole
// pixel sums that pixel, one of 2 x 2 whole pixels four times it.
TEST(QuadBoxTest, ExactOverTheWholeSixteenBitRange) {
    struct Case {
        PixelDepth depth;
        A_u_short alpha, red, green, blue;
    };
    const Case cases[] = {{PixelDepth::Sixteen, 60000, 60000, 100, 32768},
                          {PixelDepth::Sixteen, 65535, 65535, 32769, 0},
                          {PixelDepth::Sixteen, 32769, 1, 65535, 40000},
                          {PixelDepth::Eight, 255, 255, 128, 0}};
    std::vector<std::pair<const char *, headless::QuadBoxKernel>> kernels = {{"baseline", headless::quadBoxBaseline}};
    if (headless::QuadBoxKernel v3 = headless::quadBoxV3()) kernels.push_back({"x86-64-v3", v3});
    for (const auto &[name, kernel] : kernels)
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(name) + " alpha " + std::to_string(c.alpha) + " red " + std::to_string(c.red));
            HostWorld world(c.depth, 2, 2);
            for (A_long y = 0; y < 2; ++y)
                for (A_long x = 0; x < 2; ++x)
                    if (c.depth == PixelDepth::Sixteen) *world.pixel<PF_Pixel16>(x, y) = {c.alpha, c.red, c.green, c.blue};
                    else *world.pixel<PF_Pixel>(x, y) = {A_u_char(c.alpha), A_u_char(c.red), A_u_char(c.green), A_u_char(c.blue)};
            world.pixelsChanged();
            const double a = c.alpha;
            for (double pixels : {1.0, 4.0}) {
                const double side = pixels == 1.0 ? 0.0 : 1.0; // covered fraction of the second cell
                const BoxSums sums = kernel(world, TableBox{{0, 0.0}, {1, side}, {0, 0.0}, {1, side}});
                EXPECT_EQ(sums.alpha, pixels * a);
                EXPECT_EQ(sums.red, pixels * c.red * a);
                EXPECT_EQ(sums.green, pixels * c.green * a);
                EXPECT_EQ(sums.blue, pixels * c.blue * a);
            }
        }
}

// Boxes whose edges fall one to three columns and rows apart are summed from
// their at most 16 pixels: for every such span the same bits as the table's
// entries give, on the build's own instruction set and on x86-64-v3 alike,
// with channel values over the whole 8-bit and 16-bit ranges (16-bit colour
// times alpha passes 2^31), edges on cell borders and boxes at the last
// column and row included.
TEST(FewPixelBoxTest, EverySpanUpToThreeCellsGivesTheTablesBits) {
    constexpr A_long kWidth = 37, kHeight = 29;
    std::vector<std::pair<const char *, headless::FewBoxKernel>> kernels = {{"baseline", headless::fewBoxBaseline}};
    if (headless::FewBoxKernel v3 = headless::fewBoxV3()) kernels.push_back({"x86-64-v3", v3});
    for (PixelDepth depth : {PixelDepth::Eight, PixelDepth::Sixteen}) {
        HostWorld world(depth, kWidth, kHeight);
        std::mt19937 rng(depth == PixelDepth::Eight ? 41 : 42);
        std::uniform_int_distribution<int> value(0, depth == PixelDepth::Eight ? 255 : 65535);
        for (A_long y = 0; y < kHeight; ++y)
            for (A_long x = 0; x < kWidth; ++x) {
                const int a = (x + y) % 5 ? value(rng) : (depth == PixelDepth::Eight ? 255 : 65535);
                if (depth == PixelDepth::Eight)
                    *world.pixel<PF_Pixel>(x, y) = {A_u_char(a), A_u_char(value(rng)), A_u_char(value(rng)), A_u_char(value(rng))};
                else
                    *world.pixel<PF_Pixel16>(x, y) = {A_u_short(a), A_u_short(value(rng)), A_u_short(value(rng)), A_u_short(value(rng))};
            }
        world.pixelsChanged();
        const std::vector<std::uint64_t> entries = wholeRows<std::uint64_t>(world);
        std::uniform_real_distribution<double> fraction(0.0, 1.0);
        for (A_long columns = 1; columns <= 3; ++columns)
            for (A_long rows = 1; rows <= 3; ++rows) {
                std::uniform_int_distribution<A_long> left(0, kWidth - 1 - columns), top(0, kHeight - 1 - rows);
                int differing = 0;
                for (int i = 0; i < 300; ++i) {
                    const A_long a = i == 0 ? kWidth - 1 - columns : left(rng), b = i == 0 ? kHeight - 1 - rows : top(rng);
                    double s0 = fraction(rng), s1 = fraction(rng), t0 = fraction(rng), t1 = fraction(rng);
                    if (i % 5 == 1) s0 = 0, t1 = 1; // on cell borders
                    if (i == 0) s1 = t1 = 1;         // to the world's last column and row
                    const TableBox box{{a, s0}, {a + columns, s1}, {b, t0}, {b + rows, t1}};
                    const BoxSums fromEntries = headless::wholeTableBoxBaseline(entries.data(), kWidth, box);
                    for (const auto &kernel : kernels) differing += !sameBits(kernel.second(world, box), fromEntries);
                }
                EXPECT_EQ(differing, 0) << (depth == PixelDepth::Eight ? "8" : "16") << "-bit, " << columns << " x "
                                        << rows << " cells";
            }
    }
}

// The area filter a table gives in one call is the filter of its sums, bit
// for bit, for every kind of table: boxes of one pixel about pixel centres
// and between them (the four-pixel boxes), boxes a pixel or two across
// (summed from their pixels), large ones, and ones reaching outside the
// world or lying wholly outside it.
TEST(AreaTableFilterTest, IsTheFilterOfTheTablesSums) {
    auto bitsOf = [](const PF_PixelFloat &p) {
        std::uint32_t bits[4];
        std::memcpy(bits, &p, sizeof bits);
        return std::vector<std::uint32_t>(bits, bits + 4);
    };
    for (PixelDepth depth : {PixelDepth::Eight, PixelDepth::Sixteen, PixelDepth::Float})
        for (AreaTable::Storage storage : {AreaTable::Storage::Whole, AreaTable::Storage::Rolling}) {
            SCOPED_TRACE(std::to_string(int(depth)) + (storage == AreaTable::Storage::Whole ? " whole" : " rolling"));
            const auto world = randomWorld(depth, 71, 59, 31);
            const AreaTable table(*world, 0, storage);
            std::mt19937 rng(32);
            std::uniform_real_distribution<double> x(-50.0, 120.0), y(-50.0, 110.0), r(0.5, 30.0), small(0.5, 2.0);
            std::uniform_int_distribution<int> pixel(-1, 72);
            int differing = 0;
            for (int i = 0; i < 6000; ++i) {
                double cx = x(rng), cy = y(rng), rx = r(rng), ry = r(rng);
                if (i % 3 == 0) rx = ry = 0.5;                        // one pixel's box
                if (i % 3 == 1) rx = small(rng), ry = small(rng);     // a few pixels' box
                if (i % 6 == 0) cx = pixel(rng), cy = pixel(rng);     // about a pixel centre
                const PF_PixelFloat expected = headless::resolveBox(
                    table.integrate(cx - rx + 0.5, cy - ry + 0.5, cx + rx + 0.5, cy + ry + 0.5), 4.0 * rx * ry,
                    table.alphaNoise(), table.fullIntensity());
                if (bitsOf(table.filter(cx, cy, rx, ry)) != bitsOf(expected) && ++differing <= 3)
                    ADD_FAILURE() << "at " << cx << ", " << cy << " radii " << rx << ", " << ry;
            }
            EXPECT_EQ(differing, 0);
        }
}

TEST(RollingTableMemoryTest, ASweepHoldsTheRowsItsBoxesSpanNotTheWorld) {
    const auto world = randomWorld(PixelDepth::Float, 40, 3000, 9);
    const AreaTable table(*world, 0, AreaTable::Storage::Rolling);
    // Boxes of radius up to 24 rows: each row's samples reach 48 rows.
    for (const Box &box : sweepBoxes(40, 3000, 24.0, 13)) table.integrate(box.x0, box.y0, box.x1, box.y1);
    EXPECT_LE(table.rowsHeld(), 100u);
    EXPECT_GE(table.rowsHeld(), 48u);
}

// The next frame's window over a world of the same width takes the memory
// the last one left (written already, so no page is new to the system), and
// gets the same sums from it; what the cache holds stays within its bound.
TEST(RollingTableMemoryTest, AWindowTakesTheMemoryTheLastOneLeft) {
    headless::SpareMemory &rows = headless::rollingRowMemory();
    const auto world = randomWorld(PixelDepth::Sixteen, 64, 900, 5);
    const auto boxes = sweepBoxes(64, 900, 12.0, 7);
    const AreaTable whole(*world, 0, AreaTable::Storage::Whole);
    rows.releaseAll();
    std::size_t heldAfterFirst = 0;
    for (int frame = 0; frame < 2; ++frame) {
        {
            const AreaTable rolling(*world, 0, AreaTable::Storage::Rolling);
            expectSameSums(whole, rolling, boxes);
            if (frame == 1) {
                EXPECT_EQ(rows.heldBytes(), 0u);
            }
        }
        if (frame == 0) heldAfterFirst = rows.heldBytes();
    }
    EXPECT_GT(heldAfterFirst, 0u);

    // A block of one size never serves another; past the bound, blocks go.
    void *block = rows.take(4096);
    rows.give(block, 4096);
    void *other = rows.take(8192);
    EXPECT_NE(other, block);
    EXPECT_EQ(rows.take(4096), block);
    rows.give(block, 4096);
    rows.give(other, 8192);
    std::vector<void *> many;
    for (std::size_t bytes = 0; bytes <= headless::kRollingRowMemoryBytes; bytes += 1 << 20)
        many.push_back(rows.take(1 << 20));
    for (void *b : many) rows.give(b, 1 << 20);
    EXPECT_LE(rows.heldBytes(), headless::kRollingRowMemoryBytes);
    rows.releaseAll();
    EXPECT_EQ(rows.heldBytes(), 0u);
}

// Two sweeps 150 rows apart, as two threads in neighbouring stretches read:
// the first window of a size finds out how wide it must be and starts again
// from a checkpoint; the next window of that size starts that wide, with no
// rows made twice, and reads the same rows. A window wider than a quarter of
// the table (sweeps 400 rows apart) is not taken over: it would hold that
// many rows in every later frame.
TEST(RollingTableMemoryTest, TheNextWindowOfASizeStartsAsWideAsTheLastGrew) {
    const auto world = randomWorld(PixelDepth::Eight, 50, 811, 3);
    std::vector<std::vector<std::uint64_t>> wholeRows;
    {
        AreaTableRows<std::uint64_t> maker(*world);
        wholeRows.emplace_back(maker.values(), maker.values() + maker.stride());
        for (A_long y = 0; y < world->height(); ++y) {
            maker.advance();
            wholeRows.emplace_back(maker.values(), maker.values() + maker.stride());
        }
    }
    const std::size_t stride = wholeRows[0].size();
    for (const A_long apart : {150, 400}) {
        long restarts[2] = {};
        for (int frame = 0; frame < 2; ++frame) {
            const headless::RollingRows<std::uint64_t> rows(*world);
            int differing = 0;
            for (A_long y = 0; y + apart + 3 <= world->height(); ++y)
                for (const A_long top : {y, y + apart}) {
                    const A_long wanted[4] = {top, top + 1, top + 2, top + 3};
                    rows.read(wanted, [&](const std::uint64_t *r0, const std::uint64_t *, const std::uint64_t *,
                                          const std::uint64_t *r3) {
                        differing += !std::equal(r0, r0 + stride, wholeRows[top].begin()) ||
                                     !std::equal(r3, r3 + stride, wholeRows[top + 3].begin());
                        return 0;
                    });
                }
            EXPECT_EQ(differing, 0) << apart << " apart, frame " << frame;
            restarts[frame] = rows.restarts();
        }
        EXPECT_GT(restarts[0], 0) << apart << " apart";
        if (apart == 150) EXPECT_EQ(restarts[1], 0);
        else EXPECT_GT(restarts[1], 0);
    }
}

TEST(RollingTableMemoryTest, LargeTablesRollAndSmallOnesAreWhole) {
    HostWorld large(PixelDepth::Float, 1920, 1080);
    HostWorld largeEight(PixelDepth::Eight, 1920, 1080); // its words alone would be 33 MB
    HostWorld small(PixelDepth::Eight, 512, 512);
    EXPECT_TRUE(large.areaTable().rolling());
    EXPECT_TRUE(largeEight.areaTable().rolling());
    EXPECT_FALSE(small.areaTable().rolling());
    EXPECT_EQ(small.areaTable().rowsHeld(), 513u);
    // A table that rolls makes nothing before it is read.
    EXPECT_EQ(large.areaTable().rowsHeld(), 0u);
}

} // namespace
