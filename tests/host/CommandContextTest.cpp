// The command context: nesting, its data block in host memory, and what it
// leaves behind when the block cannot be had or the basic suite is missing.

#include "headless/core/Host.h"
#include "host/aeLibInit.h"
#include "host/aeMemory.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// A suite the context's cache can acquire; its contents are never called.
const PF_PathQuerySuite1 kPathQuery{};

TEST(CommandContext, NestedContextsCloseInAnyOrder) {
    ASSERT_EQ(aeLibInit::_current, nullptr);
    std::optional<aeLibInit> outer, middle, inner;

    outer.emplace(PF_Cmd_RENDER, 11, nullptr);
    EXPECT_EQ(g_PluginID, 11);
    middle.emplace(PF_Cmd_RENDER, 22, nullptr);
    inner.emplace(PF_Cmd_RENDER, 33, nullptr);
    EXPECT_EQ(g_PluginID, 33) << "every new context rewrites the plug-in id";
    EXPECT_EQ(aeLibInit::_current, &*inner);

    middle.reset(); // from the middle: the innermost stays current
    EXPECT_EQ(aeLibInit::_current, &*inner);
    outer.reset(); // the outermost next
    EXPECT_EQ(aeLibInit::_current, &*inner);

    // The list is still sound: a new context nests under the survivor and
    // closing it hands "current" back to it.
    {
        aeLibInit nested(PF_Cmd_RENDER, 44, nullptr);
        EXPECT_EQ(aeLibInit::_current, &nested);
    }
    EXPECT_EQ(aeLibInit::_current, &*inner);
    inner.reset();
    EXPECT_EQ(aeLibInit::_current, nullptr);
}

TEST(CommandContext, WithoutInDataHasNoBlock) {
    aeLibInit context(PF_Cmd_ABOUT, 5, nullptr);
    EXPECT_EQ(context.data(), nullptr);
    EXPECT_EQ(context.getInData(), nullptr);
    EXPECT_EQ(context.getSuiteHandler(), nullptr);
    EXPECT_EQ(AEMalloc(16), nullptr);
}

TEST(CommandContext, BlockLivesInHostMemoryAndGoesBackWithItsSuites) {
    headless::Host host;
    host.suites().add("PF Path Query Suite", 1, &kPathQuery);

    host.run(PF_Cmd_RENDER, [&] {
        {
            aeLibInit context(PF_Cmd_RENDER, 7, host.inData());
            ASSERT_NE(context.data(), nullptr);
            EXPECT_EQ(context.getInData(), host.inData());
            EXPECT_EQ(context.data()->pluginID, 7);
            EXPECT_TRUE(host.handles().isLive(context.data()->handle));
            EXPECT_EQ(host.handles().lockCount(context.data()->handle), 1);

            ASSERT_NE(context.getSuiteHandler(), nullptr);
            EXPECT_EQ(context.getSuiteHandler()->PathQuerySuite1(), &kPathQuery);
            EXPECT_EQ(host.ledger().suiteCount("PF Path Query Suite", 1), 1);
        }
        EXPECT_EQ(aeLibInit::_current, nullptr);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST(CommandContext, InnerContextOverHostMemoryReleasesOnlyItsOwn) {
    headless::Host host;
    host.run(PF_Cmd_RENDER, [&] {
        std::optional<aeLibInit> outer, inner;
        outer.emplace(PF_Cmd_RENDER, 1, host.inData());
        inner.emplace(PF_Cmd_RENDER, 2, host.inData());
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), 2);

        outer.reset(); // the outer closes first; the inner keeps its block
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), 1);
        EXPECT_EQ(aeLibInit::_current, &*inner);
        void *p = AEMalloc(32);
        EXPECT_NE(p, nullptr);
        AEFree(p);

        inner.reset();
        EXPECT_EQ(aeLibInit::_current, nullptr);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST(CommandContext, BlockThatCannotBeHadMakesABlocklessContext) {
    for (std::string_view failing : {headless::service::kNewHandle, headless::service::kLockHandle}) {
        SCOPED_TRACE(std::string(failing));
        headless::Host host;
        host.faults().arm(failing, 1, PF_Err_OUT_OF_MEMORY);
        host.run(PF_Cmd_RENDER, [&] {
            {
                aeLibInit context(PF_Cmd_RENDER, 3, host.inData());
                EXPECT_EQ(context.data(), nullptr);
                EXPECT_EQ(context.getSuiteHandler(), nullptr);
                EXPECT_EQ(aeLibInit::_current, &context);
                EXPECT_EQ(g_PluginID, 3);
                EXPECT_EQ(AEMalloc(8), nullptr) << "memory needs a context with a block";
            }
            // A handle that was made but could not be locked goes back at once.
            EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
        });
        EXPECT_EQ(host.faults().fired(), 1);
    }
}

TEST(CommandContext, MissingBasicSuiteThrowsWithNothingHeldAndTheListUnchanged) {
    headless::Host host;
    PF_InData noBasicSuite = *host.inData();
    noBasicSuite.pica_basicP = nullptr;

    host.run(PF_Cmd_RENDER, [&] {
        aeLibInit outer(PF_Cmd_RENDER, 9, host.inData());
        try {
            aeLibInit context(PF_Cmd_RENDER, 9, &noBasicSuite);
            ADD_FAILURE() << "a context over no basic suite was opened";
        } catch (PF_Err err) {
            EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
        }
        EXPECT_EQ(aeLibInit::_current, &outer);
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), 1) << "only the outer block";
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLockedHandles), 1);
    });
    EXPECT_EQ(aeLibInit::_current, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
