// Fault injection: the n-th call of a service fails the way the host fails it.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <cstring>

using headless::Faults;
using headless::Host;
namespace service = headless::service;

namespace {

TEST(Faults, NthCallCountedFromArming) {
    Faults faults;
    faults.check("svc");
    faults.check("svc");
    faults.arm("svc", 2, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(faults.check("svc"), PF_Err_NONE);
    EXPECT_EQ(faults.check("svc"), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(faults.check("svc"), PF_Err_NONE) << "a fault fires once";
    EXPECT_EQ(faults.check("other"), PF_Err_NONE);
    EXPECT_EQ(faults.calls("svc"), 5);
    EXPECT_EQ(faults.calls("other"), 1);
    EXPECT_EQ(faults.fired(), 1);
    faults.resetCounts();
    EXPECT_EQ(faults.calls("svc"), 0);
    EXPECT_EQ(faults.fired(), 0);
}

TEST(Faults, DetailNarrowsWhatCounts) {
    Faults faults;
    faults.arm("acquire", 2, 9, "B");
    EXPECT_EQ(faults.check("acquire", "A"), PF_Err_NONE);
    EXPECT_EQ(faults.check("acquire", "B"), PF_Err_NONE);
    EXPECT_EQ(faults.check("acquire", "A"), PF_Err_NONE);
    EXPECT_EQ(faults.check("acquire", "B"), 9);
    EXPECT_EQ(faults.calls("acquire"), 4);
    EXPECT_EQ(faults.calls("acquire", "A"), 2);
    EXPECT_EQ(faults.calls("acquire", "B"), 2);
}

TEST(Faults, StickyFaultKeepsFailingUntilDisarmed) {
    Faults faults;
    faults.arm("svc", 2, 7, {}, true);
    faults.arm("svc", 0, 8); // n < 1 arms nothing
    EXPECT_EQ(faults.check("svc"), PF_Err_NONE);
    EXPECT_EQ(faults.check("svc"), 7);
    EXPECT_EQ(faults.check("svc"), 7);
    faults.disarm();
    EXPECT_EQ(faults.check("svc"), PF_Err_NONE);
    EXPECT_EQ(faults.fired(), 2);
}

// Each host service fails its n-th call as the real host would.
struct ServiceFaults : ::testing::Test {
    Host host;
    PF_InData &in = *host.inData();
    PF_UtilCallbacks &utils = *in.utils;
    int table = 0;
};

TEST_F(ServiceFaults, HandleAllocation) {
    host.faults().arm(service::kNewHandle, 2, PF_Err_OUT_OF_MEMORY);
    PF_Handle first = utils.host_new_handle(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(utils.host_new_handle(8), nullptr);
    PF_Handle third = utils.host_new_handle(8);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(host.faults().calls(service::kNewHandle), 3);
    utils.host_dispose_handle(first);
    utils.host_dispose_handle(third);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ServiceFaults, HandleLock) {
    PF_Handle handle = utils.host_new_handle(8);
    host.faults().arm(service::kLockHandle, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(utils.host_lock_handle(handle), nullptr);
    EXPECT_EQ(host.handles().lockCount(handle), 0) << "a failed lock locks nothing";
    EXPECT_NE(utils.host_lock_handle(handle), nullptr);
    utils.host_unlock_handle(handle);
    utils.host_dispose_handle(handle);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ServiceFaults, SuiteAcquisitionForOneSuiteOnly) {
    host.suites().add("Alpha Suite", 1, &table);
    host.suites().add("Beta Suite", 1, &table);
    host.faults().arm(service::kAcquireSuite, 1, PF_Err_BAD_CALLBACK_PARAM, "Beta Suite");
    const void *suite = nullptr;
    EXPECT_EQ(in.pica_basicP->AcquireSuite("Alpha Suite", 1, &suite), kSPNoError);
    suite = &table;
    EXPECT_NE(in.pica_basicP->AcquireSuite("Beta Suite", 1, &suite), kSPNoError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(host.ledger().suiteCount("Beta Suite", 1), 0);
    in.pica_basicP->ReleaseSuite("Alpha Suite", 1);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    EXPECT_EQ(host.faults().calls(service::kAcquireSuite, "Beta Suite"), 1);
}

TEST_F(ServiceFaults, AddParam) {
    host.faults().arm(service::kAddParam, 2, PF_Err_OUT_OF_MEMORY);
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_CHECKBOX;
    host.run(PF_Cmd_PARAMS_SETUP, [&] {
        EXPECT_EQ(in.inter.add_param(in.effect_ref, -1, &def), PF_Err_NONE);
        EXPECT_EQ(in.inter.add_param(in.effect_ref, -1, &def), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(in.inter.add_param(in.effect_ref, -1, &def), PF_Err_NONE);
    });
    EXPECT_EQ(host.params().count(), 3);
    EXPECT_EQ(host.params().addCalls(), 3);
}

TEST_F(ServiceFaults, ParamCheckout) {
    host.faults().arm(service::kCheckoutParam, 1, PF_Err_OUT_OF_MEMORY);
    PF_ParamDef def;
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 0, 0, 1, 30, &def), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.ledger().count(headless::Ledger::kParamCheckouts), 0);
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &def), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ServiceFaults, IterateAbortAndProgress) {
    host.faults().arm(service::kIterate, 1, PF_Interrupt_CANCEL);
    host.faults().arm(service::kAbort, 1, PF_Interrupt_CANCEL);
    host.faults().arm(service::kProgress, 1, PF_Interrupt_CANCEL);
    bool called = false;
    host.run(PF_Cmd_SMART_RENDER, [&] {
        auto fn = [](void *refcon, A_long, A_long, A_long) -> PF_Err {
            *static_cast<bool *>(refcon) = true;
            return PF_Err_NONE;
        };
        EXPECT_EQ(utils.iterate_generic(10, &called, fn), PF_Interrupt_CANCEL);
        EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Interrupt_CANCEL);
        EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Err_NONE);
        EXPECT_EQ(in.inter.progress(in.effect_ref, 1, 2), PF_Interrupt_CANCEL);
    });
    EXPECT_FALSE(called) << "a failed pass runs nothing";
    host.requestAbort();
    EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Interrupt_CANCEL);
}

// The sweep a leak test runs: learn the call count, then fail each call once.
TEST_F(ServiceFaults, SweepOverEveryAllocation) {
    auto scenario = [](PF_UtilCallbacks &u) {
        PF_Handle kept[3] = {};
        for (PF_Handle &h : kept) {
            h = u.host_new_handle(16);
            if (h && !u.host_lock_handle(h)) {
                u.host_dispose_handle(h);
                h = nullptr;
            }
        }
        for (PF_Handle h : kept) {
            if (!h) continue;
            u.host_unlock_handle(h);
            u.host_dispose_handle(h);
        }
    };
    scenario(utils);
    const long calls = host.faults().calls(service::kNewHandle);
    ASSERT_EQ(calls, 3);
    for (long n = 1; n <= calls; ++n) {
        Host fresh;
        fresh.faults().arm(service::kNewHandle, n, PF_Err_OUT_OF_MEMORY);
        fresh.run(PF_Cmd_RENDER, [&] { scenario(*fresh.inData()->utils); });
        EXPECT_EQ(fresh.faults().fired(), 1) << n;
        EXPECT_TRUE(fresh.ledger().empty()) << "call " << n << ": " << fresh.ledger().report();
    }
}

} // namespace
