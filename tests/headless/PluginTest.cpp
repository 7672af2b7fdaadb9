// Loading plug-ins from disk.
#include "headless/core/Host.h"
#include "headless/core/Plugin.h"

#include <gtest/gtest.h>

#include <fstream>

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
    for (const char *candidate : {"/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6",
                                  "/lib/aarch64-linux-gnu/libm.so.6", "/lib64/libm.so.6"})
        if (std::ifstream(candidate)) library = candidate;
    if (library.empty()) GTEST_SKIP() << "no C math library found where expected";
    std::string error;
    EXPECT_EQ(Plugin::tryLoad(library, error), nullptr);
    EXPECT_NE(error.find("has no entry point EntryPointFunc"), std::string::npos) << error;
}

} // namespace
