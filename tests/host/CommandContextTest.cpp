// The command context: nesting, its data block in host memory, and what it
// leaves behind when the block cannot be had or the basic suite is missing.

#include "headless/boundary/Host.h"
#include "host/aeLibInit.h"
#include "host/aeMemory.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using headless::Ledger;

TEST(CommandContext, NestedContextsCloseInAnyOrder) {
    ASSERT_EQ(aeLibInit::_current, nullptr);
    std::optional<aeLibInit> outer, middle, inner;
    outer.emplace(PF_Cmd_RENDER, 11, nullptr);
    middle.emplace(PF_Cmd_RENDER, 22, nullptr);
    inner.emplace(PF_Cmd_RENDER, 33, nullptr);
    EXPECT_EQ(g_PluginID, 33) << "every new context rewrites the plug-in id";
    EXPECT_EQ(inner->getInData(), nullptr) << "no in_data, no block";
    EXPECT_EQ(inner->getSuiteHandler(), nullptr);

    middle.reset(); // from the middle, then the outermost: the innermost stays current
    outer.reset();
    EXPECT_EQ(aeLibInit::_current, &*inner);
    {
        aeLibInit nested(PF_Cmd_RENDER, 44, nullptr); // the list is still sound
        EXPECT_EQ(aeLibInit::_current, &nested);
    }
    EXPECT_EQ(aeLibInit::_current, &*inner);
    inner.reset();
    EXPECT_EQ(aeLibInit::_current, nullptr);
}

TEST(CommandContext, BlocksLiveInHostMemoryAndGoBackWithTheirSuites) {
    static const PF_PathQuerySuite1 pathQuery{};
    headless::Host host;
    host.suites().add("PF Path Query Suite", 1, &pathQuery);
    host.run(PF_Cmd_RENDER, [&] {
        std::optional<aeLibInit> outer, inner;
        outer.emplace(PF_Cmd_RENDER, 1, host.inData());
        inner.emplace(PF_Cmd_RENDER, 7, host.inData());
        ASSERT_NE(inner->data(), nullptr);
        EXPECT_EQ(inner->getInData(), host.inData());
        EXPECT_EQ(inner->data()->pluginID, 7);
        EXPECT_EQ(host.handles().lockCount(inner->data()->handle), 1);
        EXPECT_EQ(outer->getSuiteHandler()->PathQuerySuite1(), &pathQuery);
        EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 2);

        outer.reset(); // the outer closes first and releases only its own
        EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 1);
        EXPECT_EQ(host.ledger().suiteCount("PF Path Query Suite", 1), 0);
        void *p = AEMalloc(32); // memory still works through the inner block
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
                EXPECT_EQ(aeLibInit::_current, &context);
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
        EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 1) << "only the outer block";
        EXPECT_EQ(host.ledger().count(Ledger::kLockedHandles), 1);
    });
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
