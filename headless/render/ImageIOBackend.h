// What an image-file backend of veltrix-render provides. ImageIO.cpp holds
// everything that does not depend on the file library (formats, safe
// replacement of the target, footage checks and alpha handling) and calls
// these for the files themselves. One backend is linked:
//   ImageIOOiio.cpp     OpenImageIO (the Linux build)
//   ImageIOBuiltin.cpp  the writers of ImageIOCodecs and stb_image for footage
//                       (the Windows build, which has no OpenImageIO)
// Both write the same output types with the same samples. The colour
// functions are OpenColorIO's through OpenImageIO in the first, and the sRGB
// transfer function alone (spaces "sRGB" and "linear") in the second.
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

// How writeFile stores the frame: `associatedAlpha` says the samples are
// premultiplied already (the file is marked so); `half` asks EXR for half
// floats; `compression` is empty or one of compressions(extension).
struct FileOptions {
    bool associatedAlpha = false;
    bool half = false;
    std::string compression;
    const FileMetadata *metadata = nullptr; // none when null
};

// Writes all of `image` to `path` as the type named by `extension` (lower
// case, with the dot: one of the output formats). False with a reason.
bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &extension,
               const FileOptions &options, std::string &error);

// The compressions this backend writes for `extension`; empty: no choice.
std::vector<std::string> compressions(const std::string &extension);

// ---- colour spaces ---------------------------------------------------------------
// Chooses the colour configuration: `file` (an OCIO config), or when empty
// $OCIO, or when that is unset the spaces the backend knows by itself. Call
// before any other colour function, on one thread. False with a reason.
bool selectColourConfig(const std::string &file, std::string &error);
// The names of the spaces the configuration knows, in its order.
std::vector<std::string> colourSpaceNames();
// The configuration's name for `name` (the same, any letter case, or a
// role); empty when it knows no such space.
std::string knownColourSpace(const std::string &name);
// Converts `pixels` straight RGBA floats from space `from` to space `to` in
// place (alpha untouched). False with a reason.
bool convertColours(float *rgba, std::size_t pixels, const std::string &from, const std::string &to,
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
    std::string colourSpace; // as the file's metadata names it; empty: it names none
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
