// veltrix-render's image files through OpenImageIO.
#include "headless/render/ImageIOBackend.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <memory>

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

} // namespace

bool writeFile(const Image &image, const std::filesystem::path &path, const std::string &,
               std::string &error) {
    // The path carries the extension that names the type.
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path.string());
    if (!out) {
        error = oneLine(OIIO::geterror());
        return false;
    }
    OIIO::ImageSpec spec(image.width, image.height, 4, typeOfBits(image.bits));
    spec.alpha_channel = 3;
    // The samples are straight colour: say so, or the writer would divide
    // them by alpha on the way out.
    spec.attribute("oiio:UnassociatedAlpha", 1);
    spec.attribute("Software", "veltrix-render");
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

} // namespace veltrix_render::backend
