// The entry point: command routing, global set-up and set-down, the plug-in id
// reaching later commands, and errors and exceptions turned into results with
// the command context closed and everything given back to the host.
//
// The first group drives the effect linked into this test, so that the
// process-wide context state is visible; the second loads the built plug-in
// the way the host does.

#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/Handlers.h"
#include "host/aeLibInit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace {

constexpr const char *kUtilitySuite = "AEGP Utility Suite";
constexpr A_long kUtilityVersion = 11;

// How the test's utility suite answers registration, and what it saw.
enum class Registration { Grant, Refuse, ThrowBadAlloc, ThrowOther, ThrowInteger };
struct {
    Registration mode;
    AEGP_PluginID grantedId;
    int calls;
    std::string name;
    AEGP_PluginID idDuringCall; // g_PluginID while registering
} g_reg;

A_Err registerWithAEGP(AEGP_GlobalRefcon refcon, const A_char *name, AEGP_PluginID *id) {
    ++g_reg.calls;
    g_reg.name = refcon == nullptr && name ? name : "(unexpected refcon)";
    g_reg.idDuringCall = g_PluginID;
    switch (g_reg.mode) {
    case Registration::Grant: *id = g_reg.grantedId; return A_Err_NONE;
    case Registration::Refuse: return A_Err_GENERIC;
    case Registration::ThrowBadAlloc: throw std::bad_alloc();
    case Registration::ThrowOther: throw std::runtime_error("host fell over");
    case Registration::ThrowInteger: throw PF_Err(PF_Interrupt_CANCEL);
    }
    return A_Err_NONE;
}
const AEGP_UtilitySuite6 kUtility{registerWithAEGP};

void expectAnnounced(const PF_OutData &out) {
    EXPECT_EQ(out.my_version, 524289u);
    EXPECT_EQ(out.out_flags, PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_KEEP_RESOURCE_OPEN);
    EXPECT_EQ(out.out_flags2, 0x1406);
}

void expectNothingHeld(headless::Host &host) {
    EXPECT_EQ(aeLibInit::_current, nullptr);
    EXPECT_FALSE(host.last().threw) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

class EntryPoint : public testing::Test {
protected:
    void SetUp() override {
        g_reg = {Registration::Grant, 4242, 0, "", -1};
        host.suites().add(kUtilitySuite, kUtilityVersion, &kUtility);
    }
    headless::Host host{EntryPointFunc};
};

TEST_F(EntryPoint, PluginIdIsZeroDuringGlobalSetupAndTheRegisteredOneAfter) {
    g_PluginID = 77; // whatever an earlier instance left behind
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    expectAnnounced(*host.outData());
    EXPECT_EQ(g_reg.name, "Veltrix");
    EXPECT_EQ(g_reg.idDuringCall, 0);
    EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), 1) << "the global data";

    ASSERT_EQ(host.sequenceSetup(), PF_Err_NONE);
    EXPECT_EQ(g_PluginID, 4242) << "the next command's context carries the registered id";
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    expectNothingHeld(host);
}

TEST_F(EntryPoint, RefusedRegistrationLeavesIdZeroAndStillSucceeds) {
    g_reg.mode = Registration::Refuse;
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.sequenceSetup(), PF_Err_NONE);
    EXPECT_EQ(g_PluginID, 0);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    expectNothingHeld(host);
}

TEST_F(EntryPoint, FailuresAndExceptionsBecomeResultsWithNothingLeft) {
    const struct {
        Registration mode;
        PF_Err expected;
    } cases[] = {
        {Registration::ThrowInteger, PF_Interrupt_CANCEL},
        {Registration::ThrowBadAlloc, PF_Err_OUT_OF_MEMORY},
        {Registration::ThrowOther, PF_Err_INTERNAL_STRUCT_DAMAGED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        g_reg.mode = c.mode;
        EXPECT_EQ(host.globalSetup(), c.expected);
        EXPECT_EQ(host.outData()->global_data, nullptr);
        expectNothingHeld(host); // the global data's block and the context went back
    }

    host.suites().remove(kUtilitySuite, kUtilityVersion);
    EXPECT_EQ(host.globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    expectNothingHeld(host);

    host.inData()->pica_basicP = nullptr;
    EXPECT_EQ(host.sequenceSetup(), PF_Err_BAD_CALLBACK_PARAM);
    expectNothingHeld(host);
}

TEST_F(EntryPoint, NoMemoryForGlobalDataIsReported) {
    // The first handle is the context's block, the second the global data.
    host.faults().arm(headless::service::kNewHandle, 2, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.globalSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.outData()->global_data, nullptr);
    EXPECT_EQ(g_reg.calls, 0);
    expectNothingHeld(host);

    // Without a block for the context itself a command still runs.
    host.faults().arm(headless::service::kLockHandle, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.sequenceSetup(), PF_Err_NONE);
    expectNothingHeld(host);
}

TEST_F(EntryPoint, CommandsWithNothingToDoLeaveOutDataAlone) {
    const PF_Cmd idle[] = {PF_Cmd_ABOUT, PF_Cmd_UNUSED_0, PF_Cmd_DO_DIALOG, PF_Cmd_FRAME_SETUP,
                           PF_Cmd_FRAME_SETDOWN, PF_Cmd_EVENT, PF_Cmd_ARBITRARY_CALLBACK,
                           PF_Cmd_SEQUENCE_SETUP, PF_Cmd_SEQUENCE_RESETUP, PF_Cmd_SEQUENCE_FLATTEN,
                           PF_Cmd_SEQUENCE_SETDOWN, PF_Cmd_RENDER, PF_Cmd_GLOBAL_SETDOWN, 25, 1000, -1};
    for (PF_Cmd cmd : idle) {
        SCOPED_TRACE(cmd);
        EXPECT_EQ(host.send(cmd), PF_Err_NONE);
        EXPECT_EQ(std::memcmp(host.outData(), &host.outDataBeforeLast(), sizeof(PF_OutData)), 0);
        expectNothingHeld(host);
    }
    EXPECT_EQ(EntryPointFunc(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(EntryPointFunc(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_NONE);
}

// ---- the built plug-in, loaded as the host loads it --------------------------

class PluginLibrary : public testing::Test {
protected:
    void SetUp() override {
        g_reg = {Registration::Grant, 31337, 0, "", -1};
        host.suites().add(kUtilitySuite, kUtilityVersion, &kUtility);
    }
    headless::Plugin plugin{VELTRIX_PLUGIN_PATH};
    headless::Host host{plugin};
};

TEST_F(PluginLibrary, SetupAndSetdownGiveEverythingBack) {
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    const PF_OutData &out = *host.outData();
    expectAnnounced(out);
    // The global data holds the id registration produced: after the block's
    // 8-byte header comes the object, its vtable pointer, then the id.
    ASSERT_NE(out.global_data, nullptr);
    AEGP_PluginID stored = 0;
    std::memcpy(&stored, static_cast<char *>(host.handles().peek(out.global_data)) + 16, sizeof stored);
    EXPECT_EQ(stored, 31337);

    EXPECT_EQ(host.sequenceSetup(), PF_Err_NONE);
    EXPECT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_FALSE(host.last().threw) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(PluginLibrary, MissingSuiteOrExceptionIsAnsweredWithNothingOutstanding) {
    host.suites().remove(kUtilitySuite, kUtilityVersion);
    EXPECT_EQ(host.globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_FALSE(host.last().threw) << host.last().thrown;
    EXPECT_EQ(host.outData()->global_data, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    host.suites().add(kUtilitySuite, kUtilityVersion, &kUtility);
    g_reg.mode = Registration::ThrowOther;
    EXPECT_EQ(host.globalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FALSE(host.last().threw) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    g_reg.mode = Registration::Grant; // the instance is still usable
    EXPECT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
