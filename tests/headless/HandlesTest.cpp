// Host memory handles through the utility callbacks, as the effect sees them.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <cstring>

using headless::Host;
using headless::Ledger;

namespace {

struct HandlesTest : ::testing::Test {
    Host host;
    PF_UtilCallbacks &utils = *host.inData()->utils;
};

TEST_F(HandlesTest, LifeCycleIsBookedInTheLedger) {
    PF_Handle handle = utils.host_new_handle(100);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(utils.host_get_handle_size(handle), 100u);
    EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 1);
    EXPECT_EQ(host.ledger().count(Ledger::kLockedHandles), 0);
    EXPECT_FALSE(host.ledger().empty());

    void *block = utils.host_lock_handle(handle);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block, *handle) << "the master pointer is the block start";
    std::memset(block, 7, 100);
    // Locking twice counts one locked handle; the address does not move.
    EXPECT_EQ(utils.host_lock_handle(handle), block);
    EXPECT_EQ(host.ledger().count(Ledger::kLockedHandles), 1);
    EXPECT_EQ(host.handles().lockCount(handle), 2);

    utils.host_unlock_handle(handle);
    EXPECT_EQ(host.ledger().count(Ledger::kLockedHandles), 1);
    utils.host_unlock_handle(handle);
    EXPECT_EQ(host.ledger().count(Ledger::kLockedHandles), 0);
    EXPECT_EQ(*handle, block) << "an unlocked block stays where it was until disposed";

    utils.host_dispose_handle(handle);
    EXPECT_FALSE(host.handles().isLive(handle));
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(HandlesTest, DisposingALockedHandleReleasesBothCounts) {
    PF_Handle handle = utils.host_new_handle(8);
    ASSERT_NE(utils.host_lock_handle(handle), nullptr);
    utils.host_dispose_handle(handle);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(HandlesTest, LeaksShowInTheReport) {
    PF_Handle a = utils.host_new_handle(1);
    PF_Handle b = utils.host_new_handle(2);
    utils.host_lock_handle(b);
    const std::string report = host.ledger().report();
    EXPECT_NE(report.find("2 live handles"), std::string::npos) << report;
    EXPECT_NE(report.find("1 locked handles"), std::string::npos) << report;
    utils.host_dispose_handle(a);
    utils.host_dispose_handle(b);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(HandlesTest, ZeroSizedHandleIsUsable) {
    PF_Handle handle = utils.host_new_handle(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(utils.host_get_handle_size(handle), 0u);
    EXPECT_NE(utils.host_lock_handle(handle), nullptr);
    utils.host_unlock_handle(handle);
    utils.host_dispose_handle(handle);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(HandlesTest, AbsurdSizeFailsLikeAnyAllocation) {
    EXPECT_EQ(utils.host_new_handle(~A_HandleSize(0)), nullptr);
    EXPECT_EQ(utils.host_new_handle(~A_HandleSize(0) - 7), nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(HandlesTest, BadHandlesAreReportedNeverTouched) {
    // A handle that was never handed out: a stack address that must not be read.
    void *stranger = nullptr;
    auto bogus = reinterpret_cast<PF_Handle>(&stranger);
    utils.host_dispose_handle(bogus);
    EXPECT_EQ(utils.host_lock_handle(bogus), nullptr);
    utils.host_unlock_handle(bogus);
    EXPECT_EQ(utils.host_get_handle_size(bogus), 0u);
    EXPECT_EQ(host.ledger().problems().size(), 4u) << host.ledger().report();
    EXPECT_FALSE(host.ledger().empty());

    utils.host_dispose_handle(nullptr); // the null handle is nothing to dispose of
    EXPECT_EQ(host.ledger().problems().size(), 4u);
}

TEST_F(HandlesTest, DoubleDisposeAndStrayUnlockAreProblems) {
    PF_Handle handle = utils.host_new_handle(16);
    utils.host_unlock_handle(handle); // never locked
    utils.host_dispose_handle(handle);
    utils.host_dispose_handle(handle);
    const auto problems = host.ledger().problems();
    ASSERT_EQ(problems.size(), 2u) << host.ledger().report();
    EXPECT_NE(problems[0].find("not locked"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("already disposed"), std::string::npos) << problems[1];
    EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 0);
}

TEST_F(HandlesTest, HandlesBelongToTheirHost) {
    PF_Handle mine = utils.host_new_handle(4);
    Host other;
    // With two hosts alive and no command running there is no current host.
    EXPECT_EQ(Host::current(), nullptr);
    EXPECT_EQ(utils.host_new_handle(4), nullptr);

    other.run(PF_Cmd_RENDER, [&] { utils.host_dispose_handle(mine); });
    EXPECT_EQ(other.ledger().problems().size(), 1u) << "a foreign handle is unknown to the host";
    EXPECT_TRUE(host.handles().isLive(mine));
    host.run(PF_Cmd_RENDER, [&] { utils.host_dispose_handle(mine); });
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

// Small blocks, and large ones whose memory a disposed handle of their size
// left (kept for the next frame's working memory): a block written and
// disposed comes back holding the pattern, not what was written.
TEST_F(HandlesTest, FreshBlocksHoldAFixedPattern) {
    for (const A_HandleSize size : {A_HandleSize{32}, A_HandleSize{300000}}) {
        void *last = nullptr;
        for (int round = 0; round < 2; ++round) {
            PF_Handle handle = utils.host_new_handle(size);
            auto *bytes = static_cast<unsigned char *>(utils.host_lock_handle(handle));
            for (A_HandleSize i = 0; i < size; ++i) {
                ASSERT_EQ(bytes[i], 0xA5) << size << " " << i;
            }
            if (size > 32 && round == 1) {
                EXPECT_EQ(bytes, last) << "the disposed block's memory again";
            }
            std::memset(bytes, 0, size);
            last = bytes;
            utils.host_unlock_handle(handle);
            utils.host_dispose_handle(handle);
        }
    }
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
