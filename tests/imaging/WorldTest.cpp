#include "imaging/World.h"

#include "TextureTestHost.h"

#include "headless/boundary/Host.h"
#include "host/aeLibInit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using AEO::World;
using headless::Ledger;
using texture_test::TestWorldSuite;

namespace {

constexpr AEGP_PluginID kPluginID = 77;

class WorldTest : public ::testing::Test {
protected:
    // Runs `body` inside a render command with an open command context.
    template <class F> PF_Err inRender(F &&body)
    {
        return host.run(PF_Cmd_SMART_RENDER, [&] {
            aeLibInit context(PF_Cmd_SMART_RENDER, kPluginID, host.inData());
            body();
        });
    }

    void TearDown() override
    {
        EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }

    headless::Host host;
    TestWorldSuite worlds{host};
};

const char *bytes(const void *p) { return static_cast<const char *>(p); }

TEST_F(WorldTest, EachDepthIsCreatedOnBehalfOfTheEffectAndReturnedOnDestruction)
{
    struct Case {
        World::WorldType type;
        int bytesPerPixel;
    };
    for (Case c : {Case{World::WorldType_8, 4}, Case{World::WorldType_16, 8},
                   Case{World::WorldType_32, 16}}) {
        SCOPED_TRACE(c.type);
        inRender([&] {
            World world(c.type, 7, 5);
            EXPECT_EQ(world.err(), PF_Err_NONE);
            EXPECT_EQ(world.width(), 7);
            EXPECT_EQ(world.height(), 5);
            EXPECT_EQ(world.type(), c.type);
            EXPECT_EQ(world.bytesPerPixel(), c.bytesPerPixel);
            EXPECT_EQ(world.rowBytes(), 7 * c.bytesPerPixel + TestWorldSuite::kRowPadding);
            EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 1);
            ASSERT_NE(world.data(), nullptr);
            // Rows step by the padded row bytes.
            EXPECT_EQ(bytes(world.data(2, 3)),
                      bytes(world.data()) + 3 * world.rowBytes() + 2 * c.bytesPerPixel);
        });
        EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 0);
        ASSERT_FALSE(worlds.requests().empty());
        const TestWorldSuite::Request r = worlds.requests().back();
        EXPECT_EQ(r.plugin, kPluginID);
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.width, 7);
        EXPECT_EQ(r.height, 5);
    }
}

TEST_F(WorldTest, PixelAddressesExistOnlyInsideTheWorld)
{
    inRender([&] {
        World world(World::WorldType_16, 6, 4);
        const World &view = world;
        EXPECT_EQ(world.data(-1, 0), nullptr);
        EXPECT_EQ(world.data(0, -1), nullptr);
        EXPECT_EQ(world.data(6, 0), nullptr);
        EXPECT_EQ(world.data(0, 4), nullptr);
        EXPECT_EQ(view.data(6, 3), nullptr);
        EXPECT_EQ(world.data(0, 0), world.data());
        EXPECT_EQ(bytes(view.data(5, 3)), bytes(world.data()) + 3 * world.rowBytes() + 5 * 8);
    });
}

TEST_F(WorldTest, An8BitWorldHoldsOneFloatPerPixel)
{
    inRender([&] {
        World depth(World::WorldType_8, 6, 4);
        const float value = 1.5f;
        std::memcpy(depth.data(3, 2), &value, sizeof value);

        auto read = [&](int x, int y) {
            float f;
            std::memcpy(&f, depth.data(x, y), sizeof f);
            return f;
        };
        EXPECT_EQ(read(3, 2), 1.5f);
        for (auto [x, y] : {std::pair{2, 2}, {4, 2}, {3, 1}, {3, 3}}) EXPECT_EQ(read(x, y), 0.0f);
    });
}

TEST_F(WorldTest, AnUnknownTypeHasNoPixelSize)
{
    inRender([&] {
        World odd(static_cast<World::WorldType>(7), 4, 3);
        EXPECT_EQ(odd.err(), PF_Err_NONE);
        EXPECT_EQ(odd.bytesPerPixel(), 0);
        EXPECT_EQ(odd.data(3, 2), odd.data(0, 2));
        EXPECT_EQ(bytes(odd.data(3, 2)), bytes(odd.data()) + 2 * odd.rowBytes());
    });
}

TEST_F(WorldTest, AFailedCreationKeepsTheHostsErrorAndHandsOutNoPixels)
{
    host.faults().arm(headless::service::kAegp, 1, PF_Err_OUT_OF_MEMORY, "AEGP_New");
    inRender([&] {
        World world(World::WorldType_32, 8, 8);
        EXPECT_EQ(world.err(), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(world.width(), 0);
        EXPECT_EQ(world.height(), 0);
        EXPECT_EQ(world.data(), nullptr);
        EXPECT_EQ(world.data(0, 0), nullptr);
    });
    EXPECT_EQ(worlds.live(), 0u);
}

TEST_F(WorldTest, AWorldTheHostCannotDescribeHandsOutNoPixelsAndIsStillReturned)
{
    host.faults().arm(headless::service::kAegp, 1, PF_Err_INTERNAL_STRUCT_DAMAGED,
                      "AEGP_FillOutPFEffectWorld");
    inRender([&] {
        World world(World::WorldType_8, 8, 8);
        EXPECT_EQ(world.err(), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(world.width(), 0); // the host's half-written description is dropped
        EXPECT_EQ(world.data(0, 0), nullptr);
        EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 1);
    });
    EXPECT_EQ(worlds.live(), 0u);
}

TEST_F(WorldTest, WithoutACommandContextOrWorldSuiteNothingIsCreatedAndNothingThrows)
{
    host.run(PF_Cmd_SMART_RENDER, [&] {
        World world(World::WorldType_8, 4, 4); // no context open
        EXPECT_EQ(world.err(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(world.data(0, 0), nullptr);
    });
    host.suites().remove("AEGP World Suite", 3);
    EXPECT_EQ(inRender([&] {
                  World world(World::WorldType_8, 4, 4);
                  EXPECT_EQ(world.err(), PF_Err_BAD_CALLBACK_PARAM);
                  EXPECT_EQ(world.width(), 0);
              }),
              PF_Err_NONE);
    EXPECT_TRUE(worlds.requests().empty());
}

TEST_F(WorldTest, ReinitialisingReplacesTheWorldUnlessItsReleaseFails)
{
    inRender([&] {
        World world(World::WorldType_8, 4, 4);
        world._init(World::WorldType_32, 3, 2);
        EXPECT_EQ(world.err(), PF_Err_NONE);
        EXPECT_EQ(world.bytesPerPixel(), 16);
        EXPECT_EQ(world.width(), 3);
        EXPECT_EQ(host.ledger().count(Ledger::kHostWorlds), 1);

        host.faults().arm(headless::service::kAegp, 1, PF_Err_BAD_CALLBACK_PARAM, "AEGP_Dispose");
        world._init(World::WorldType_8, 5, 5);
        EXPECT_EQ(world.err(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(world.data(0, 0), nullptr);
        EXPECT_EQ(worlds.requests().size(), 2u); // no third world was asked for
    });
    // The world whose release failed stays the host's; forget it for the ledger.
    EXPECT_EQ(worlds.live(), 1u);
    host.ledger().clear();
}

} // namespace
