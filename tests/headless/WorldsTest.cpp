// Host-owned worlds: storage and description, the "AEGP World Suite" 3 and
// "PF World Suite" 2 the effect makes its worlds with, the register that
// finds worlds by description, and when a world's pixels count as changed.
#include "headless/images/AreaTable.h"
#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"
#include "headless/boundary/WorldSuites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

using headless::Host;
using headless::HostWorld;
using headless::Ledger;
using headless::PixelDepth;
using headless::RowRanges;
using headless::WorkerPool;
using headless::WorldAccess;
using headless::WorldFill;

namespace {

const PixelDepth kDepths[] = {PixelDepth::Eight, PixelDepth::Sixteen, PixelDepth::Float};

std::size_t problemsMentioning(const Ledger &ledger, const std::string &text) {
    std::size_t n = 0;
    for (const std::string &problem : ledger.problems()) n += problem.find(text) != std::string::npos;
    return n;
}

// ---- storage ------------------------------------------------------------------------

TEST(HostWorldTest, DescriptionAndPaddedRows) {
    for (PixelDepth depth : kDepths) {
        SCOPED_TRACE(static_cast<int>(depth));
        HostWorld world(depth, 7, 3);
        const PF_EffectWorld &desc = world.effectWorld();
        const A_long bpp = static_cast<A_long>(world.bytesPerPixel());
        EXPECT_EQ(bpp, depth == PixelDepth::Eight ? 4 : depth == PixelDepth::Sixteen ? 8 : 16);
        EXPECT_EQ(desc.width, 7);
        EXPECT_EQ(desc.height, 3);
        EXPECT_GT(desc.rowbytes, 7 * bpp) << "rows are padded";
        EXPECT_EQ(desc.rowbytes % 16, 0);
        EXPECT_EQ(desc.extent_hint.right, 7);
        EXPECT_EQ(desc.extent_hint.bottom, 3);
        EXPECT_EQ(desc.pix_aspect_ratio.num, 1);
        EXPECT_EQ(desc.pix_aspect_ratio.den, 1u);
        EXPECT_EQ((desc.world_flags & PF_WorldFlag_DEEP) != 0, depth == PixelDepth::Sixteen);
        EXPECT_EQ(headless::pixelFormatOf(depth),
                  depth == PixelDepth::Eight     ? PF_PixelFormat_ARGB32
                  : depth == PixelDepth::Sixteen ? PF_PixelFormat_ARGB64
                                                 : PF_PixelFormat_ARGB128);

        // Every pixel is where data + y * rowbytes + x * bpp says.
        auto *base = static_cast<std::byte *>(desc.data);
        EXPECT_EQ(world.row(2), base + 2 * desc.rowbytes);
        EXPECT_EQ(world.row(3), nullptr);
        EXPECT_EQ(world.row(-1), nullptr);
    }
    HostWorld world(PixelDepth::Sixteen, 5, 4);
    auto *base = static_cast<std::byte *>(world.effectWorld().data);
    EXPECT_EQ(reinterpret_cast<std::byte *>(world.pixel<PF_Pixel16>(4, 3)), base + 3 * world.rowbytes() + 4 * 8);
    EXPECT_EQ(world.pixel<PF_Pixel16>(5, 0), nullptr);
    EXPECT_EQ(world.pixel<PF_Pixel16>(0, 4), nullptr);
    EXPECT_EQ(world.pixel<PF_Pixel16>(-1, 0), nullptr);
    EXPECT_EQ(world.pixel<PF_Pixel>(0, 0), nullptr) << "not this world's pixel type";
}

TEST(HostWorldTest, FreshContentIsClearOrConspicuousGarbage) {
    HostWorld clear(PixelDepth::Float, 3, 2, WorldFill::Clear);
    EXPECT_EQ(clear.pixel<PF_PixelFloat>(2, 1)->alpha, 0.0f);

    HostWorld eight(PixelDepth::Eight, 3, 2, WorldFill::Garbage);
    EXPECT_EQ(eight.pixel<PF_Pixel>(1, 1)->red, 0xA5);
    HostWorld sixteen(PixelDepth::Sixteen, 3, 2, WorldFill::Garbage);
    EXPECT_GT(sixteen.pixel<PF_Pixel16>(1, 1)->green, 32768) << "out of range, so it shows";
    HostWorld real(PixelDepth::Float, 3, 2, WorldFill::Garbage);
    EXPECT_TRUE(std::isnan(real.pixel<PF_PixelFloat>(2, 1)->blue));
    // The padding after the last pixel of a row is garbage too.
    const std::byte *pad = real.row(0) + 3 * sizeof(PF_PixelFloat);
    EXPECT_EQ(static_cast<unsigned>(*pad), 0xA5u);
}

TEST(HostWorldTest, AWorldFilledByThePoolsRangesHoldsTheBytesOfOneFilledWhole) {
    // The ranges cover every row once whatever their count against the
    // threads'; the world's bytes, row padding included, are those of the
    // same world filled by one thread. Sizes on both sides of the smallest
    // world filled in ranges, and fewer rows than ranges.
    for (int threads : {1, 3}) {
        WorkerPool pool(threads);
        for (A_long count : {0, 1, 2, 5, 1081}) {
            std::vector<int> seen(static_cast<std::size_t>(count));
            pool.forRanges(count, [&](A_long first, A_long end) {
                for (A_long i = first; i < end; ++i) ++seen[static_cast<std::size_t>(i)];
            });
            EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), count) << threads << " threads, " << count;
        }
        const RowRanges ranges = [&](A_long rows, const std::function<void(A_long, A_long)> &work) {
            pool.forRanges(rows, work);
        };
        for (PixelDepth depth : kDepths)
            for (WorldFill fill : {WorldFill::Garbage, WorldFill::Clear})
                for (auto [width, height] : {std::pair<A_long, A_long>{1920, 1080}, {700, 3}, {3, 2}, {0, 9}}) {
                    const HostWorld whole(depth, width, height, fill), inRanges(depth, width, height, fill, ranges);
                    for (A_long y = 0; y < height; ++y)
                        ASSERT_EQ(std::memcmp(whole.row(y), inRanges.row(y), std::size_t(whole.rowbytes())), 0)
                            << int(depth) << " " << width << " x " << height << ", row " << y;
                }
    }
}

TEST(HostWorldTest, AFramesWorldsOfSeveralSizesReuseTheirMemory) {
    // Frame after frame the output, and the worlds an effect makes for itself
    // (a depth-of-field render's side buffers), have the same sizes: two
    // sizes, several of each, made and let go. The next frame takes every
    // block back, but never with the last frame's pixels in it (garbage, or
    // cleared); a world of a size none of them has lets them all go, and
    // small worlds are never kept.
    HostWorld::releaseSpareStorage();
    const auto frame = [](std::vector<const void *> &blocks, std::size_t &keptWhileMade) {
        std::vector<std::unique_ptr<HostWorld>> worlds;
        for (PixelDepth depth : {PixelDepth::Sixteen, PixelDepth::Sixteen, PixelDepth::Eight, PixelDepth::Eight})
            worlds.push_back(std::make_unique<HostWorld>(depth, 1024, 768, WorldFill::Garbage));
        worlds.push_back(std::make_unique<HostWorld>(PixelDepth::Eight, 16, 16, WorldFill::Garbage));
        keptWhileMade = HostWorld::spareBlocks();
        for (const auto &world : worlds) {
            blocks.push_back(world->effectWorld().data);
            EXPECT_EQ(*static_cast<const unsigned char *>(world->effectWorld().data), 0xA5);
            std::memset(world->effectWorld().data, 0, 16); // this frame's pixels
        }
    };
    std::vector<const void *> first, second;
    std::size_t kept = 0;
    frame(first, kept);
    EXPECT_EQ(HostWorld::spareBlocks(), 4u);
    frame(second, kept);
    EXPECT_EQ(kept, 0u) << "the second frame took every kept block";
    first.pop_back(), second.pop_back(); // the small world's
    std::sort(first.begin(), first.end());
    std::sort(second.begin(), second.end());
    EXPECT_EQ(first, second);
    {
        HostWorld cleared(PixelDepth::Eight, 1024, 768, WorldFill::Clear);
        EXPECT_EQ(std::count(second.begin(), second.end(), cleared.effectWorld().data), 1);
        EXPECT_EQ(cleared.pixel<PF_Pixel>(7, 0)->alpha, 0);
    }
    ASSERT_EQ(HostWorld::spareBlocks(), 4u);
    { HostWorld other(PixelDepth::Eight, 1000, 700, WorldFill::Garbage); }
    EXPECT_EQ(HostWorld::spareBlocks(), 1u) << "only the new size's block";
}

TEST(HostWorldTest, SizesAreChecked) {
    EXPECT_THROW(HostWorld(PixelDepth::Eight, -1, 4), std::invalid_argument);
    EXPECT_THROW(HostWorld(PixelDepth::Eight, 4, HostWorld::kMaxSide + 1), std::invalid_argument);
    HostWorld a(PixelDepth::Float, 0, 0), b(PixelDepth::Float, 0, 0);
    EXPECT_NE(a.effectWorld().data, nullptr);
    EXPECT_NE(a.effectWorld().data, b.effectWorld().data) << "an empty world still has its own address";
    EXPECT_EQ(a.pixel<PF_PixelFloat>(0, 0), nullptr);
}

TEST(HostWorldTest, TablesFollowTheGeneration) {
    HostWorld world(PixelDepth::Eight, 4, 4);
    EXPECT_TRUE(world.fill(PF_Pixel{255, 10, 20, 30}));
    EXPECT_FALSE(world.fill(PF_Pixel16{1, 1, 1, 1}));

    const headless::AreaTable &first = world.areaTable();
    EXPECT_EQ(&world.areaTable(), &first) << "one table per generation";
    EXPECT_EQ(world.tableBuilds(), 1);
    EXPECT_DOUBLE_EQ(first.integrate(0, 0, 4, 4).red, 16 * 10 * 255.0);

    world.pixel<PF_Pixel>(0, 0)->red = 110; // a plain write does not move the generation...
    EXPECT_EQ(&world.areaTable(), &first);
    world.pixelsChanged(); // ...saying so does
    const headless::AreaTable &second = world.areaTable();
    EXPECT_EQ(world.tableBuilds(), 2);
    EXPECT_DOUBLE_EQ(second.integrate(0, 0, 4, 4).red, (15 * 10 + 110) * 255.0);
    EXPECT_DOUBLE_EQ(first.integrate(0, 0, 4, 4).red, 16 * 10 * 255.0) << "the stale table lives on";

    HostWorld copy(PixelDepth::Eight, 4, 4);
    copy.areaTable();
    EXPECT_TRUE(copy.copyPixelsFrom(world));
    EXPECT_DOUBLE_EQ(copy.areaTable().integrate(0, 0, 1, 1).red, 110 * 255.0);
    EXPECT_FALSE(copy.copyPixelsFrom(HostWorld(PixelDepth::Eight, 4, 5)));

    world.dropStaleTables();
    EXPECT_EQ(&world.areaTable(), &second);
    EXPECT_EQ(world.tableBuilds(), 2);

    world.pixel<PF_Pixel>(0, 0)->red = 10;
    world.pixelsChanged();
    world.dropStaleTables(); // the current table is stale now as well
    EXPECT_DOUBLE_EQ(world.areaTable().integrate(0, 0, 4, 4).red, 16 * 10 * 255.0);
    EXPECT_EQ(world.tableBuilds(), 3);
}

// ---- the world suites -----------------------------------------------------------

struct WorldSuitesTest : ::testing::Test {
    Host host;
    SPBasicSuite &basic = *host.inData()->pica_basicP;

    const AEGP_WorldSuite3 *aegp() {
        const void *suite = nullptr;
        EXPECT_EQ(basic.AcquireSuite("AEGP World Suite", 3, &suite), kSPNoError);
        basic.ReleaseSuite("AEGP World Suite", 3);
        return static_cast<const AEGP_WorldSuite3 *>(suite);
    }
    const PF_WorldSuite2 *pf() {
        const void *suite = nullptr;
        EXPECT_EQ(basic.AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite), kSPNoError);
        basic.ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        return static_cast<const PF_WorldSuite2 *>(suite);
    }
};

TEST_F(WorldSuitesTest, AegpWorldsOfEveryTypeAreCountedUntilDisposed) {
    const AEGP_WorldSuite3 &suite = *aegp();
    const AEGP_WorldType types[] = {AEGP_WorldType_8, AEGP_WorldType_16, AEGP_WorldType_32};
    AEGP_WorldH handles[3] = {};
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(suite.AEGP_New(1, types[n], 33 + n, 17, &handles[n]), A_Err_NONE);
        ASSERT_NE(handles[n], nullptr);
    }
    EXPECT_NE(handles[0], handles[1]);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 3);

    for (int n = 0; n < 3; ++n) {
        AEGP_WorldType type = AEGP_WorldType_NONE;
        A_long width = 0, height = 0;
        EXPECT_EQ(suite.AEGP_GetType(handles[n], &type), A_Err_NONE);
        EXPECT_EQ(type, types[n]);
        EXPECT_EQ(suite.AEGP_GetSize(handles[n], &width, &height), A_Err_NONE);
        EXPECT_EQ(width, 33 + n);
        EXPECT_EQ(height, 17);

        PF_EffectWorld desc;
        std::memset(&desc, 0xCC, sizeof desc);
        EXPECT_EQ(suite.AEGP_FillOutPFEffectWorld(handles[n], &desc), A_Err_NONE);
        EXPECT_EQ(desc.width, 33 + n);
        EXPECT_EQ(desc.height, 17);
        EXPECT_GE(desc.rowbytes, (33 + n) * (n == 0 ? 4 : n == 1 ? 8 : 16));
        EXPECT_EQ((desc.world_flags & PF_WorldFlag_DEEP) != 0, n == 1);
        EXPECT_NE(desc.world_flags & PF_WorldFlag_WRITEABLE, 0);
        // The effect writes its whole world: the last pixel of the last row.
        auto *last = static_cast<std::byte *>(desc.data) + 16 * desc.rowbytes;
        std::memset(last, 0, static_cast<std::size_t>(desc.width) * (n == 0 ? 4 : n == 1 ? 8 : 16));
    }
    for (AEGP_WorldH handle : handles) EXPECT_EQ(suite.AEGP_Dispose(handle), A_Err_NONE);
    EXPECT_EQ(host.worlds().liveCount(), 0u);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(WorldSuitesTest, AegpRefusesBadRequestsWithoutMakingAWorld) {
    const AEGP_WorldSuite3 &suite = *aegp();
    AEGP_WorldH handle = reinterpret_cast<AEGP_WorldH>(0x1234);
    EXPECT_EQ(suite.AEGP_New(1, 4, 10, 10, &handle), A_Err_PARAMETER);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(suite.AEGP_New(1, AEGP_WorldType_NONE, 10, 10, &handle), A_Err_PARAMETER);
    EXPECT_EQ(suite.AEGP_New(1, AEGP_WorldType_8, 0, 10, &handle), A_Err_PARAMETER);
    EXPECT_EQ(suite.AEGP_New(1, AEGP_WorldType_8, 10, -3, &handle), A_Err_PARAMETER);
    EXPECT_EQ(suite.AEGP_New(1, AEGP_WorldType_8, HostWorld::kMaxSide + 1, 1, &handle), A_Err_PARAMETER);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
    EXPECT_TRUE(host.ledger().empty()) << "refusals are not misuse: " << host.ledger().report();

    EXPECT_EQ(suite.AEGP_New(1, AEGP_WorldType_8, 10, 10, nullptr), A_Err_PARAMETER);
    EXPECT_EQ(problemsMentioning(host.ledger(), "AEGP_New: null"), 1u);
}

TEST_F(WorldSuitesTest, UnknownAndDisposedHandlesAreProblemsNotCrashes) {
    const AEGP_WorldSuite3 &suite = *aegp();
    AEGP_WorldH handle = nullptr;
    ASSERT_EQ(suite.AEGP_New(1, AEGP_WorldType_16, 4, 4, &handle), A_Err_NONE);
    ASSERT_EQ(suite.AEGP_Dispose(handle), A_Err_NONE);

    EXPECT_EQ(suite.AEGP_Dispose(handle), A_Err_PARAMETER);
    EXPECT_EQ(problemsMentioning(host.ledger(), "AEGP_Dispose: world handle already disposed of"), 1u)
        << host.ledger().report();

    int local = 0;
    AEGP_WorldH foreign = reinterpret_cast<AEGP_WorldH>(&local);
    EXPECT_EQ(suite.AEGP_Dispose(foreign), A_Err_PARAMETER);
    EXPECT_EQ(suite.AEGP_Dispose(nullptr), A_Err_PARAMETER);
    EXPECT_EQ(problemsMentioning(host.ledger(), "AEGP_Dispose: unknown world handle"), 2u);

    AEGP_WorldType type = AEGP_WorldType_32;
    A_long width = 9, height = 9;
    PF_EffectWorld desc;
    std::memset(&desc, 0xCC, sizeof desc);
    EXPECT_EQ(suite.AEGP_GetType(handle, &type), A_Err_PARAMETER);
    EXPECT_EQ(type, AEGP_WorldType_NONE);
    EXPECT_EQ(suite.AEGP_GetSize(handle, &width, &height), A_Err_PARAMETER);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(suite.AEGP_FillOutPFEffectWorld(handle, &desc), A_Err_PARAMETER);
    EXPECT_EQ(desc.data, nullptr);
    EXPECT_EQ(desc.width, 0);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
}

TEST_F(WorldSuitesTest, PfWorldsKnowTheirPixelFormat) {
    const PF_WorldSuite2 &suite = *pf();
    PF_ProgPtr ref = host.effectRef();
    const PF_PixelFormat formats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128};
    PF_EffectWorld worlds[3];
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(suite.PF_NewWorld(ref, 5, 6, true, formats[n], &worlds[n]), PF_Err_NONE);
        EXPECT_EQ(worlds[n].width, 5);
        EXPECT_EQ(worlds[n].height, 6);
        // Cleared on request: the last byte of the last pixel is 0.
        const auto *last = static_cast<const unsigned char *>(worlds[n].data) + 5 * worlds[n].rowbytes;
        EXPECT_EQ(last[5 * (4 << n) - 1], 0);

        PF_EffectWorld copy = worlds[n]; // the effect keeps copies of descriptions
        PF_PixelFormat format = 0;
        EXPECT_EQ(suite.PF_GetPixelFormat(&copy, &format), PF_Err_NONE);
        EXPECT_EQ(format, formats[n]);
    }
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 3);

    PF_EffectWorld stale = worlds[1];
    for (PF_EffectWorld &world : worlds) {
        EXPECT_EQ(suite.PF_DisposeWorld(ref, &world), PF_Err_NONE);
        EXPECT_EQ(world.data, nullptr) << "the description is cleared";
    }
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    EXPECT_EQ(suite.PF_DisposeWorld(ref, &worlds[0]), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite.PF_DisposeWorld(ref, &stale), PF_Err_BAD_CALLBACK_PARAM);
    PF_PixelFormat format = 0;
    EXPECT_EQ(suite.PF_GetPixelFormat(&stale, &format), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(format, PF_PixelFormat_INVALID);
    EXPECT_EQ(host.ledger().problems().size(), 3u) << host.ledger().report();
}

TEST_F(WorldSuitesTest, PfRefusesBadRequests) {
    const PF_WorldSuite2 &suite = *pf();
    PF_EffectWorld world;
    EXPECT_EQ(suite.PF_NewWorld(host.effectRef(), 5, 5, false, PF_PixelFormat_INVALID, &world),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite.PF_NewWorld(host.effectRef(), 0, 5, false, PF_PixelFormat_ARGB32, &world),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(world.data, nullptr);
    int local = 0;
    EXPECT_EQ(suite.PF_NewWorld(reinterpret_cast<PF_ProgPtr>(&local), 5, 5, false, PF_PixelFormat_ARGB32, &world),
              PF_Err_BAD_CALLBACK_PARAM)
        << "a foreign effect reference";
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
    EXPECT_EQ(suite.PF_GetPixelFormat(nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.ledger().problems().size(), 1u) << host.ledger().report();
}

TEST_F(WorldSuitesTest, EachSuiteDisposesOnlyItsOwnWorlds) {
    AEGP_WorldH handle = nullptr;
    ASSERT_EQ(aegp()->AEGP_New(1, AEGP_WorldType_8, 4, 4, &handle), A_Err_NONE);
    PF_EffectWorld desc;
    ASSERT_EQ(aegp()->AEGP_FillOutPFEffectWorld(handle, &desc), A_Err_NONE);
    EXPECT_EQ(pf()->PF_DisposeWorld(host.effectRef(), &desc), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(problemsMentioning(host.ledger(), "made by AEGP_New"), 1u) << host.ledger().report();
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 1) << "still live";

    PF_EffectWorld mangled = desc; // a damaged description of a PF world
    ASSERT_EQ(pf()->PF_NewWorld(host.effectRef(), 4, 4, false, PF_PixelFormat_ARGB32, &mangled), PF_Err_NONE);
    PF_EffectWorld good = mangled;
    mangled.rowbytes += 16;
    EXPECT_EQ(pf()->PF_DisposeWorld(host.effectRef(), &mangled), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pf()->PF_DisposeWorld(host.effectRef(), &good), PF_Err_NONE);
    EXPECT_EQ(aegp()->AEGP_Dispose(handle), A_Err_NONE);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
}

TEST_F(WorldSuitesTest, FaultsFailCreationAndFormatQueries) {
    host.faults().arm(headless::service::kNewWorld, 2, PF_Err_OUT_OF_MEMORY, "AEGP_New");
    AEGP_WorldH first = nullptr, second = nullptr;
    PF_EffectWorld desc;
    EXPECT_EQ(pf()->PF_NewWorld(host.effectRef(), 2, 2, true, PF_PixelFormat_ARGB32, &desc), PF_Err_NONE)
        << "another function: not counted by a fault on AEGP_New";
    EXPECT_EQ(aegp()->AEGP_New(1, AEGP_WorldType_8, 2, 2, &first), A_Err_NONE);
    EXPECT_EQ(aegp()->AEGP_New(1, AEGP_WorldType_8, 2, 2, &second), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(host.faults().calls(headless::service::kNewWorld, "AEGP_New"), 2);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 2);

    host.faults().arm(headless::service::kGetPixelFormat, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    PF_PixelFormat format = 0;
    EXPECT_EQ(pf()->PF_GetPixelFormat(&desc, &format), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(format, PF_PixelFormat_INVALID);
    EXPECT_EQ(pf()->PF_GetPixelFormat(&desc, &format), PF_Err_NONE);

    EXPECT_EQ(aegp()->AEGP_Dispose(first), A_Err_NONE);
    EXPECT_EQ(pf()->PF_DisposeWorld(host.effectRef(), &desc), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(WorldSuitesTest, WorldsLeftBehindAreFreedWithTheHost) {
    // Run under the address sanitizer, this shows the host frees them.
    auto other = std::make_unique<Host>();
    const AEGP_WorldSuite3 &suite = headless::aegpWorldSuite3();
    AEGP_WorldH handle = nullptr;
    other->run(PF_Cmd_RENDER, [&] { return suite.AEGP_New(1, AEGP_WorldType_32, 64, 64, &handle); });
    EXPECT_EQ(other->ledger().count(Ledger::kHostWorlds), 1);
    other.reset();
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
}

// ---- the register ---------------------------------------------------------------

TEST_F(WorldSuitesTest, PublishedWorldsAreFoundByTheirDescriptionWhilePublished) {
    HostWorld layer(PixelDepth::Sixteen, 8, 8);
    PF_EffectWorld desc = layer.effectWorld();
    PF_PixelFormat format = 0;
    {
        auto publication = host.worlds().publish(layer, WorldAccess::ReadOnly);
        EXPECT_EQ(host.worlds().find(desc), &layer);
        EXPECT_EQ(pf()->PF_GetPixelFormat(&desc, &format), PF_Err_NONE);
        EXPECT_EQ(format, PF_PixelFormat_ARGB64);

        PF_EffectWorld wrongSize = desc;
        wrongSize.width = 9;
        EXPECT_EQ(host.worlds().find(wrongSize), nullptr) << "same pixels, another size";
        EXPECT_EQ(layer.effectWorld().world_flags & PF_WorldFlag_WRITEABLE, 0);
    }
    EXPECT_EQ(host.worlds().find(desc), nullptr);
    EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0) << "the host's own worlds are not the effect's";
}

TEST_F(WorldSuitesTest, WorldsTheEffectWritesChangeAtEveryBoundary) {
    HostWorld output(PixelDepth::Eight, 4, 4), layer(PixelDepth::Eight, 4, 4);
    auto published = host.worlds().publish(output, WorldAccess::EffectWrites);
    auto readOnly = host.worlds().publish(layer, WorldAccess::ReadOnly);
    EXPECT_NE(output.effectWorld().world_flags & PF_WorldFlag_WRITEABLE, 0);

    const std::uint64_t outputBefore = output.generation(), layerBefore = layer.generation();
    std::uint64_t inPass = 0, afterPass = 0;
    host.run(PF_Cmd_SMART_RENDER, [&] {
        inPass = output.generation();
        PF_Err err = host.inData()->utils->iterate_generic(
            1, nullptr, [](void *, A_long, A_long, A_long) -> PF_Err { return PF_Err_NONE; });
        afterPass = output.generation();
        return err;
    });
    EXPECT_GT(inPass, outputBefore) << "command start";
    EXPECT_GT(afterPass, inPass + 1) << "pass start and end";
    EXPECT_GT(output.generation(), afterPass) << "command end";
    EXPECT_EQ(layer.generation(), layerBefore) << "read-only worlds change only when the host says so";
}

} // namespace
