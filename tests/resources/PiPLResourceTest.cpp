// The resource description as the build wrote it for each platform, read back
// as the host reads it.
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/GlobalData.h"
#include "tests/resources/VeltrixPiPL.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace pipl_reader;

namespace {

std::vector<std::uint8_t> readGenerated(const char *name) {
    std::ifstream file(std::string(VELTRIX_RESOURCES_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string bytesAt(const std::vector<std::uint8_t> &bytes, std::size_t from, std::size_t count) {
    if (from + count > bytes.size()) return "<past the end>";
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string lines(const std::vector<std::string> &text) {
    std::string joined;
    for (const auto &line : text) joined += line + "\n";
    return joined;
}

PropertyList windowsList() {
    std::string error;
    const auto list = parsePropertyList(readGenerated("Veltrix.pipl"), ByteOrder::Little, true, error);
    if (!list) ADD_FAILURE() << "Veltrix.pipl: " << error;
    return list.value_or(PropertyList{});
}

PropertyList macList(std::vector<std::uint8_t> *rawList = nullptr) {
    std::string error;
    const auto data = findResource(readGenerated("Veltrix.rsrc"), "PiPL", 16000, error);
    if (!data) {
        ADD_FAILURE() << "Veltrix.rsrc: " << error;
        return {};
    }
    if (rawList) *rawList = *data;
    const auto list = parsePropertyList(*data, ByteOrder::Big, false, error);
    if (!list) ADD_FAILURE() << "PiPL in Veltrix.rsrc: " << error;
    return list.value_or(PropertyList{});
}

std::uint32_t numberOf(const PropertyList &list, const std::string &key, ByteOrder order) {
    for (const auto &property : list.properties)
        if (property.key == key) return numberValue(property, order).value_or(0xDEADBEEF);
    ADD_FAILURE() << "no property " << key;
    return 0xDEADBEEF;
}

A_Err registerWithHost(AEGP_GlobalRefcon, const A_char *, AEGP_PluginID *id) {
    if (id) *id = 7;
    return A_Err_NONE;
}
const AEGP_UtilitySuite6 kUtilitySuite = {registerWithHost};

TEST(WindowsResource, ParsesBackToTheTwelveProperties) {
    const auto bytes = readGenerated("Veltrix.pipl");
    ASSERT_FALSE(bytes.empty()) << "Veltrix.pipl was not generated";
    // Little-endian words: the leading 1, list version 0, 12 properties, and
    // four-character codes stored byte-reversed.
    EXPECT_EQ(bytesAt(bytes, 0, 10), std::string("\x01\x00\0\0\0\0\x0C\0\0\0", 10));
    EXPECT_EQ(bytesAt(bytes, 10, 8), "MIB8dnik");
    EXPECT_EQ(bytesAt(bytes, 26, 4), "TKFe");

    const PropertyList list = windowsList();
    EXPECT_EQ(lines(differencesFromVeltrix(list, ByteOrder::Little, "8664")), "")
        << lines(describe(list, ByteOrder::Little));
}

TEST(WindowsResource, VersionAndFlagsAreWhatGlobalSetupAnnounces) {
    const PropertyList list = windowsList();
    EXPECT_EQ(numberOf(list, "eVER", ByteOrder::Little), kVeltrixVersion);
    EXPECT_EQ(numberOf(list, "eGLO", ByteOrder::Little), static_cast<std::uint32_t>(kVeltrixOutFlags));
    EXPECT_EQ(numberOf(list, "eGL2", ByteOrder::Little), static_cast<std::uint32_t>(kVeltrixOutFlags2));

    // And what the built plug-in really writes at global set-up.
    headless::Plugin plugin(VELTRIX_PLUGIN_PATH);
    headless::Host host(plugin);
    host.suites().add("AEGP Utility Suite", 11, &kUtilitySuite);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE) << host.last().thrown;
    EXPECT_EQ(host.outData()->my_version, numberOf(list, "eVER", ByteOrder::Little));
    EXPECT_EQ(static_cast<std::uint32_t>(host.outData()->out_flags),
              numberOf(list, "eGLO", ByteOrder::Little));
    EXPECT_EQ(static_cast<std::uint32_t>(host.outData()->out_flags2),
              numberOf(list, "eGL2", ByteOrder::Little));
    EXPECT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(MacResource, HoldsTheSameListBigEndianWithTheMacCodeProperty) {
    std::vector<std::uint8_t> raw;
    const PropertyList mac = macList(&raw);
    // Big-endian: no leading word, codes in reading order.
    EXPECT_EQ(bytesAt(raw, 0, 8), std::string("\0\0\0\0\0\0\0\x0C", 8));
    EXPECT_EQ(bytesAt(raw, 8, 8), "8BIMkind");
    EXPECT_EQ(bytesAt(raw, 24, 4), "eFKT");
    EXPECT_EQ(lines(differencesFromVeltrix(mac, ByteOrder::Big, "mi64")), "")
        << lines(describe(mac, ByteOrder::Big));

    // Property for property the same values as on Windows.
    const PropertyList windows = windowsList();
    ASSERT_EQ(mac.properties.size(), windows.properties.size());
    const auto &expected = veltrixProperties();
    for (std::size_t i = 0; i < mac.properties.size(); ++i)
        EXPECT_EQ(valueText(mac.properties[i], expected[i].kind, ByteOrder::Big),
                  valueText(windows.properties[i], expected[i].kind, ByteOrder::Little))
            << "property " << i + 1;
}

// The reader is what gives the checks above their teeth: a list cut short or
// with a lying length must be refused, never read past.
TEST(ResourceReader, RefusesEveryTruncatedOrInconsistentList) {
    const auto bytes = readGenerated("Veltrix.pipl");
    ASSERT_GT(bytes.size(), 10u);
    std::string error;
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(parsePropertyList(std::span(bytes).first(size), ByteOrder::Little, true, error))
            << "accepted the first " << size << " bytes";

    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(parsePropertyList(longer, ByteOrder::Little, true, error));
    auto lying = bytes;
    lying[10 + 12] = 0xFF; // first property's length
    EXPECT_FALSE(parsePropertyList(lying, ByteOrder::Little, true, error));

    const auto file = readGenerated("Veltrix.rsrc");
    ASSERT_GT(file.size(), 256u);
    for (std::size_t size = 0; size < file.size(); ++size)
        EXPECT_FALSE(findResource(std::span(file).first(size), "PiPL", 16000, error))
            << "found the resource in the first " << size << " bytes";
    EXPECT_FALSE(findResource(file, "PiPL", 16001, error));
    EXPECT_FALSE(findResource(file, "PIPL", 16000, error));
}

} // namespace
