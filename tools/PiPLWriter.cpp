#include "tools/PiPLWriter.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace pipl {

namespace {

class ByteWriter {
public:
    explicit ByteWriter(bool bigEndian) : bigEndian_(bigEndian) {}

    void word16(std::uint16_t value) { put(value, 2); }
    void word32(std::uint32_t value) { put(value, 4); }
    void bytes(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    void byte(std::uint8_t value) { bytes_.push_back(value); }
    void padTo4(std::size_t from) {
        while ((bytes_.size() - from) % 4 != 0) bytes_.push_back(0);
    }
    std::size_t size() const { return bytes_.size(); }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    void put(std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = bigEndian_ ? 8 * (width - 1 - i) : 8 * i;
            bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }

    bool bigEndian_;
    std::vector<std::uint8_t> bytes_;
};

// The value's bytes, unpadded.
std::vector<std::uint8_t> encodeValue(const Property &property, bool bigEndian) {
    ByteWriter data(bigEndian);
    switch (property.encoding) {
    case Encoding::FourCharCode:
        if (property.text.size() != 4)
            throw std::length_error("four-character code '" + std::string(property.text) +
                                    "' is not four characters long");
        data.word32(fourCC(property.text));
        break;
    case Encoding::PascalString:
        if (property.text.size() > 255)
            throw std::length_error("string too long for a length byte: " +
                                    std::string(property.text.substr(0, 32)) + "...");
        data.byte(static_cast<std::uint8_t>(property.text.size()));
        data.bytes(property.text);
        break;
    case Encoding::CString:
        data.bytes(property.text);
        data.byte(0);
        break;
    case Encoding::Number:
        data.word32(property.number);
        break;
    }
    return data.take();
}

} // namespace

std::vector<std::uint8_t> serialize(Platform platform) {
    const auto list = properties(platform);
    return serialize(list, platform);
}

std::vector<std::uint8_t> serialize(std::span<const Property> list, Platform platform) {
    const bool bigEndian = platform == Platform::MacOS64;
    ByteWriter out(bigEndian);
    if (platform == Platform::Windows64) out.word16(1);
    out.word32(kListVersion);
    out.word32(static_cast<std::uint32_t>(list.size()));
    for (const Property &property : list) {
        const std::vector<std::uint8_t> value = encodeValue(property, bigEndian);
        const std::size_t padded = (value.size() + 3) / 4 * 4;
        out.word32(kVendor);
        out.word32(property.key);
        out.word32(kPropertyId);
        out.word32(static_cast<std::uint32_t>(padded));
        const std::size_t dataStart = out.size();
        for (std::uint8_t b : value) out.byte(b);
        out.padTo4(dataStart);
    }
    return out.take();
}

} // namespace pipl
