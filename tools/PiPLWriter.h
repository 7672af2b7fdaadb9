// Serialises the plug-in's resource description (resources/PiPL.h) into the
// binary property list the host reads from resource "PiPL" 16000.
//
// Layout, in the platform's byte order (little-endian on Windows, big-endian
// on macOS):
//   Windows only: a 16-bit word 1 ahead of the list;
//   list version (32 bits), property count (32 bits);
//   per property: vendor code, key, property id and data length (32 bits
//   each), then the data, padded with zeros to a multiple of four bytes. The
//   length counts the padding, so a reader may step from property to property
//   by the length alone.
// Four-character codes are 32-bit numbers like any other, so on Windows their
// characters appear byte-reversed ("8BIM" is stored as "MIB8").
//
// Thread safety: pure functions.
#pragma once

#include "resources/PiPL.h"

#include <cstdint>
#include <span>
#include <vector>

namespace pipl {

// The description of this plug-in, as the host on `platform` reads it.
std::vector<std::uint8_t> serialize(Platform platform);

// Any property list in `platform`'s layout. Throws std::length_error for a
// string a Pascal string cannot hold or a four-character code that is not
// four characters long.
std::vector<std::uint8_t> serialize(std::span<const Property> list, Platform platform);

} // namespace pipl
