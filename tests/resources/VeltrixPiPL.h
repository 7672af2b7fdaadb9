// What the host must read in Veltrix's resource description: twelve
// properties, vendor "8BIM", id 0, in this order. Written out here from what
// the plug-in has to tell the host rather than taken from resources/PiPL.h,
// so that a slip in the description shows. Shared with the Windows check
// under Wine, which reads the list out of Veltrix.aex itself.
//
// Thread safety: pure functions.
#pragma once

#include "host/SDK.h"
#include "tests/resources/PiPLReader.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace pipl_reader {

enum class ValueKind { FourCharCode, PascalString, CString, Number };

struct ExpectedProperty {
    const char *key; // null: the platform's code property
    ValueKind kind;
    const char *text;
    std::uint32_t number;
};

inline const std::array<ExpectedProperty, 12> &veltrixProperties() {
    using K = ValueKind;
    static const std::array<ExpectedProperty, 12> expected{{
        {"kind", K::FourCharCode, "eFKT", 0},
        {"name", K::PascalString, "Veltrix", 0},
        {"catg", K::PascalString, "NORVANE", 0},
        {nullptr, K::CString, "EntryPointFunc", 0},
        {"ePVR", K::Number, nullptr, 0x00020000},  // 2.0
        {"eSVR", K::Number, nullptr, 0x000D0000},  // 13.0
        {"eVER", K::Number, nullptr, 0x00080001},  // 1.0.0, develop, build 1
        {"eINF", K::Number, nullptr, 0},
        {"eGLO", K::Number, nullptr,
         static_cast<std::uint32_t>(PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_KEEP_RESOURCE_OPEN)},
        {"eGL2", K::Number, nullptr, 0x00001406},
        {"eMNA", K::PascalString, "NORVANE_Veltrix", 0},
        {"aeFL", K::Number, nullptr, 0},
    }};
    return expected;
}

// The property's value in words ("eFKT", "\"Veltrix\"", "0x00080001"), or
// "<malformed>".
inline std::string valueText(const RawProperty &property, ValueKind kind, ByteOrder order) {
    std::optional<std::string> text;
    switch (kind) {
    case ValueKind::FourCharCode: text = fourCCValue(property, order); break;
    case ValueKind::PascalString: text = pascalStringValue(property); break;
    case ValueKind::CString: text = cStringValue(property); break;
    case ValueKind::Number:
        if (const auto value = numberValue(property, order)) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(*value));
            return buffer;
        }
        break;
    }
    if (!text) return "<malformed>";
    return kind == ValueKind::FourCharCode ? *text : "\"" + *text + "\"";
}

// One line per property: "4  8664  \"EntryPointFunc\"  (16 bytes)".
inline std::vector<std::string> describe(const PropertyList &list, ByteOrder order) {
    std::vector<std::string> lines;
    const auto &expected = veltrixProperties();
    for (std::size_t i = 0; i < list.properties.size(); ++i) {
        const RawProperty &p = list.properties[i];
        const ValueKind kind = i < expected.size() ? expected[i].kind : ValueKind::Number;
        lines.push_back(std::to_string(i + 1) + "  " + p.vendor + "  " + p.key + "  id " +
                        std::to_string(p.id) + "  " + valueText(p, kind, order) + "  (" +
                        std::to_string(p.data.size()) + " bytes)");
    }
    return lines;
}

// Every way `list` differs from Veltrix's description, whose entry point sits
// under `codeKey` ("8664" on Windows, "mi64" on macOS); empty when it matches.
inline std::vector<std::string> differencesFromVeltrix(const PropertyList &list, ByteOrder order,
                                                       const std::string &codeKey) {
    std::vector<std::string> differences;
    const auto &expected = veltrixProperties();
    if (list.version != 0) differences.push_back("list version " + std::to_string(list.version));
    if (list.properties.size() != expected.size())
        differences.push_back(std::to_string(list.properties.size()) + " properties, not 12");
    for (std::size_t i = 0; i < list.properties.size() && i < expected.size(); ++i) {
        const RawProperty &p = list.properties[i];
        const ExpectedProperty &want = expected[i];
        const std::string key = want.key ? want.key : codeKey;
        const std::string where = "property " + std::to_string(i + 1) + " (" + key + "): ";
        if (p.key != key) differences.push_back(where + "key is " + p.key);
        if (p.vendor != "8BIM") differences.push_back(where + "vendor is " + p.vendor);
        if (p.id != 0) differences.push_back(where + "id is " + std::to_string(p.id));
        if (p.data.size() % 4 != 0)
            differences.push_back(where + "length " + std::to_string(p.data.size()) +
                                  " is not padded to four bytes");
        const std::string got = valueText(p, want.kind, order);
        std::string wanted;
        if (want.kind == ValueKind::Number) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(want.number));
            wanted = buffer;
        } else {
            wanted = want.kind == ValueKind::FourCharCode ? std::string(want.text)
                                                          : "\"" + std::string(want.text) + "\"";
        }
        if (got != wanted) differences.push_back(where + "value " + got + ", expected " + wanted);
    }
    return differences;
}

} // namespace pipl_reader
