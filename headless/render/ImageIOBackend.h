// What an image-file backend of veltrix-render provides. ImageIO.cpp holds
// everything that does not depend on the file library (formats, safe
// replacement of the target, footage checks and alpha handling) and calls
// these for the files themselves. One backend is linked:
//   ImageIOOiio.cpp     OpenImageIO (the Linux build)
//   ImageIOBuiltin.cpp  the writers of ImageIOCodecs and stb_image for footage
//                       (the Windows build, which has no OpenImageIO)
// Both write the same output types with the same samples.
//
// Thread safety: as ImageIO.h, every function may run on several threads at
// once for different files.
#pragma once

#include "headless/render/ImageIO.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrix_render::backend {

// Writes all of `image` to `path` as the type named by `extension` (lower
// case, with the dot: one of the output formats). False with a reason.
bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &extension,
               std::string &error);

// A footage file's first image as decoded: `channels` samples per pixel,
// rows top first. 8-bit and 16-bit files keep their integers (v standing for
// v / 255 or v / 65535, as FootageSource says); other files are read as
// floats. One of the three vectors holds the samples.
struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    int alphaChannel = -1;      // -1: none
    bool premultiplied = false; // colour stored multiplied by alpha
    float pixelAspect = 0.0f; // 0: the file records none
    std::vector<float> samples;
    std::vector<std::uint8_t> samples8;
    std::vector<std::uint16_t> samples16;

    std::size_t sampleCount() const { return samples.size() + samples8.size() + samples16.size(); }
};

// Reads an existing, non-folder file. `maxSide` bounds width and height
// before any pixels are allocated. False with a reason.
bool readFile(const std::string &path, long long maxSide, DecodedImage &out, std::string &error);

// readStoredImage of ImageIO.h for an existing, non-folder file, with the
// same bound on its sides.
bool readStored(const std::string &path, long long maxSide, Image &out, std::string &error);

} // namespace veltrix_render::backend
