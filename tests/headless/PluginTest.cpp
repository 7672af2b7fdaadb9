// Loading plug-ins from disk.
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>

using headless::Plugin;
using headless::PluginError;

namespace {

std::string tempFile(const char *name) {
    return ::testing::TempDir() + name;
}

TEST(Plugin, MissingFileNamesTheFileAndTheReason) {
    const std::string path = tempFile("no-such-plugin.so");
    try {
        Plugin plugin(path);
        FAIL() << "loaded a file that does not exist";
    } catch (const PluginError &e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(path), std::string::npos) << text;
        EXPECT_NE(text.find("no such file"), std::string::npos) << text;
    }
    std::string error;
    EXPECT_EQ(Plugin::tryLoad(path, error), nullptr);
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(Plugin, FileThatIsNoLibraryIsRefused) {
    const std::string path = tempFile("not-a-plugin.so");
    std::ofstream(path) << "just text";
    std::string error;
    EXPECT_EQ(Plugin::tryLoad(path, error), nullptr);
    EXPECT_NE(error.find("cannot load plug-in '" + path + "'"), std::string::npos) << error;
    std::remove(path.c_str());
}

TEST(Plugin, LibraryWithoutEntryPointIsRefused) {
    // Any shared library that is not a plug-in will do: the C math library.
    std::string library;
    for (const char *candidate :
         {"/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6",
          "/lib/aarch64-linux-gnu/libm.so.6", "/lib64/libm.so.6"})
        if (std::ifstream(candidate)) library = candidate;
    if (library.empty()) GTEST_SKIP() << "no C math library found where expected";
    std::string error;
    EXPECT_EQ(Plugin::tryLoad(library, error), nullptr);
    EXPECT_NE(error.find("has no entry point EntryPointFunc"), std::string::npos) << error;
}

} // namespace

// ---- the built effect, driven as the host drives it -----------------------------

namespace {

A_Err registerWithHost(AEGP_GlobalRefcon, const A_char *name, AEGP_PluginID *id) {
    if (!name || !id) return A_Err_PARAMETER;
    *id = 4242;
    return A_Err_NONE;
}
const AEGP_UtilitySuite6 kUtilitySuite = {registerWithHost};

struct BuiltPlugin : ::testing::Test {
    static void SetUpTestSuite() { plugin = std::make_unique<Plugin>(VELTRIX_PLUGIN_PATH); }
    static void TearDownTestSuite() { plugin.reset(); }
    static inline std::unique_ptr<Plugin> plugin;
};

TEST_F(BuiltPlugin, AnswersAboutAndUnknownCommandsHoldingNothing) {
    ASSERT_NE(plugin->entryPoint(), nullptr);
    headless::Host host(*plugin);
    EXPECT_EQ(host.about(), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(host.outData(), &host.outDataBeforeLast(), sizeof(PF_OutData)), 0)
        << "about leaves out_data untouched";
    for (PF_Cmd cmd : {PF_Cmd(PF_Cmd_RESERVED1), PF_Cmd(PF_Cmd_NUM_CMDS), PF_Cmd(1000)}) {
        EXPECT_EQ(host.send(cmd), PF_Err_NONE) << cmd;
        EXPECT_FALSE(host.last().threw) << host.last().thrown;
    }
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    // Every command opened a context block in a host handle and returned it.
    EXPECT_GE(host.faults().calls(headless::service::kNewHandle), 4);
}

TEST_F(BuiltPlugin, EveryContextAllocationCanFailHarmlessly) {
    for (long n = 1; n <= 2; ++n) {
        headless::Host host(*plugin);
        host.faults().arm(headless::service::kNewHandle, n, PF_Err_OUT_OF_MEMORY);
        host.faults().arm(headless::service::kLockHandle, n, PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(host.about(), PF_Err_NONE);
        EXPECT_EQ(host.send(PF_Cmd_RESERVED1), PF_Err_NONE);
        EXPECT_TRUE(host.ledger().empty()) << "call " << n << ": " << host.ledger().report();
    }
}

TEST_F(BuiltPlugin, LivesFromGlobalSetupToGlobalSetdown) {
    headless::Host host(*plugin);
    host.suites().add("AEGP Utility Suite", 11, &kUtilitySuite);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE) << host.last().thrown;
    EXPECT_NE(host.inData()->global_data, nullptr);
    EXPECT_TRUE(host.handles().isLive(host.inData()->global_data));
    EXPECT_EQ(host.outData()->my_version, 0x00080001u);
    EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), 1) << host.ledger().report();

    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
    EXPECT_EQ(host.inData()->num_params, host.params().count());
    EXPECT_EQ(host.sequenceSetup(), PF_Err_NONE);
    EXPECT_EQ(host.sequenceSetdown(), PF_Err_NONE);

    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(host.inData()->global_data, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(BuiltPlugin, MissingUtilitySuiteFailsGlobalSetupCleanly) {
    headless::Host host(*plugin);
    EXPECT_EQ(host.globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_FALSE(host.last().threw);
    EXPECT_EQ(host.inData()->global_data, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
