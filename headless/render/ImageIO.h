// Image files for veltrix-render: reading footage for scene files, and
// writing rendered frames safely. The files go through OpenImageIO on Linux
// and through the program's own writers and stb_image on Windows
// (ImageIOBackend.h); both write the same types with the same samples. The
// Windows build reads footage in PNG, JPEG, BMP, TGA, GIF, PSD, PNM and
// Radiance HDR; the Linux build reads whatever OpenImageIO reads.
//
// Output types by extension (case does not matter):
//   .png           8 or 16 bits (default 8)
//   .tif / .tiff   8, 16 or 32-bit float (default 8)
//   .exr           32-bit float (default 32)
// Frames are RGBA, the effect's output buffer: 8-bit values unchanged, the
// host's 16-bit values (full intensity 32768) scaled to the file's 0..65535
// as round(v * 65535 / 32768), floats unchanged. Alpha follows each format's
// convention (WriteSettings): EXR files hold colour premultiplied by alpha
// (associated), PNG files straight colour, TIFF files either, with the
// extra-sample tag saying which (straight unless asked otherwise). Colour
// spaces are converted before writing (ColourManagement.h); a file says
// which space it holds, and carries the metadata of FileMetadata.
//
// Writing never damages an existing file: the frame goes to a temporary file
// beside the target, which is renamed over the target only once it is
// complete. On any failure the temporary file is removed and the target is
// left as it was.
//
// Thread safety: every function may be called from several threads at once
// for different files.
#pragma once

#include "headless/composition/Composition.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veltrix_render {

// A rendered frame ready to be written: RGBA, straight alpha, rows top first,
// `bits` per channel (8, 16 or 32 float). 16-bit samples are in the file's
// range 0..65535 already.
struct Image {
    int width = 0;
    int height = 0;
    int bits = 8;
    std::vector<std::uint8_t> u8;
    std::vector<std::uint16_t> u16;
    std::vector<float> f32;

    static Image transparent(int width, int height, int bits);
    std::size_t sampleCount() const { return std::size_t(width) * std::size_t(height) * 4; }
    // A positive size and a buffer of `bits` holding every sample of it.
    bool complete() const {
        if (width <= 0 || height <= 0) return false;
        switch (bits) {
        case 8: return u8.size() == sampleCount();
        case 16: return u16.size() == sampleCount();
        case 32: return f32.size() == sampleCount();
        default: return false;
        }
    }
};

// The host's 16-bit sample (0..32768) as a 16-bit file sample (0..65535).
std::uint16_t fileSample16(std::uint16_t hostSample);

// An output type: what a file extension stands for and which depths it holds.
struct OutputFormat {
    std::string extension; // lower case, with the dot
    std::vector<int> depths;
    int defaultDepth = 8;

    bool holds(int bits) const;
    std::string depthList() const; // "8 or 16"
};

// The output type of `path` by its extension; false when it is none of ours.
bool outputFormatOf(const std::string &path, OutputFormat &format);
// "png, tif, tiff or exr".
std::string supportedExtensions();

// What a written file says about the frame besides its pixels. Every file
// gets the software, scene, frame and time; the rest goes where the format
// has a place for it (EXR: all of it; PNG: pHYs and text chunks; TIFF:
// resolution tags and text tags).
struct FileMetadata {
    std::string software;  // "veltrix-render 1.0.0"
    std::string scene;     // the scene file's name, without folders
    long frame = -1;       // -1: not a frame of a composition
    double time = 0.0;     // composition seconds
    headless::Ratio pixelAspect;           // the composition's
    headless::Ratio framesPerSecond{0, 1}; // 0/1: unknown
    std::string colourSpace;               // the space the samples are in; empty: unknown
    // Row-vector 4x4 matrices (p' = p * M, row 3 the translation), row after
    // row, from the composition's world (pixels) to the camera the frame was
    // seen through (eye at the origin, x right, y up, looking along +z) and to
    // normalised device coordinates ((0, 0) the top-left corner of the image,
    // (1, 1) the bottom-right, after division by w).
    bool hasCamera = false;
    std::array<float, 16> worldToCamera{};
    std::array<float, 16> worldToNdc{};
};

// How the frame is stored: premultiplied or straight, EXR half floats, the
// compression (empty: the format's default; names as compressionsOf lists).
enum class AlphaMode { FormatDefault, Straight, Premultiplied };
struct WriteSettings {
    AlphaMode alpha = AlphaMode::FormatDefault;
    bool half = false;
    std::string compression;
    FileMetadata metadata;
};

// Whether a file of `format` stores colour premultiplied under `mode`; false
// with a reason when the format cannot (PNG holds straight colour only).
bool storesPremultiplied(const OutputFormat &format, AlphaMode mode, bool &premultiplied,
                         std::string &error);
// The compressions a file of `format` may be asked for, in the order shown;
// empty when the format offers no choice.
std::vector<std::string> compressionsOf(const OutputFormat &format);

// Writes `image` (straight colour) to `path` as `settings` say, through a
// temporary file beside it, renamed over it when complete. A symbolic link is
// written through: the file it points to is replaced and the link stays. An
// existing file that is read-only (no write permission for anyone) is
// refused. False with a reason in `error` when anything fails; the target is
// then untouched.
bool writeImage(const Image &image, const std::string &path, const WriteSettings &settings,
                std::string &error);
// The same with the format's defaults and no metadata.
bool writeImage(const Image &image, const std::string &path, std::string &error);

// Writes the file `path` through `write`, which is handed a temporary path
// beside it (beside the file a link names: links are written through) and
// says whether it wrote it, with a reason otherwise; the temporary is renamed
// over the target when written and removed in every other case, also by a
// second interrupt meanwhile. False with the reason in `error`; the target
// is then untouched.
bool replaceFile(const std::string &path,
                 const std::function<bool(const std::string &temporary, std::string &error)> &write,
                 std::string &error);

// The file `path` names once symbolic links are followed (a dangling link
// gives the file it would create); `path` itself when it is no link.
std::string linkTarget(const std::string &path);

// True when the file `path` (or the file a link names) exists and no one has
// permission to write it (mode 0444): a file the user protected.
bool isReadOnlyFile(const std::string &path);

// True when a new file can be made in the folder of `path`, or of the file
// it links to (by making and removing a temporary one), and `path` is not a
// read-only file; false with a reason otherwise.
bool canWriteBeside(const std::string &path, std::string &error);

// Reads the first image of `path` as straight RGBA floats (the scene loader's
// ImageReader). Grey images fill red, green and blue; images without alpha
// are opaque; premultiplied files are un-premultiplied. The footage's
// colorSpace is the one the file's metadata names, when the colour
// management knows it, else sRGB for integer files and linear for float
// ones; the samples are left in it (convertFootage of ColourManagement.h
// brings them into the working space).
bool readImage(const std::string &path, headless::FootageSource &out, std::string &error);

// Reads an RGBA file back with its samples exactly as stored (8, 16 or 32
// bits, no alpha conversion); for tests and tools. False for files of other
// depths or channel counts.
bool readStoredImage(const std::string &path, Image &out, std::string &error);

} // namespace veltrix_render
