// The plug-in's resource description, its "PiPL": the property list the host
// reads from the plug-in file before it loads the code, to learn what kind of
// plug-in this is, what to call it, where to list it and which function to
// call. The list is held here once; the build serialises it for each platform
// (tools/) and embeds it as resource "PiPL" 16000: in Veltrix.aex on Windows,
// in the bundle's resource file on macOS.
//
// The version and the two flag words are global set-up's own constants, so
// the host never sees one thing in the resource and another at set-up.
//
// Thread safety: constants and pure functions only.
#pragma once

#include "host/GlobalData.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace pipl {

// A four-character code as the host reads it: the first character in the
// most significant byte.
constexpr std::uint32_t fourCC(std::string_view code) {
    std::uint32_t value = 0;
    for (char c : code) value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

// A version property's word: major in the high half, minor in the low half.
constexpr std::uint32_t versionWord(std::uint16_t major, std::uint16_t minor) {
    return (std::uint32_t{major} << 16) | minor;
}

// Where the list will be read. Only the property that names the entry point
// differs: its key is the platform's code property.
enum class Platform { Windows64, MacOS64 };

constexpr std::uint32_t codeKey(Platform platform) {
    return platform == Platform::Windows64 ? fourCC("8664") : fourCC("mi64");
}

// How a property's value is laid out in its data (before padding to a
// multiple of four bytes).
enum class Encoding {
    FourCharCode, // a four-character code as a 32-bit number
    PascalString, // one length byte, then the characters
    CString,      // the characters, then a zero byte
    Number,       // a 32-bit number
};

struct Property {
    std::uint32_t key = 0;
    Encoding encoding = Encoding::Number;
    std::string_view text;    // FourCharCode, PascalString, CString
    std::uint32_t number = 0; // Number
};

// Every property carries this vendor code and property id.
inline constexpr std::uint32_t kVendor = fourCC("8BIM");
inline constexpr std::uint32_t kPropertyId = 0;
// The list's own version, and the resource's type and id.
inline constexpr std::uint32_t kListVersion = 0;
inline constexpr std::uint32_t kResourceType = fourCC("PiPL");
inline constexpr std::int16_t kResourceId = 16000;

inline constexpr std::size_t kPropertyCount = 12;

// The twelve properties in the order the host expects them.
constexpr std::array<Property, kPropertyCount> properties(Platform platform) {
    using E = Encoding;
    return {{
        {fourCC("kind"), E::FourCharCode, "eFKT", 0},
        {fourCC("name"), E::PascalString, "Veltrix", 0},
        {fourCC("catg"), E::PascalString, "NORVANE", 0},
        {codeKey(platform), E::CString, "EntryPointFunc", 0},
        {fourCC("ePVR"), E::Number, {}, versionWord(2, 0)},
        {fourCC("eSVR"), E::Number, {}, versionWord(13, 0)},
        {fourCC("eVER"), E::Number, {}, kVeltrixVersion},
        {fourCC("eINF"), E::Number, {}, 0},
        {fourCC("eGLO"), E::Number, {}, static_cast<std::uint32_t>(kVeltrixOutFlags)},
        {fourCC("eGL2"), E::Number, {}, static_cast<std::uint32_t>(kVeltrixOutFlags2)},
        {fourCC("eMNA"), E::PascalString, "NORVANE_Veltrix", 0},
        {fourCC("aeFL"), E::Number, {}, 0},
    }};
}

} // namespace pipl
