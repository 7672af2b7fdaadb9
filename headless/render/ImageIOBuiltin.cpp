// veltrix-render's image files without an image library (the Windows build):
// the encoders and the footage decoder of ImageIOCodecs, with the files read
// and written whole.
#include "headless/render/ImageIOBackend.h"

#include "headless/render/ImageIOCodecs.h"

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

bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &extension,
               std::string &error) {
    codecs::Bytes bytes;
    if (!codecs::encode(image, extension, bytes, error)) return false;
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

} // namespace veltrix_render::backend
