// veltrix-render's image files through OpenImageIO, and its colour spaces
// through OpenImageIO's colour management (OpenColorIO).
//
// Thread safety: the colour configuration is chosen once, before any other
// call (selectColourConfig); after that every function may run on several
// threads at once.
#include "headless/render/ImageIOBackend.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>

namespace veltrix_render::backend {

namespace {

// OpenImageIO's messages can span lines and end in a newline.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "unknown error" : text;
}

OIIO::TypeDesc typeOfBits(int bits) {
    switch (bits) {
    case 16: return OIIO::TypeDesc::UINT16;
    case 32: return OIIO::TypeDesc::FLOAT;
    default: return OIIO::TypeDesc::UINT8;
    }
}

const void *samplesOf(const Image &image) {
    switch (image.bits) {
    case 16: return image.u16.data();
    case 32: return image.f32.data();
    default: return image.u8.data();
    }
}

std::unique_ptr<OIIO::ImageInput> openStraight(const std::string &path, long long maxSide,
                                               std::string &error) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1); // keep straight files straight
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        error = oneLine(OIIO::geterror());
        return nullptr;
    }
    const OIIO::ImageSpec &spec = in->spec();
    if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0) {
        error = "the image has no pixels";
        return nullptr;
    }
    if (spec.width > maxSide || spec.height > maxSide) {
        error = "the image is larger than " + std::to_string(maxSide) + " pixels a side";
        return nullptr;
    }
    return in;
}

// The frame's description as the library's standard attributes, which each
// writer puts where its format has a place for them (EXR attributes, PNG
// text and pHYs chunks, TIFF tags); the matrices go to EXR files only.
void describe(const FileMetadata &m, const std::string &extension, OIIO::ImageSpec &spec) {
    spec.attribute("Software", m.software.empty() ? "veltrix-render" : m.software);
    if (!m.scene.empty()) spec.attribute("DocumentName", m.scene);
    if (m.frame >= 0) {
        std::ostringstream text;
        text << "scene " << m.scene << ", frame " << m.frame << ", composition time " << m.time << " s";
        if (!m.colourSpace.empty()) text << ", colour space " << m.colourSpace;
        spec.attribute("ImageDescription", text.str());
        spec.attribute("veltrix:scene", m.scene);
        spec.attribute("veltrix:frame", int(m.frame));
        spec.attribute("veltrix:time", float(m.time));
    }
    if (m.pixelAspect.num > 0 && m.pixelAspect.den > 0)
        spec.attribute("PixelAspectRatio", float(m.pixelAspect.value()));
    if (!m.colourSpace.empty()) {
        spec.attribute("oiio:ColorSpace", m.colourSpace);
        if (extension == ".exr") spec.attribute("colorspace", m.colourSpace);
    }
    if (extension != ".exr") return;
    if (m.framesPerSecond.num > 0 && m.framesPerSecond.den > 0) {
        const int rate[2] = {int(m.framesPerSecond.num), int(m.framesPerSecond.den)};
        spec.attribute("FramesPerSecond", OIIO::TypeRational, rate);
    }
    if (m.hasCamera) {
        spec.attribute("worldtocamera", OIIO::TypeMatrix, m.worldToCamera.data());
        spec.attribute("worldtoNDC", OIIO::TypeMatrix, m.worldToNdc.data());
    }
}

} // namespace

std::vector<std::string> compressions(const std::string &extension) {
    if (extension == ".exr")
        return {"zip", "zips", "piz", "pxr24", "rle", "b44", "b44a", "dwaa", "dwab", "none"};
    if (extension == ".tif" || extension == ".tiff") return {"zip", "lzw", "packbits", "none"};
    return {};
}

bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &extension,
               const FileOptions &options, std::string &error) {
    // The path carries the extension that names the type.
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path.string());
    if (!out) {
        error = oneLine(OIIO::geterror());
        return false;
    }
    const bool half = options.half && image.bits == 32 && extension == ".exr";
    OIIO::ImageSpec spec(image.width, image.height, 4,
                         half ? OIIO::TypeDesc::HALF : typeOfBits(image.bits));
    spec.alpha_channel = 3;
    // Straight samples must be marked so, or the writer would divide them by
    // alpha on the way out; premultiplied ones are the library's default.
    if (!options.associatedAlpha) spec.attribute("oiio:UnassociatedAlpha", 1);
    if (!options.compression.empty()) spec.attribute("compression", options.compression);
    describe(options.metadata ? *options.metadata : FileMetadata{}, extension, spec);
    if (!out->open(path.string(), spec) ||
        !out->write_image(typeOfBits(image.bits), samplesOf(image)) || !out->close()) {
        error = oneLine(out->geterror());
        return false;
    }
    return true;
}

bool readFile(const std::string &path, long long maxSide, DecodedImage &out, std::string &error) {
    std::unique_ptr<OIIO::ImageInput> in = openStraight(path, maxSide, error);
    if (!in) return false;
    const OIIO::ImageSpec spec = in->spec();
    out.width = spec.width;
    out.height = spec.height;
    out.channels = spec.nchannels;
    const std::size_t count =
        std::size_t(spec.width) * std::size_t(spec.height) * std::size_t(spec.nchannels);
    // 8-bit and 16-bit files keep their integers: a quarter or half the
    // memory of floats, which the library would compute as v * (1 / max).
    // Files whose channels differ in type are read as floats.
    const bool oneType = spec.channelformats.empty();
    OIIO::TypeDesc type = OIIO::TypeDesc::FLOAT;
    void *samples = nullptr;
    if (oneType && spec.format == OIIO::TypeDesc::UINT8) {
        type = OIIO::TypeDesc::UINT8;
        out.samples8.resize(count);
        samples = out.samples8.data();
    } else if (oneType && spec.format == OIIO::TypeDesc::UINT16) {
        type = OIIO::TypeDesc::UINT16;
        out.samples16.resize(count);
        samples = out.samples16.data();
    } else {
        out.samples.resize(count);
        samples = out.samples.data();
    }
    if (!in->read_image(0, 0, 0, spec.nchannels, type, samples)) {
        error = oneLine(in->geterror());
        return false;
    }
    in->close();
    out.alphaChannel = spec.alpha_channel;
    out.premultiplied = spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    out.pixelAspect = spec.get_float_attribute("PixelAspectRatio", 0.0f); // 0: none recorded
    out.colourSpace = spec.get_string_attribute("colorspace");
    // PNM files say nothing about colour; the library's "Rec709" for them is
    // its assumption, not the file's, and is not taken.
    if (out.colourSpace.empty() && std::string(in->format_name()) != "pnm")
        out.colourSpace = spec.get_string_attribute("oiio:ColorSpace");
    return true;
}

bool readStored(const std::string &path, long long maxSide, Image &out, std::string &error) {
    std::unique_ptr<OIIO::ImageInput> in = openStraight(path, maxSide, error);
    if (!in) return false;
    const OIIO::ImageSpec spec = in->spec();
    if (spec.nchannels != 4) {
        error = "expected 4 channels, found " + std::to_string(spec.nchannels);
        return false;
    }
    const OIIO::TypeDesc stored = spec.format;
    if (stored == OIIO::TypeDesc::UINT8) out = Image::transparent(spec.width, spec.height, 8);
    else if (stored == OIIO::TypeDesc::UINT16) out = Image::transparent(spec.width, spec.height, 16);
    else if (stored == OIIO::TypeDesc::FLOAT) out = Image::transparent(spec.width, spec.height, 32);
    else {
        error = std::string("unexpected sample type ") + stored.c_str();
        return false;
    }
    void *data = out.bits == 8    ? static_cast<void *>(out.u8.data())
                 : out.bits == 16 ? static_cast<void *>(out.u16.data())
                                  : static_cast<void *>(out.f32.data());
    if (!in->read_image(0, 0, 0, 4, stored, data)) {
        error = oneLine(in->geterror());
        return false;
    }
    in->close();
    return true;
}

// ---- colour spaces -------------------------------------------------------------------

namespace {

std::mutex configMutex;
std::shared_ptr<OIIO::ColorConfig> colourConfig; // made on first use when not chosen

std::shared_ptr<OIIO::ColorConfig> config() {
    std::lock_guard<std::mutex> lock(configMutex);
    if (!colourConfig) colourConfig = std::make_shared<OIIO::ColorConfig>(); // $OCIO or built-in
    return colourConfig;
}

bool sameName(const std::string &a, const std::string &b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void applyProcessor(const OIIO::ColorProcessor &processor, float *rgba, std::size_t pixels) {
    // The processor takes a 2-D block; rows of at most 2^30 pixels keep its
    // int sizes in range.
    constexpr std::size_t kRow = std::size_t(1) << 30;
    for (std::size_t done = 0; done < pixels; done += kRow) {
        const std::size_t n = std::min(kRow, pixels - done);
        processor.apply(rgba + done * 4, int(n), 1, 4, sizeof(float), 4 * sizeof(float),
                        OIIO::stride_t(n * 4 * sizeof(float)));
    }
}

} // namespace

bool selectColourConfig(const std::string &file, std::string &error) {
    auto chosen = std::make_shared<OIIO::ColorConfig>(file);
    const char *env = std::getenv("OCIO");
    const bool named = !file.empty() || (env && *env);
    // Without a file the library falls back to its built-in spaces and keeps
    // a note of the missing file, which is no error here.
    if (named && chosen->has_error()) {
        error = oneLine(chosen->geterror());
        return false;
    }
    if (chosen->getNumColorSpaces() == 0) {
        error = "the colour configuration holds no colour spaces";
        return false;
    }
    std::lock_guard<std::mutex> lock(configMutex);
    colourConfig = std::move(chosen);
    return true;
}

std::vector<std::string> colourSpaceNames() {
    const auto cfg = config();
    std::vector<std::string> names;
    for (int i = 0; i < cfg->getNumColorSpaces(); ++i) {
        const char *name = cfg->getColorSpaceNameByIndex(i);
        if (name && *name) names.emplace_back(name);
    }
    return names;
}

std::string knownColourSpace(const std::string &name) {
    if (name.empty()) return {};
    for (const std::string &known : colourSpaceNames())
        if (sameName(known, name)) return known;
    const auto cfg = config();
    if (const char *role = cfg->getColorSpaceNameByRole(name); role && *role) return role;
    // A studio configuration calls its linear space by role.
    if (sameName(name, "linear"))
        if (const char *role = cfg->getColorSpaceNameByRole("scene_linear"); role && *role) return role;
    return {};
}

bool convertColours(float *rgba, std::size_t pixels, const std::string &from, const std::string &to,
                    std::string &error) {
    if (sameName(from, to) || pixels == 0) return true;
    const auto cfg = config();
    OIIO::ColorProcessorHandle processor = cfg->createColorProcessor(from, to);
    if (!processor) {
        // The built-in spaces convert only to and from linear: go through it.
        const std::string linear = knownColourSpace("linear");
        OIIO::ColorProcessorHandle in, out;
        if (!linear.empty() && !sameName(from, linear) && !sameName(to, linear)) {
            in = cfg->createColorProcessor(from, linear);
            out = cfg->createColorProcessor(linear, to);
        }
        if (!in || !out) {
            error = "cannot convert from " + from + " to " + to + ": " + oneLine(cfg->geterror());
            return false;
        }
        applyProcessor(*in, rgba, pixels);
        applyProcessor(*out, rgba, pixels);
        return true;
    }
    applyProcessor(*processor, rgba, pixels);
    return true;
}

} // namespace veltrix_render::backend
