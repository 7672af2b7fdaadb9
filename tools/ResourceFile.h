// A classic resource file as macOS plug-in bundles carry it in
// Contents/Resources: the resource map lives in the file's data, not in a
// resource fork, so the file survives any copy or archive.
//
// Layout (big-endian): a 256-byte header area whose first 16 bytes give the
// offsets and lengths of the data and the map; the data, each resource as a
// 32-bit length and its bytes; the map, which repeats those 16 bytes, then
// the offsets of the type list and the name list, the type list (types - 1,
// then per type its code, its resources - 1 and the offset of its reference
// list) and the reference lists (per resource: id, name offset or -1,
// attributes and a 24-bit offset into the data, a reserved word).
//
// Thread safety: a pure function.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace rsrc {

// A resource file holding the one resource (`type`, `id`) with `data`. Throws
// std::length_error when the data is too large for the format's offsets.
std::vector<std::uint8_t> singleResourceFile(std::uint32_t type, std::int16_t id,
                                             std::span<const std::uint8_t> data);

} // namespace rsrc
