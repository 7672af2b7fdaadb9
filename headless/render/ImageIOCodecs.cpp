#include "headless/render/ImageIOCodecs.h"

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
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

enum TiffType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

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

TiffTag rational(std::uint16_t tag, std::uint32_t num, std::uint32_t den) {
    TiffTag t{tag, kRational, 1, {}};
    Writer w{t.value};
    w.le32(num), w.le32(den);
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

namespace {

const FileMetadata &metadataOf(const backend::FileOptions &options) {
    static const FileMetadata none;
    return options.metadata ? *options.metadata : none;
}

std::string softwareOf(const FileMetadata &m) { return m.software.empty() ? "veltrix-render" : m.software; }

// "scene S, frame N, composition time T s"; empty for no frame.
std::string frameDescription(const FileMetadata &m) {
    if (m.frame < 0) return {};
    char time[32];
    std::snprintf(time, sizeof time, "%g", m.time);
    return "scene " + m.scene + ", frame " + std::to_string(m.frame) + ", composition time " + time +
           " s" + (m.colourSpace.empty() ? "" : ", colour space " + m.colourSpace);
}

bool hasAspect(const FileMetadata &m) { return m.pixelAspect.num > 0 && m.pixelAspect.den > 0; }

bool sameName(const std::string &a, const char *b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The chunks before the pixels: pixel aspect, colour space, text.
void pngDescription(Writer &w, const FileMetadata &m) {
    if (hasAspect(m)) { // pixels per unit: a wide pixel has fewer across
        Bytes phys;
        Writer p{phys};
        p.be32(std::uint32_t(m.pixelAspect.den)), p.be32(std::uint32_t(m.pixelAspect.num)), p.u8(0);
        pngChunk(w, "pHYs", phys.data(), phys.size());
    }
    if (sameName(m.colourSpace, "sRGB")) {
        const std::uint8_t intent = 0; // perceptual
        pngChunk(w, "sRGB", &intent, 1);
    } else if (sameName(m.colourSpace, "linear")) {
        Bytes gamma;
        Writer{gamma}.be32(100000); // gamma 1.0
        pngChunk(w, "gAMA", gamma.data(), gamma.size());
    }
    auto text = [&w](const char *keyword, const std::string &value) {
        if (value.empty()) return;
        Bytes chunk;
        Writer c{chunk};
        c.text(keyword);
        c.bytes(reinterpret_cast<const std::uint8_t *>(value.data()), value.size());
        pngChunk(w, "tEXt", chunk.data(), chunk.size());
    };
    text("Software", softwareOf(m));
    text("DocumentName", m.scene);
    text("Description", frameDescription(m));
}

} // namespace

bool encodePng(const Image &image, Bytes &file, std::string &error,
               const backend::FileOptions &options) {
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
    pngDescription(w, metadataOf(options));
    pngChunk(w, "IDAT", packed, std::size_t(packedSize));
    std::free(packed);
    pngChunk(w, "IEND", nullptr, 0);
    return true;
}

bool encodeTiff(const Image &image, Bytes &file, std::string &error,
                const backend::FileOptions &options) {
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
    const FileMetadata &m = metadataOf(options);
    const std::string software = softwareOf(m), description = frameDescription(m);
    std::vector<TiffTag> tags = {
        longs(256, {std::uint32_t(image.width)}),
        longs(257, {std::uint32_t(image.height)}),
        shorts(258, {bits, bits, bits, bits}),
        shorts(259, {1}), // no compression
        shorts(262, {2}), // RGB
    };
    if (!m.scene.empty()) tags.push_back(ascii(269, m.scene.c_str())); // DocumentName
    if (!description.empty()) tags.push_back(ascii(270, description.c_str()));
    tags.push_back(longs(273, offsets));
    tags.push_back(shorts(277, {4}));
    tags.push_back(longs(278, {1})); // rows per strip
    tags.push_back(longs(279, std::vector<std::uint32_t>(offsets.size(), std::uint32_t(rowBytes))));
    if (hasAspect(m)) { // pixels per unit: a wide pixel has fewer across
        tags.push_back(rational(282, std::uint32_t(m.pixelAspect.den), 1));
        tags.push_back(rational(283, std::uint32_t(m.pixelAspect.num), 1));
    }
    tags.push_back(shorts(284, {1})); // samples of a pixel together
    if (hasAspect(m)) tags.push_back(shorts(296, {1})); // no absolute unit
    tags.push_back(ascii(305, software.c_str()));
    tags.push_back(shorts(338, {std::uint16_t(options.associatedAlpha ? 1 : 2)})); // the alpha's kind
    tags.push_back(shorts(339, {format, format, format, format}));
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

namespace {

Bytes exrText(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes exrMatrix(const std::array<float, 16> &m) {
    Bytes b;
    Writer w{b};
    for (float v : m) w.leFloat(v);
    return b;
}

// The attributes of FileMetadata; names as the OpenEXR format has them, or
// prefixed with the program's name where it has none.
void exrDescription(Writer &w, const FileMetadata &m) {
    exrAttribute(w, "Software", "string", exrText(softwareOf(m)));
    if (!m.scene.empty()) exrAttribute(w, "DocumentName", "string", exrText(m.scene));
    if (m.frame >= 0) {
        exrAttribute(w, "comments", "string", exrText(frameDescription(m)));
        exrAttribute(w, "veltrix:scene", "string", exrText(m.scene));
        Bytes frame, time;
        Writer{frame}.le32(std::uint32_t(m.frame));
        Writer{time}.leFloat(float(m.time));
        exrAttribute(w, "veltrix:frame", "int", frame);
        exrAttribute(w, "veltrix:time", "float", time);
    }
    if (!m.colourSpace.empty()) exrAttribute(w, "colorspace", "string", exrText(m.colourSpace));
    if (m.framesPerSecond.num > 0 && m.framesPerSecond.den > 0) {
        Bytes rate;
        Writer r{rate};
        r.le32(std::uint32_t(m.framesPerSecond.num)), r.le32(std::uint32_t(m.framesPerSecond.den));
        exrAttribute(w, "framesPerSecond", "rational", rate);
    }
    if (m.hasCamera) {
        exrAttribute(w, "worldToCamera", "m44f", exrMatrix(m.worldToCamera));
        exrAttribute(w, "worldToNDC", "m44f", exrMatrix(m.worldToNdc));
    }
}

} // namespace

std::uint16_t halfBits(float v) {
    std::uint32_t f;
    std::memcpy(&f, &v, sizeof f);
    const std::uint16_t sign = std::uint16_t((f >> 16) & 0x8000u);
    const std::uint32_t abs = f & 0x7FFFFFFFu;
    if (abs >= 0x7F800000u) return std::uint16_t(sign | 0x7C00u | (abs > 0x7F800000u ? 0x200u : 0u));
    if (abs >= 0x477FF000u) return std::uint16_t(sign | 0x7C00u); // rounds past the largest half
    if (abs < 0x38800000u) { // a half subnormal (or zero): scale by 2^24 and round to even
        const float scaled = std::fabs(v) * 16777216.0f;
        return std::uint16_t(sign | std::uint16_t(std::nearbyint(scaled)));
    }
    // Normal: rebias the exponent, round the 13 dropped bits to even.
    const std::uint32_t rebiased = abs - 0x38000000u;
    const std::uint32_t rounded = rebiased + 0x0FFFu + ((rebiased >> 13) & 1u);
    return std::uint16_t(sign | (rounded >> 13));
}

float srgbToLinear(float v) {
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float v) {
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

bool encodeExr(const Image &image, Bytes &file, std::string &error,
               const backend::FileOptions &options) {
    if (!checkImage(image, "EXR", {32}, error)) return false;
    const bool half = options.half;
    const std::uint32_t sampleBytes = half ? 2 : 4;
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
        c.le32(half ? 1 : 2); // HALF or FLOAT
        c.le32(0); // pLinear and three reserved bytes
        c.le32(1), c.le32(1); // no subsampling
    }
    c.u8(0);
    exrAttribute(w, "channels", "chlist", channels);
    exrAttribute(w, "compression", "compression", {0});
    exrAttribute(w, "dataWindow", "box2i", exrBox(image.width, image.height));
    exrAttribute(w, "displayWindow", "box2i", exrBox(image.width, image.height));
    exrAttribute(w, "lineOrder", "lineOrder", {0}); // increasing y
    const FileMetadata &m = metadataOf(options);
    Bytes aspect;
    Writer{aspect}.leFloat(hasAspect(m) ? float(m.pixelAspect.value()) : 1.0f);
    exrAttribute(w, "pixelAspectRatio", "float", aspect);
    exrAttribute(w, "screenWindowCenter", "v2f", Bytes(8, 0));
    exrAttribute(w, "screenWindowWidth", "float", {0, 0, 0x80, 0x3F});
    exrDescription(w, m);
    w.u8(0); // end of header

    const std::uint64_t lineBytes = std::uint64_t(image.width) * 4 * sampleBytes;
    const std::uint64_t firstLine = file.size() + 8 * std::uint64_t(image.height);
    for (int y = 0; y < image.height; ++y) w.le64(firstLine + std::uint64_t(y) * (8 + lineBytes));
    const std::size_t width = std::size_t(image.width);
    for (int y = 0; y < image.height; ++y) {
        w.le32(std::uint32_t(y));
        w.le32(std::uint32_t(lineBytes));
        const float *row = &image.f32[std::size_t(y) * width * 4];
        for (int channel : kSampleOf)
            for (std::size_t x = 0; x < width; ++x) {
                const float v = row[x * 4 + std::size_t(channel)];
                if (half) w.le16(halfBits(v));
                else w.leFloat(v);
            }
    }
    return true;
}

bool encode(const Image &image, const std::string &extension, Bytes &file, std::string &error,
            const backend::FileOptions &options) {
    if (!options.compression.empty() && options.compression != "none") {
        error = "this build writes no " + options.compression + " compression";
        return false;
    }
    if (extension == ".png") return encodePng(image, file, error, options);
    if (extension == ".tif" || extension == ".tiff") return encodeTiff(image, file, error, options);
    if (extension == ".exr") return encodeExr(image, file, error, options);
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
