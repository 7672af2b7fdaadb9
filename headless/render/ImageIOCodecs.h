// Image files of veltrix-render without an image library: writers for the
// output types (PNG, TIFF, OpenEXR) and a footage reader over stb_image
// (PNG, JPEG, BMP, TGA, GIF, PSD, PNM, Radiance HDR). The Windows build reads
// and writes through these (ImageIOBuiltin.cpp); the Linux build uses
// OpenImageIO and checks these against it.
//
// Every file holds the frame's samples unchanged, RGBA, as ImageIO.h
// describes; the caller has premultiplied them when the options say
// associated alpha.
//   PNG   8 or 16 bits, zlib-compressed, no filtering; pHYs for the pixel
//         aspect, sRGB or gAMA for the colour space, tEXt for the rest
//   TIFF  8, 16 or 32-bit float, uncompressed, one strip per row,
//         ExtraSamples "unassociated" or "associated alpha", resolution
//         tags for the pixel aspect, text tags for the rest
//   EXR   32-bit float or half, uncompressed scan lines (channels A, B, G,
//         R); every attribute of FileMetadata
// No compression is offered but the ones above.
//
// Thread safety: every function may be called from several threads at once.
#pragma once

#include "headless/render/ImageIOBackend.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veltrix_render::codecs {

using Bytes = std::vector<std::uint8_t>;

// The whole file of `image` in the type named by `extension` (".png",
// ".tif", ".tiff" or ".exr"). False with a reason when the type does not
// hold the image's depth, the image is incomplete or too large for the type.
bool encode(const Image &image, const std::string &extension, Bytes &file, std::string &error,
            const backend::FileOptions &options = {});

bool encodePng(const Image &image, Bytes &file, std::string &error,
               const backend::FileOptions &options = {});
bool encodeTiff(const Image &image, Bytes &file, std::string &error,
                const backend::FileOptions &options = {});
bool encodeExr(const Image &image, Bytes &file, std::string &error,
               const backend::FileOptions &options = {});

// The IEEE half float nearest to `v` (ties to even; overflow to infinity).
std::uint16_t halfBits(float v);
// The sRGB transfer function and its inverse, extended to values outside
// 0..1 as OpenImageIO extends them: the linear segment continued below 0,
// the power law above 1.
float srgbToLinear(float v);
float linearToSrgb(float v);

// A footage file's first image. Integer samples become value / maximum
// (255 or 65535); files without alpha leave `alphaChannel` at -1; PNG's
// pixel aspect (pHYs) is kept. `maxSide` is checked before decoding.
bool decodeFootage(const Bytes &file, long long maxSide, backend::DecodedImage &out,
                   std::string &error);

// An RGBA file with its samples as stored: 8 or 16-bit PNG, or a TIFF as
// encodeTiff writes it (uncompressed, contiguous, 4 samples of 8, 16 or 32
// float bits, either byte order).
bool decodeStored(const Bytes &file, long long maxSide, Image &out, std::string &error);

} // namespace veltrix_render::codecs
