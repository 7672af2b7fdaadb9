// The part of veltrix-render's image files that is the same for every file
// library: output types, the safe replacement of the target, and footage
// checks and alpha handling. The files themselves are the backend's
// (ImageIOBackend.h).
#include "headless/render/ImageIO.h"

#include "headless/render/ImageIOBackend.h"
#include "headless/render/Interrupt.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>

namespace veltrix_render {

namespace fs = std::filesystem;

namespace {

// Larger than any composition; a bigger file is refused before its pixels
// are allocated.
constexpr long long kMaxImageSide = 30000;

std::string lowerExtension(const std::string &path) {
    std::string ext = fs::path(path).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// A name beside `target`, unique enough that concurrent writers never meet,
// keeping the target's extension so the format is chosen the same way.
fs::path temporaryBeside(const fs::path &target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string tag = std::to_string(random() % 1000000000ULL);
    return target.parent_path() /
           ("." + target.stem().string() + ".veltrix-tmp-" + tag + target.extension().string());
}

void removeQuietly(const fs::path &path) {
    std::error_code ec;
    fs::remove(path, ec);
}

} // namespace

// ---- images ------------------------------------------------------------------------

Image Image::transparent(int width, int height, int bits) {
    Image image;
    image.width = std::max(0, width);
    image.height = std::max(0, height);
    image.bits = bits;
    const std::size_t n = image.sampleCount();
    if (bits == 16)
        image.u16.assign(n, 0);
    else if (bits == 32)
        image.f32.assign(n, 0.0f);
    else
        image.u8.assign(n, 0);
    return image;
}

std::uint16_t fileSample16(std::uint16_t hostSample) {
    const std::uint32_t v = std::min<std::uint32_t>(hostSample, 32768);
    // round(v * 65535 / 32768) in whole numbers: add half the divisor.
    return static_cast<std::uint16_t>((v * 65535u + 16384u) / 32768u);
}

// ---- formats ------------------------------------------------------------------------

bool OutputFormat::holds(int bits) const {
    return std::find(depths.begin(), depths.end(), bits) != depths.end();
}

std::string OutputFormat::depthList() const {
    std::string text;
    for (std::size_t i = 0; i < depths.size(); ++i) {
        if (i) text += i + 1 == depths.size() ? " or " : ", ";
        text += std::to_string(depths[i]);
    }
    return text;
}

bool outputFormatOf(const std::string &path, OutputFormat &format) {
    const std::string ext = lowerExtension(path);
    if (ext == ".png") format = {ext, {8, 16}, 8};
    else if (ext == ".tif" || ext == ".tiff") format = {ext, {8, 16, 32}, 8};
    else if (ext == ".exr") format = {ext, {32}, 32};
    else return false;
    return true;
}

std::string supportedExtensions() { return ".png, .tif, .tiff or .exr"; }

// ---- writing ----------------------------------------------------------------------------

std::string linkTarget(const std::string &path) {
    fs::path at(path);
    std::error_code ec;
    // A bound on the hops, as the system has, so a loop of links ends.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(at, ec)); ++hops) {
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) break;
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at.string();
}

bool isReadOnlyFile(const std::string &path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::is_regular_file(status)) return false;
    const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (status.permissions() & write) == fs::perms::none;
}

namespace {

// Colour times alpha, rounded for integers: what a premultiplied file holds.
template <class S> void premultiply(std::vector<S> &rgba) {
    constexpr double kOne = std::is_same_v<S, float> ? 1.0 : double(std::numeric_limits<S>::max());
    for (std::size_t p = 0; p + 3 < rgba.size(); p += 4) {
        const double a = double(rgba[p + 3]) / kOne;
        for (int c = 0; c < 3; ++c) {
            if constexpr (std::is_same_v<S, float>) rgba[p + std::size_t(c)] = float(rgba[p + std::size_t(c)] * a);
            else rgba[p + std::size_t(c)] = S(std::lround(double(rgba[p + std::size_t(c)]) * a));
        }
    }
}

Image premultiplied(Image image) {
    premultiply(image.u8);
    premultiply(image.u16);
    premultiply(image.f32);
    return image;
}

} // namespace

bool storesPremultiplied(const OutputFormat &format, AlphaMode mode, bool &premultiplied,
                         std::string &error) {
    const bool exr = format.extension == ".exr";
    premultiplied = mode == AlphaMode::FormatDefault ? exr : mode == AlphaMode::Premultiplied;
    if (premultiplied && format.extension == ".png") {
        error = "PNG files hold straight (unassociated) colour only";
        return false;
    }
    return true;
}

std::vector<std::string> compressionsOf(const OutputFormat &format) {
    return backend::compressions(format.extension);
}

bool writeImage(const Image &image, const std::string &path, const WriteSettings &settings,
                std::string &error) {
    if (!image.complete()) {
        error = "the frame holds no pixels";
        return false;
    }
    if (isReadOnlyFile(path)) {
        error = "the existing file is read-only";
        return false;
    }
    OutputFormat format;
    if (!outputFormatOf(path, format)) format.extension = lowerExtension(path);
    backend::FileOptions options;
    if (!storesPremultiplied(format, settings.alpha, options.associatedAlpha, error)) return false;
    options.half = settings.half;
    options.compression = settings.compression;
    options.metadata = &settings.metadata;
    return replaceFile(path, [&](const std::string &temporary, std::string &why) {
        return options.associatedAlpha
                   ? backend::writeFile(premultiplied(image), temporary, format.extension, options, why)
                   : backend::writeFile(image, temporary, format.extension, options, why);
    }, error);
}

bool replaceFile(const std::string &path,
                 const std::function<bool(const std::string &, std::string &)> &write,
                 std::string &error) {
    const fs::path target(linkTarget(path));
    const fs::path temporary = temporaryBeside(target);
    setPendingTemporary(temporary.string()); // a second Ctrl-C removes it before leaving
    const bool written = write(temporary.string(), error);
    // Replaces an existing target in one step (on Windows too, where the
    // library asks the system to replace rather than refuse).
    std::error_code ec;
    if (written) fs::rename(temporary, target, ec);
    if (!written || ec) removeQuietly(temporary);
    setPendingTemporary("");
    if (written && ec) error = "cannot replace " + target.string() + ": " + ec.message();
    return written && !ec;
}

bool writeImage(const Image &image, const std::string &path, std::string &error) {
    return writeImage(image, path, WriteSettings{}, error);
}

bool canWriteBeside(const std::string &path, std::string &error) {
    if (isReadOnlyFile(path)) {
        error = "the existing file is read-only; it is left as it is (make it writable or "
                "remove it to render over it)";
        return false;
    }
    const fs::path target(linkTarget(path));
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        error = "the folder " + folder.string() + " does not exist";
        return false;
    }
    if (!fs::is_directory(folder, ec)) {
        error = folder.string() + " is not a folder";
        return false;
    }
    if (fs::is_directory(target, ec)) {
        error = path + " is a folder";
        return false;
    }
    const fs::path probe = temporaryBeside(target);
    {
        std::ofstream file(probe, std::ios::binary);
        if (!file) {
            error = "cannot create files in the folder " + folder.string();
            return false;
        }
    }
    removeQuietly(probe);
    return true;
}

// ---- reading ------------------------------------------------------------------------------

namespace {

bool isReadableFile(const std::string &path, std::string &error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "the file does not exist";
        return false;
    }
    if (fs::is_directory(path, ec)) {
        error = "it is a folder";
        return false;
    }
    return true;
}

// The alpha of an opaque pixel in samples of type S.
template <class S> constexpr S opaque() {
    if constexpr (std::is_same_v<S, float>) return 1.0f;
    else return std::numeric_limits<S>::max();
}

// RGBA from `channels` samples per pixel: grey repeated, alpha from its
// channel or opaque. Samples that are RGBA already are moved, not copied:
// footage may be the largest thing a render holds, and a copy would double
// it while the file is read.
template <class S>
void toRgba(std::vector<S> &&in, int channels, int alphaChannel, std::vector<S> &out) {
    if (channels == 4 && alphaChannel == 3) {
        out = std::move(in);
        return;
    }
    const std::size_t pixels = in.size() / std::size_t(channels);
    out.resize(pixels * 4);
    for (std::size_t p = 0; p < pixels; ++p) {
        const S *s = &in[p * std::size_t(channels)];
        S *d = &out[p * 4];
        if (channels < 3) {
            d[0] = d[1] = d[2] = s[0];
        } else {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
        d[3] = alphaChannel >= 0 ? s[alphaChannel] : opaque<S>();
    }
}

// Float RGBA made straight and finite.
void straighten(std::vector<float> &rgba, bool premultiplied) {
    for (std::size_t p = 0; p < rgba.size(); p += 4) {
        float *d = &rgba[p];
        if (premultiplied && d[3] > 0.0f)
            for (int c = 0; c < 3; ++c) d[c] /= d[3];
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(d[c])) d[c] = 0.0f; // a damaged file must not poison the render
    }
}

// Integer samples as the floats they stand for.
template <class S> std::vector<float> widened(const std::vector<S> &in) {
    std::vector<float> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) out[i] = headless::sampleValue(in[i]);
    return out;
}

// The decoded samples as the footage keeps them: straight integers stay
// integers; premultiplied ones become floats, divided by alpha.
void toFootage(backend::DecodedImage &decoded, int alpha, bool premultiplied, headless::FootageSource &out) {
    out.rgba.clear();
    out.rgba8.clear();
    out.rgba16.clear();
    const int channels = decoded.channels;
    if (!premultiplied && !decoded.samples8.empty())
        return toRgba(std::move(decoded.samples8), channels, alpha, out.rgba8);
    if (!premultiplied && !decoded.samples16.empty())
        return toRgba(std::move(decoded.samples16), channels, alpha, out.rgba16);
    if (!decoded.samples8.empty()) toRgba(widened(decoded.samples8), channels, alpha, out.rgba);
    else if (!decoded.samples16.empty()) toRgba(widened(decoded.samples16), channels, alpha, out.rgba);
    else toRgba(std::move(decoded.samples), channels, alpha, out.rgba);
    straighten(out.rgba, premultiplied);
}

} // namespace

bool readImage(const std::string &path, headless::FootageSource &out, std::string &error) {
    if (!isReadableFile(path, error)) return false;
    backend::DecodedImage decoded;
    if (!backend::readFile(path, kMaxImageSide, decoded, error)) return false;
    if (decoded.width <= 0 || decoded.height <= 0 || decoded.channels <= 0 ||
        decoded.sampleCount() != std::size_t(decoded.width) * std::size_t(decoded.height) *
                                     std::size_t(decoded.channels)) {
        error = "the image has no pixels";
        return false;
    }
    int alpha = decoded.alphaChannel;
    if (alpha < 0 && decoded.channels == 2) alpha = 1; // grey + alpha
    if (alpha >= decoded.channels) alpha = -1;
    out.width = decoded.width;
    out.height = decoded.height;
    // Decided before toFootage, which moves the samples out of `decoded`.
    const bool integers = !decoded.samples8.empty() || !decoded.samples16.empty();
    toFootage(decoded, alpha, alpha >= 0 && decoded.premultiplied, out);
    // A file that names no space is taken as files of its kind are: integers
    // encoded for display (sRGB), floats linear.
    out.colorSpace = backend::knownColourSpace(decoded.colourSpace);
    if (out.colorSpace.empty()) out.colorSpace = backend::knownColourSpace(integers ? "sRGB" : "linear");
    const float aspect = decoded.pixelAspect;
    out.pixelAspect = {1, 1};
    out.pixelAspectRecorded = aspect > 0.0f && std::isfinite(aspect);
    if (out.pixelAspectRecorded && aspect != 1.0f)
        out.pixelAspect = {long(std::lround(aspect * 10000.0f)), 10000};
    return true;
}

bool readStoredImage(const std::string &path, Image &out, std::string &error) {
    if (!isReadableFile(path, error)) return false;
    return backend::readStored(path, kMaxImageSide, out, error);
}

} // namespace veltrix_render
