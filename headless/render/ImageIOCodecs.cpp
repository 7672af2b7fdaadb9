#include "headless/render/ImageIOCodecs.h"

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

// stb_image_write's deflate, compiled with the rest of it in ImageIOStb.cpp
// but declared only there.
extern "C" unsigned char *stbi_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                             int quality);

namespace veltrix_render::codecs {

namespace {

// ---- byte order ------------------------------------------------------------------------------

struct Writer {
    Bytes &out;
    void u8(std::uint8_t v) { out.push_back(v); }
    void le16(std::uint16_t v) { u8(std::uint8_t(v)), u8(std::uint8_t(v >> 8)); }
    void le32(std::uint32_t v) { le16(std::uint16_t(v)), le16(std::uint16_t(v >> 16)); }
    void le64(std::uint64_t v) { le32(std::uint32_t(v)), le32(std::uint32_t(v >> 32)); }
    void be16(std::uint16_t v) { u8(std::uint8_t(v >> 8)), u8(std::uint8_t(v)); }
    void be32(std::uint32_t v) { be16(std::uint16_t(v >> 16)), be16(std::uint16_t(v)); }
    void leFloat(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        le32(bits);
    }
    void text(const char *s) { out.insert(out.end(), s, s + std::strlen(s) + 1); } // with its NUL
    void bytes(const std::uint8_t *p, std::size_t n) { out.insert(out.end(), p, p + n); }
};

std::uint32_t readBe32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool checkImage(const Image &image, const char *type, std::initializer_list<int> depths,
                std::string &error) {
    if (!image.complete()) {
        error = "the frame holds no pixels";
        return false;
    }
    if (std::find(depths.begin(), depths.end(), image.bits) == depths.end()) {
        error = std::string(type) + " files do not hold " + std::to_string(image.bits) + "-bit samples";
        return false;
    }
    return true;
}

// ---- PNG ---------------------------------------------------------------------------------------

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

std::uint32_t crc32(const std::uint8_t *p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void pngChunk(Writer &w, const char type[5], const std::uint8_t *data, std::size_t n) {
    w.be32(std::uint32_t(n));
    const std::size_t start = w.out.size();
    w.bytes(reinterpret_cast<const std::uint8_t *>(type), 4);
    w.bytes(data, n);
    w.be32(crc32(w.out.data() + start, n + 4));
}

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// ---- TIFF --------------------------------------------------------------------------------------

enum TiffType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4 };

struct TiffTag {
    std::uint16_t tag;
    TiffType type;
    std::uint32_t count;
    Bytes value; // little-endian, count values of the type
};

TiffTag shorts(std::uint16_t tag, std::initializer_list<std::uint16_t> values) {
    TiffTag t{tag, kShort, std::uint32_t(values.size()), {}};
    Writer w{t.value};
    for (std::uint16_t v : values) w.le16(v);
    return t;
}

TiffTag longs(std::uint16_t tag, const std::vector<std::uint32_t> &values) {
    TiffTag t{tag, kLong, std::uint32_t(values.size()), {}};
    Writer w{t.value};
    for (std::uint32_t v : values) w.le32(v);
    return t;
}

TiffTag ascii(std::uint16_t tag, const char *text) {
    TiffTag t{tag, kAscii, std::uint32_t(std::strlen(text) + 1), {}};
    Writer{t.value}.text(text);
    return t;
}

// The samples of rows top first, little-endian.
void appendSamplesLe(Writer &w, const Image &image) {
    if (image.bits == 8) w.bytes(image.u8.data(), image.u8.size());
    if (image.bits == 16)
        for (std::uint16_t v : image.u16) w.le16(v);
    if (image.bits == 32)
        for (float v : image.f32) w.leFloat(v);
}

// ---- EXR ---------------------------------------------------------------------------------------

void exrAttribute(Writer &w, const char *name, const char *type, const Bytes &value) {
    w.text(name);
    w.text(type);
    w.le32(std::uint32_t(value.size()));
    w.bytes(value.data(), value.size());
}

Bytes exrBox(int width, int height) {
    Bytes b;
    Writer w{b};
    w.le32(0), w.le32(0), w.le32(std::uint32_t(width - 1)), w.le32(std::uint32_t(height - 1));
    return b;
}

} // namespace

// ---- writing -----------------------------------------------------------------------------------

bool encodePng(const Image &image, Bytes &file, std::string &error) {
    if (!checkImage(image, "PNG", {8, 16}, error)) return false;
    const std::size_t bytesPerSample = std::size_t(image.bits / 8);
    const std::size_t rowBytes = std::size_t(image.width) * 4 * bytesPerSample + 1;
    if (rowBytes * std::size_t(image.height) > std::size_t(INT_MAX)) {
        error = "the frame is too large for a PNG file";
        return false;
    }
    // Each row: filter type 0 (none), then the samples, 16-bit ones big-endian.
    Bytes raw;
    raw.reserve(rowBytes * std::size_t(image.height));
    Writer r{raw};
    const std::size_t rowSamples = std::size_t(image.width) * 4;
    for (std::size_t y = 0; y < std::size_t(image.height); ++y) {
        r.u8(0);
        if (image.bits == 8)
            r.bytes(&image.u8[y * rowSamples], rowSamples);
        else
            for (std::size_t i = 0; i < rowSamples; ++i) r.be16(image.u16[y * rowSamples + i]);
    }
    int packedSize = 0;
    unsigned char *packed = stbi_zlib_compress(raw.data(), int(raw.size()), &packedSize, 8);
    if (!packed) {
        error = "out of memory while compressing";
        return false;
    }
    file.clear();
    Writer w{file};
    w.bytes(kPngSignature, sizeof kPngSignature);
    Bytes header;
    Writer h{header};
    h.be32(std::uint32_t(image.width)), h.be32(std::uint32_t(image.height));
    h.u8(std::uint8_t(image.bits)), h.u8(6 /* RGBA */), h.u8(0), h.u8(0), h.u8(0);
    pngChunk(w, "IHDR", header.data(), header.size());
    pngChunk(w, "IDAT", packed, std::size_t(packedSize));
    std::free(packed);
    pngChunk(w, "IEND", nullptr, 0);
    return true;
}

bool encodeTiff(const Image &image, Bytes &file, std::string &error) {
    if (!checkImage(image, "TIFF", {8, 16, 32}, error)) return false;
    const std::uint64_t rowBytes = std::uint64_t(image.width) * 4 * std::uint64_t(image.bits / 8);
    const std::uint64_t dataBytes = rowBytes * std::uint64_t(image.height);
    // Offsets are 32-bit: pixels, the directory and its values must end below 4 GiB.
    if (dataBytes + 8 * std::uint64_t(image.height) + 4096 > 0xFFFFFFFFull) {
        error = "the frame is too large for a TIFF file";
        return false;
    }
    // Header, then the pixels (one strip per row), then the directory and
    // the values too long to sit in it.
    std::vector<std::uint32_t> offsets(std::size_t(image.height));
    for (std::size_t y = 0; y < offsets.size(); ++y) offsets[y] = std::uint32_t(8 + y * rowBytes);
    const std::uint16_t bits = std::uint16_t(image.bits);
    const std::uint16_t format = image.bits == 32 ? 3 /* IEEE float */ : 1 /* unsigned */;
    const std::vector<TiffTag> tags = {
        longs(256, {std::uint32_t(image.width)}),
        longs(257, {std::uint32_t(image.height)}),
        shorts(258, {bits, bits, bits, bits}),
        shorts(259, {1}), // no compression
        shorts(262, {2}), // RGB
        longs(273, offsets),
        shorts(277, {4}),
        longs(278, {1}), // rows per strip
        longs(279, std::vector<std::uint32_t>(offsets.size(), std::uint32_t(rowBytes))),
        shorts(284, {1}), // samples of a pixel together
        ascii(305, "veltrix-render"),
        shorts(338, {2}), // the fourth sample is unassociated alpha
        shorts(339, {format, format, format, format}),
    };
    file.clear();
    file.reserve(std::size_t(dataBytes) + 8 * offsets.size() + 512);
    Writer w{file};
    w.u8('I'), w.u8('I'), w.le16(42);
    const std::uint32_t directory = std::uint32_t(8 + dataBytes); // even: rows hold 4 samples
    w.le32(directory);
    appendSamplesLe(w, image);
    std::uint32_t overflow = directory + 2 + std::uint32_t(tags.size()) * 12 + 4;
    w.le16(std::uint16_t(tags.size()));
    for (const TiffTag &t : tags) { // in ascending tag order, as readers expect
        w.le16(t.tag), w.le16(t.type), w.le32(t.count);
        if (t.value.size() <= 4) {
            Bytes inline4 = t.value;
            inline4.resize(4, 0);
            w.bytes(inline4.data(), 4);
        } else {
            w.le32(overflow);
            overflow += std::uint32_t((t.value.size() + 1) & ~std::size_t(1));
        }
    }
    w.le32(0); // no further directory
    for (const TiffTag &t : tags) {
        if (t.value.size() <= 4) continue;
        w.bytes(t.value.data(), t.value.size());
        if (t.value.size() % 2) w.u8(0); // values start on even offsets
    }
    return true;
}

bool encodeExr(const Image &image, Bytes &file, std::string &error) {
    if (!checkImage(image, "EXR", {32}, error)) return false;
    if (std::uint64_t(image.width) * 16 > std::uint64_t(INT_MAX)) { // a line's size is an int
        error = "the frame is too large for an EXR file";
        return false;
    }
    file.clear();
    Writer w{file};
    w.le32(20000630); // magic number
    w.le32(2);        // version 2, single part, scan lines
    // Channels in the alphabetical order the format requires.
    static const char *const kChannels[] = {"A", "B", "G", "R"};
    static const int kSampleOf[] = {3, 2, 1, 0};
    Bytes channels;
    Writer c{channels};
    for (const char *name : kChannels) {
        c.text(name);
        c.le32(2); // FLOAT
        c.le32(0); // pLinear and three reserved bytes
        c.le32(1), c.le32(1); // no subsampling
    }
    c.u8(0);
    exrAttribute(w, "channels", "chlist", channels);
    exrAttribute(w, "compression", "compression", {0});
    exrAttribute(w, "dataWindow", "box2i", exrBox(image.width, image.height));
    exrAttribute(w, "displayWindow", "box2i", exrBox(image.width, image.height));
    exrAttribute(w, "lineOrder", "lineOrder", {0}); // increasing y
    exrAttribute(w, "pixelAspectRatio", "float", {0, 0, 0x80, 0x3F}); // 1.0f
    exrAttribute(w, "screenWindowCenter", "v2f", Bytes(8, 0));
    exrAttribute(w, "screenWindowWidth", "float", {0, 0, 0x80, 0x3F});
    w.u8(0); // end of header

    const std::uint64_t lineBytes = std::uint64_t(image.width) * 4 * 4;
    const std::uint64_t firstLine = file.size() + 8 * std::uint64_t(image.height);
    for (int y = 0; y < image.height; ++y) w.le64(firstLine + std::uint64_t(y) * (8 + lineBytes));
    const std::size_t width = std::size_t(image.width);
    for (int y = 0; y < image.height; ++y) {
        w.le32(std::uint32_t(y));
        w.le32(std::uint32_t(lineBytes));
        const float *row = &image.f32[std::size_t(y) * width * 4];
        for (int channel : kSampleOf)
            for (std::size_t x = 0; x < width; ++x) w.leFloat(row[x * 4 + std::size_t(channel)]);
    }
    return true;
}

bool encode(const Image &image, const std::string &extension, Bytes &file, std::string &error) {
    if (extension == ".png") return encodePng(image, file, error);
    if (extension == ".tif" || extension == ".tiff") return encodeTiff(image, file, error);
    if (extension == ".exr") return encodeExr(image, file, error);
    error = "no writer for " + (extension.empty() ? std::string("files without an extension")
                                                  : extension + " files");
    return false;
}

// ---- footage --------------------------------------------------------------------------------------

namespace {

// The pixel aspect a PNG states in its pHYs chunk (0 when it states none).
float pngPixelAspect(const Bytes &file) {
    if (file.size() < 8 || std::memcmp(file.data(), kPngSignature, 8) != 0) return 0.0f;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = readBe32(&file[at]);
        const char *type = reinterpret_cast<const char *>(&file[at + 4]);
        if (std::memcmp(type, "IDAT", 4) == 0 || length > file.size() - at - 12) break;
        if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
            const std::uint32_t x = readBe32(&file[at + 8]), y = readBe32(&file[at + 12]);
            return x && y ? float(y) / float(x) : 0.0f;
        }
        at += 12 + length;
    }
    return 0.0f;
}

std::string stbReason() {
    const char *reason = stbi_failure_reason();
    return reason && *reason ? reason : "unknown error";
}

// Copies `count` decoded samples, freeing stb's buffer.
template <typename Sample> void takeSamples(Sample *data, std::size_t count, std::vector<Sample> &out) {
    out.assign(data, data + count);
    stbi_image_free(data);
}

} // namespace

bool decodeFootage(const Bytes &file, long long maxSide, backend::DecodedImage &out,
                   std::string &error) {
    if (file.size() > std::size_t(INT_MAX)) {
        error = "the file is too large";
        return false;
    }
    const auto *data = file.data();
    const int size = int(file.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, size, &width, &height, &channels)) {
        error = "not an image this build reads (" + stbReason() + ")";
        return false;
    }
    if (width <= 0 || height <= 0 || channels <= 0) {
        error = "the image has no pixels";
        return false;
    }
    if (width > maxSide || height > maxSide) {
        error = "the image is larger than " + std::to_string(maxSide) + " pixels a side";
        return false;
    }
    const std::size_t count = std::size_t(width) * std::size_t(height) * std::size_t(channels);
    int w = 0, h = 0, n = 0;
    if (stbi_is_hdr_from_memory(data, size)) {
        if (float *f = stbi_loadf_from_memory(data, size, &w, &h, &n, 0)) takeSamples(f, count, out.samples);
    } else if (stbi_is_16_bit_from_memory(data, size)) {
        if (stbi_us *s = stbi_load_16_from_memory(data, size, &w, &h, &n, 0)) takeSamples(s, count, out.samples16);
    } else {
        if (stbi_uc *s = stbi_load_from_memory(data, size, &w, &h, &n, 0)) takeSamples(s, count, out.samples8);
    }
    if (w != width || h != height || n != channels) {
        error = "cannot decode the image (" + stbReason() + ")";
        return false;
    }
    out.width = width;
    out.height = height;
    out.channels = channels;
    out.alphaChannel = channels == 2 ? 1 : channels == 4 ? 3 : -1;
    out.premultiplied = false; // these formats store straight colour
    out.pixelAspect = pngPixelAspect(file);
    return true;
}

// ---- reading back ----------------------------------------------------------------------------------

namespace {

// A TIFF's little- or big-endian numbers.
struct TiffReader {
    const Bytes &file;
    bool little;
    bool has(std::uint64_t at, std::uint64_t n) const { return at + n <= file.size(); }
    std::uint32_t u16(std::size_t at) const {
        return little ? file[at] | file[at + 1] << 8 : file[at] << 8 | file[at + 1];
    }
    std::uint32_t u32(std::size_t at) const {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }
    // Value `i` of a SHORT or LONG entry at `entry`; false when out of the file.
    bool value(std::size_t entry, std::uint32_t i, std::uint32_t &v) const {
        const std::uint32_t type = u16(entry + 2), count = u32(entry + 4);
        const std::uint32_t size = type == kShort ? 2 : type == kLong ? 4 : 0;
        if (!size || i >= count) return false;
        std::uint64_t at = std::uint64_t(count) * size <= 4 ? entry + 8 : u32(entry + 8);
        at += std::uint64_t(i) * size;
        if (!has(at, size)) return false;
        v = size == 2 ? u16(std::size_t(at)) : u32(std::size_t(at));
        return true;
    }
};

bool decodeStoredTiff(const Bytes &file, long long maxSide, Image &out, std::string &error) {
    const TiffReader r{file, file[0] == 'I'};
    error = "not a TIFF file this build reads back (uncompressed RGBA)";
    const std::uint32_t directory = r.u32(4);
    if (r.u16(2) != 42 || !r.has(directory, 2)) return false;
    const std::uint32_t entries = r.u16(directory);
    if (!r.has(std::uint64_t(directory) + 2, std::uint64_t(entries) * 12)) return false;
    auto find = [&](std::uint32_t tag) -> std::size_t {
        for (std::uint32_t i = 0; i < entries; ++i)
            if (r.u16(directory + 2 + i * 12) == tag) return directory + 2 + i * 12;
        return 0;
    };
    auto number = [&](std::uint32_t tag, std::uint32_t i, std::uint32_t fallback) {
        const std::size_t entry = find(tag);
        std::uint32_t v = fallback;
        if (entry && !r.value(entry, i, v)) v = 0xFFFFFFFFu;
        return v;
    };
    const std::uint32_t width = number(256, 0, 0), height = number(257, 0, 0);
    const std::uint32_t bits = number(258, 0, 1), format = number(339, 0, 1);
    if (number(259, 0, 1) != 1 || number(277, 0, 1) != 4 || number(284, 0, 1) != 1) return false;
    for (std::uint32_t i = 1; i < 4; ++i)
        if (number(258, i, bits) != bits || number(339, i, format) != format) return false;
    if (!((bits == 8 && format == 1) || (bits == 16 && format == 1) || (bits == 32 && format == 3)))
        return false;
    if (width == 0 || height == 0 || width > maxSide || height > maxSide) {
        error = width && height ? "the image is larger than " + std::to_string(maxSide) + " pixels a side"
                                : "the image has no pixels";
        return false;
    }
    out = Image::transparent(int(width), int(height), int(bits));
    const std::size_t sampleBytes = bits / 8;
    const std::size_t total = out.sampleCount() * sampleBytes;
    // Strips hold whole rows; walk them in order, filling the frame.
    std::size_t filled = 0;
    for (std::uint32_t s = 0; filled < total; ++s) {
        const std::uint32_t at = number(273, s, 0xFFFFFFFFu), n = number(279, s, 0xFFFFFFFFu);
        if (at == 0xFFFFFFFFu || n == 0xFFFFFFFFu || n == 0 || n > total - filled || !r.has(at, n))
            return false;
        for (std::size_t i = 0; i < n; i += sampleBytes) {
            const std::size_t sample = (filled + i) / sampleBytes;
            if (bits == 8) out.u8[sample] = file[at + i];
            if (bits == 16) out.u16[sample] = std::uint16_t(r.u16(at + i));
            if (bits == 32) {
                const std::uint32_t v = r.u32(at + i);
                std::memcpy(&out.f32[sample], &v, sizeof v);
            }
        }
        filled += n;
    }
    error.clear();
    return true;
}

} // namespace

bool decodeStored(const Bytes &file, long long maxSide, Image &out, std::string &error) {
    if (file.size() >= 8 && (std::memcmp(file.data(), "II", 2) == 0 || std::memcmp(file.data(), "MM", 2) == 0))
        return decodeStoredTiff(file, maxSide, out, error);
    if (file.size() < 8 || std::memcmp(file.data(), kPngSignature, 8) != 0) {
        error = "not a PNG or TIFF file";
        return false;
    }
    backend::DecodedImage decoded;
    if (!decodeFootage(file, maxSide, decoded, error)) return false;
    if (decoded.channels != 4) {
        error = "expected 4 channels, found " + std::to_string(decoded.channels);
        return false;
    }
    // A PNG holds integers, which the decoder keeps.
    const int bits = decoded.samples16.empty() ? 8 : 16;
    out = Image::transparent(decoded.width, decoded.height, bits);
    if (bits == 16) out.u16 = std::move(decoded.samples16);
    else out.u8 = std::move(decoded.samples8);
    return true;
}

} // namespace veltrix_render::codecs
