// veltrix-render's image files without an image library (the Windows build):
// the encoders and the footage decoder of ImageIOCodecs, with the files read
// and written whole. Colour management without OpenColorIO: two spaces,
// "sRGB" and "linear", related by the sRGB transfer function (the colour
// primaries are the same); no configuration file can be chosen.
//
// Thread safety: every function may run on several threads at once.
#include "headless/render/ImageIOBackend.h"

#include "headless/render/ImageIOCodecs.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace veltrix_render::backend {

namespace {

// The decoders take at most 2 GiB; a larger file is refused before it is read.
constexpr std::uintmax_t kMaxFileBytes = 0x7FFFFFFF;

bool readWhole(const std::filesystem::path &path, codecs::Bytes &bytes, std::string &error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxFileBytes) {
        error = "the file is too large";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the file";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read the file";
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> compressions(const std::string &extension) {
    if (extension == ".exr" || extension == ".tif" || extension == ".tiff") return {"none"};
    return {};
}

bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &extension,
               const FileOptions &options, std::string &error) {
    codecs::Bytes bytes;
    if (!codecs::encode(image, extension, bytes, error, options)) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot create " + path.string();
        return false;
    }
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path.string() + " (disk full?)";
        return false;
    }
    return true;
}

bool readFile(const std::string &path, long long maxSide, DecodedImage &out, std::string &error) {
    codecs::Bytes bytes;
    return readWhole(path, bytes, error) && codecs::decodeFootage(bytes, maxSide, out, error);
}

bool readStored(const std::string &path, long long maxSide, Image &out, std::string &error) {
    codecs::Bytes bytes;
    return readWhole(path, bytes, error) && codecs::decodeStored(bytes, maxSide, out, error);
}

// ---- colour spaces ------------------------------------------------------------------

namespace {

const char *const kSpaces[] = {"linear", "sRGB"};

bool sameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool selectColourConfig(const std::string &file, std::string &error) {
    const char *env = std::getenv("OCIO");
    if (file.empty() && !(env && *env)) return true;
    error = "this build has no OpenColorIO; it knows the spaces sRGB and linear only";
    return false;
}

std::vector<std::string> colourSpaceNames() { return {std::begin(kSpaces), std::end(kSpaces)}; }

std::string knownColourSpace(const std::string &name) {
    for (const char *known : kSpaces)
        if (sameName(name, known)) return known;
    return {};
}

bool convertColours(float *rgba, std::size_t pixels, const std::string &from, const std::string &to,
                    std::string &error) {
    const std::string a = knownColourSpace(from), b = knownColourSpace(to);
    if (a.empty() || b.empty()) {
        error = "unknown colour space " + (a.empty() ? from : to);
        return false;
    }
    if (a == b) return true;
    float (*transfer)(float) = a == "sRGB" ? codecs::srgbToLinear : codecs::linearToSrgb;
    for (std::size_t p = 0; p < pixels; ++p)
        for (int c = 0; c < 3; ++c) rgba[p * 4 + std::size_t(c)] = transfer(rgba[p * 4 + std::size_t(c)]);
    return true;
}

} // namespace veltrix_render::backend
