// Reads a plug-in resource description back the way the host does, to check
// what the build wrote: the binary property list (either byte order, with or
// without Windows' leading word) and a classic resource file holding it.
// Every read is bounds-checked: malformed bytes give an error, never a crash.
// Header-only, so that the Windows check under Wine uses the same reader.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pipl_reader {

enum class ByteOrder { Little, Big };

struct RawProperty {
    std::string vendor; // four characters, in reading order ("8BIM")
    std::string key;    // four characters, in reading order ("kind")
    std::uint32_t id = 0;
    std::vector<std::uint8_t> data; // as long as the length field says
};

struct PropertyList {
    std::uint32_t version = 0;
    std::vector<RawProperty> properties;
};

// Reads bytes from a span without ever reading past its end.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> bytes, ByteOrder order) : bytes_(bytes), order_(order) {}

    std::size_t left() const { return bytes_.size() - at_; }
    std::size_t offset() const { return at_; }

    bool number(std::uint32_t &value, int width) {
        if (left() < static_cast<std::size_t>(width)) return false;
        value = 0;
        for (int i = 0; i < width; ++i) {
            const std::uint32_t byte = bytes_[at_ + i];
            value |= order_ == ByteOrder::Big ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
        }
        at_ += static_cast<std::size_t>(width);
        return true;
    }
    bool fourCC(std::string &code) {
        std::uint32_t value = 0;
        if (!number(value, 4)) return false;
        code.clear();
        for (int shift = 24; shift >= 0; shift -= 8) code += static_cast<char>(value >> shift);
        return true;
    }
    bool bytes(std::vector<std::uint8_t> &out, std::size_t count) {
        if (left() < count) return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
        at_ += count;
        return true;
    }
    bool seek(std::size_t offset) {
        if (offset > bytes_.size()) return false;
        at_ = offset;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    ByteOrder order_;
    std::size_t at_ = 0;
};

// The property list in `bytes`, which must hold exactly the list (and, with
// `leadingWord`, Windows' 16-bit word 1 before it). Each property's data is
// as long as its length field; a reader steps on by that length rounded up
// to four bytes.
inline std::optional<PropertyList> parsePropertyList(std::span<const std::uint8_t> bytes,
                                                     ByteOrder order, bool leadingWord,
                                                     std::string &error) {
    Cursor in(bytes, order);
    if (leadingWord) {
        std::uint32_t word = 0;
        if (!in.number(word, 2) || word != 1) {
            error = "no leading word 1";
            return std::nullopt;
        }
    }
    PropertyList list;
    std::uint32_t count = 0;
    if (!in.number(list.version, 4) || !in.number(count, 4)) {
        error = "list header cut short";
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        RawProperty property;
        std::uint32_t length = 0;
        if (!in.fourCC(property.vendor) || !in.fourCC(property.key) || !in.number(property.id, 4) ||
            !in.number(length, 4) || !in.bytes(property.data, length)) {
            error = "property " + std::to_string(i + 1) + " of " + std::to_string(count) +
                    " cut short at byte " + std::to_string(in.offset());
            return std::nullopt;
        }
        const std::size_t padding = (4 - length % 4) % 4;
        std::vector<std::uint8_t> skipped;
        if (!in.bytes(skipped, padding)) {
            error = "property " + property.key + " lacks its padding";
            return std::nullopt;
        }
        list.properties.push_back(std::move(property));
    }
    if (in.left() != 0) {
        error = std::to_string(in.left()) + " bytes after the last property";
        return std::nullopt;
    }
    return list;
}

// The data of resource (`type`, `id`) in a classic resource file, or nothing
// with the reason in `error`.
inline std::optional<std::vector<std::uint8_t>> findResource(std::span<const std::uint8_t> file,
                                                             const std::string &type,
                                                             std::int16_t id, std::string &error) {
    Cursor in(file, ByteOrder::Big);
    std::uint32_t dataOffset = 0, mapOffset = 0, dataLength = 0, mapLength = 0;
    if (!in.number(dataOffset, 4) || !in.number(mapOffset, 4) || !in.number(dataLength, 4) ||
        !in.number(mapLength, 4) || mapOffset > file.size() || mapLength > file.size() - mapOffset ||
        dataOffset > file.size() || dataLength > file.size() - dataOffset) {
        error = "resource file header does not fit the file";
        return std::nullopt;
    }
    std::uint32_t typeListOffset = 0, typeCount = 0;
    if (!in.seek(mapOffset + 24) || !in.number(typeListOffset, 2) ||
        !in.seek(mapOffset + typeListOffset) || !in.number(typeCount, 2)) {
        error = "resource map cut short";
        return std::nullopt;
    }
    const std::size_t typeList = mapOffset + typeListOffset;
    for (std::uint32_t t = 0; t <= typeCount; ++t) {
        std::string code;
        std::uint32_t count = 0, referencesOffset = 0;
        if (!in.seek(typeList + 2 + 8 * t) || !in.fourCC(code) || !in.number(count, 2) ||
            !in.number(referencesOffset, 2)) {
            error = "type list cut short";
            return std::nullopt;
        }
        if (code != type) continue;
        for (std::uint32_t r = 0; r <= count; ++r) {
            std::uint32_t resourceId = 0, nameOffset = 0, attributes = 0, offset = 0, length = 0;
            std::vector<std::uint8_t> data;
            if (!in.seek(typeList + referencesOffset + 12 * r) || !in.number(resourceId, 2) ||
                !in.number(nameOffset, 2) || !in.number(attributes, 1) || !in.number(offset, 3)) {
                error = "reference list cut short";
                return std::nullopt;
            }
            if (static_cast<std::int16_t>(resourceId) != id) continue;
            if (offset > dataLength || dataLength - offset < 4 || !in.seek(dataOffset + offset) ||
                !in.number(length, 4) || length > dataLength - offset - 4 ||
                !in.bytes(data, length)) {
                error = "resource data does not fit the data area";
                return std::nullopt;
            }
            return data;
        }
    }
    error = "no resource '" + type + "' " + std::to_string(id);
    return std::nullopt;
}

// Property values.
inline std::optional<std::uint32_t> numberValue(const RawProperty &property, ByteOrder order) {
    if (property.data.size() != 4) return std::nullopt;
    Cursor in(property.data, order);
    std::uint32_t value = 0;
    in.number(value, 4);
    return value;
}

inline std::optional<std::string> fourCCValue(const RawProperty &property, ByteOrder order) {
    if (property.data.size() != 4) return std::nullopt;
    Cursor in(property.data, order);
    std::string code;
    in.fourCC(code);
    return code;
}

// A length byte, the characters, then zero padding only.
inline std::optional<std::string> pascalStringValue(const RawProperty &property) {
    const auto &data = property.data;
    if (data.empty() || 1u + data[0] > data.size()) return std::nullopt;
    for (std::size_t i = 1u + data[0]; i < data.size(); ++i)
        if (data[i] != 0) return std::nullopt;
    return std::string(data.begin() + 1, data.begin() + 1 + data[0]);
}

// The characters up to the first zero byte, which must exist.
inline std::optional<std::string> cStringValue(const RawProperty &property) {
    const auto &data = property.data;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (data[i] == 0) return std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(i));
    return std::nullopt;
}

} // namespace pipl_reader
