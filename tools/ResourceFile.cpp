#include "tools/ResourceFile.h"

#include <stdexcept>

namespace rsrc {

namespace {

constexpr std::uint32_t kDataOffset = 256;  // data follows the header area
constexpr std::uint16_t kTypeListOffset = 28; // from the map's start
constexpr std::uint32_t kTypeListSize = 2 + 8; // one type
constexpr std::uint32_t kReferenceSize = 12;
constexpr std::uint32_t kMapSize = kTypeListOffset + kTypeListSize + kReferenceSize;

void put(std::vector<std::uint8_t> &out, std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putHeader(std::vector<std::uint8_t> &out, std::uint32_t mapOffset, std::uint32_t dataLength) {
    put(out, kDataOffset, 4);
    put(out, mapOffset, 4);
    put(out, dataLength, 4);
    put(out, kMapSize, 4);
}

} // namespace

std::vector<std::uint8_t> singleResourceFile(std::uint32_t type, std::int16_t id,
                                             std::span<const std::uint8_t> data) {
    // The reference's data offset has 24 bits.
    if (data.size() > 0xFFFFFF - 4) throw std::length_error("resource too large for a resource file");
    const auto dataLength = static_cast<std::uint32_t>(4 + data.size());
    const std::uint32_t mapOffset = kDataOffset + dataLength;

    std::vector<std::uint8_t> out;
    out.reserve(mapOffset + kMapSize);
    putHeader(out, mapOffset, dataLength);
    out.resize(kDataOffset, 0); // reserved for the system and the application

    put(out, static_cast<std::uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());

    putHeader(out, mapOffset, dataLength); // the map's copy of the header
    put(out, 0, 4);                        // next resource map (runtime)
    put(out, 0, 2);                        // file reference number (runtime)
    put(out, 0, 2);                        // file attributes
    put(out, kTypeListOffset, 2);
    put(out, kMapSize, 2); // name list: empty, at the map's end
    // Type list: one type with one resource.
    put(out, 0, 2);
    put(out, type, 4);
    put(out, 0, 2);
    put(out, kTypeListSize, 2); // its reference list, from the type list's start
    // Reference list.
    put(out, static_cast<std::uint16_t>(id), 2);
    put(out, 0xFFFF, 2); // no name
    put(out, 0, 1);      // attributes
    put(out, 0, 3);      // offset of the resource within the data
    put(out, 0, 4);      // handle (runtime)
    return out;
}

} // namespace rsrc
