// The macOS bundle's descriptive files, as the build wrote them.
#include "host/GlobalData.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

std::string readGenerated(const char *name) {
    std::ifstream file(std::string(VELTRIX_RESOURCES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The <key>/<string> pairs of a flat property list; a key followed by
// anything but a string maps to what follows it, tag included.
std::map<std::string, std::string> plistEntries(const std::string &plist) {
    std::map<std::string, std::string> entries;
    const std::regex entry(R"(<key>([^<]*)</key>\s*(<string>([^<]*)</string>|<[^>]*>))");
    for (auto it = std::sregex_iterator(plist.begin(), plist.end(), entry);
         it != std::sregex_iterator(); ++it) {
        const auto &match = *it;
        entries[match[1]] = match[3].matched ? match[3].str() : match[2].str();
    }
    return entries;
}

TEST(MacBundle, InfoPlistDeclaresAnEffectPlugin) {
    const std::string plist = readGenerated("Info.plist");
    ASSERT_FALSE(plist.empty()) << "Info.plist was not generated";
    EXPECT_EQ(plist.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(plist.find("<plist version=\"1.0\">"), std::string::npos);
    EXPECT_NE(plist.find("</dict>\n</plist>"), std::string::npos);
    EXPECT_EQ(plist.find('@'), std::string::npos) << "a placeholder was left unfilled";

    const auto entries = plistEntries(plist);
    EXPECT_EQ(entries.at("CFBundlePackageType"), "eFKT");
    EXPECT_EQ(entries.at("CFBundleSignature"), "FXTC");
    EXPECT_EQ(entries.at("CFBundleExecutable"), "Veltrix");
    EXPECT_EQ(entries.at("CFBundleName"), "Veltrix");
    EXPECT_FALSE(entries.at("CFBundleIdentifier").empty());

    // The bundle's version is the effect's: packed as major << 19, minor << 15,
    // bug-fix << 11.
    const std::string version = std::to_string((kVeltrixVersion >> 19) & 0xF) + "." +
                                std::to_string((kVeltrixVersion >> 15) & 0xF) + "." +
                                std::to_string((kVeltrixVersion >> 11) & 0xF);
    EXPECT_EQ(entries.at("CFBundleShortVersionString"), version);
    EXPECT_EQ(entries.at("CFBundleVersion"), version);
}

TEST(MacBundle, PkgInfoNamesTypeAndSignature) {
    EXPECT_EQ(readGenerated("PkgInfo"), "eFKTFXTC");
}

} // namespace
