// Golden images: small reference renders kept in tests/golden/ and compared
// exactly, channel by channel, in float.
//
// File format (all numbers little-endian):
//     bytes 0..7    "VXGOLD1\n"
//     bytes 8..11   width  (uint32)
//     bytes 12..15  height (uint32)
//     then width * height pixels, rows top first, each four IEEE floats in
//     the order red, green, blue, alpha (straight colour).
//
// Regenerating. A golden changes only on purpose: run the golden tests with
// VELTRIX_UPDATE_GOLDEN=1 in the environment, e.g.
//     VELTRIX_UPDATE_GOLDEN=1 build/tests/test_headless --gtest_filter='*SmartRenderGolden*'
// Each test then rewrites its file in the source tree and is reported as
// skipped, not passed; review the new images before committing them. Without
// the variable a missing or unreadable golden is a failure, never written; a
// frame that differs is written to the test's temporary folder for a look.
//
// The references hold for x86-64 builds at every optimisation level and under
// the sanitizers. A compiler that fuses multiplies and adds (as on arm64 by
// default) rounds differently in the last bits and needs its own references.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace golden {

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<float> rgba; // width * height * 4

    float *at(std::uint32_t x, std::uint32_t y) { return &rgba[(std::size_t(y) * width + x) * 4]; }
    const float *at(std::uint32_t x, std::uint32_t y) const {
        return &rgba[(std::size_t(y) * width + x) * 4];
    }
};

inline constexpr char kMagic[8] = {'V', 'X', 'G', 'O', 'L', 'D', '1', '\n'};

inline bool updateRequested() {
    const char *value = std::getenv("VELTRIX_UPDATE_GOLDEN");
    return value && std::string(value) == "1";
}

inline void putU32(std::string &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

inline std::uint32_t getU32(const unsigned char *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline bool write(const std::string &path, const Image &image) {
    std::string bytes(kMagic, sizeof kMagic);
    putU32(bytes, image.width);
    putU32(bytes, image.height);
    for (float f : image.rgba) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        putU32(bytes, bits);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

// False (and `image` empty) for a missing file, a wrong magic or a size that
// does not match the header.
inline bool read(const std::string &path, Image &image) {
    image = Image{};
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 16 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::uint32_t width = getU32(p + 8), height = getU32(p + 12);
    if (width > 4096 || height > 4096 ||
        bytes.size() != 16 + std::size_t(width) * height * 16)
        return false;
    image.width = width;
    image.height = height;
    image.rgba.resize(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < image.rgba.size(); ++i) {
        const std::uint32_t bits = getU32(p + 16 + 4 * i);
        std::memcpy(&image.rgba[i], &bits, sizeof bits);
    }
    return true;
}

} // namespace golden
