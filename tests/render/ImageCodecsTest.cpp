// The image files of the Windows build (ImageIOCodecs), checked against
// OpenImageIO: every file they write reads back exactly, and footage decodes
// to the same samples, so that frames from either build can be compared.
#include "headless/render/ImageIO.h"
#include "headless/render/ImageIOCodecs.h"
#include "RenderTestSupport.h"

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace {

using namespace veltrix_render;
using codecs::Bytes;

void save(const std::string &path, const Bytes &bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

Bytes load(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every channel different, the whole range, colour under zero alpha, and
// floats beyond 0..1, tiny and negative.
Image frame(int width, int height, int bits) {
    Image image = Image::transparent(width, height, bits);
    for (std::size_t i = 0; i < image.sampleCount(); ++i) {
        const double f = double((i * 7919) % 1009) / 1008.0;
        if (bits == 8) image.u8[i] = std::uint8_t(std::lround(f * 255));
        if (bits == 16) image.u16[i] = std::uint16_t(std::lround(f * 65535));
        if (bits == 32) image.f32[i] = float(f * 3.0 - 1.0);
    }
    if (bits == 8) image.u8[0] = 200, image.u8[3] = 0;
    if (bits == 16) image.u16[0] = 50000, image.u16[3] = 0;
    if (bits == 32) {
        image.f32[0] = 0.75f, image.f32[3] = 0.0f;
        image.f32[4] = std::numeric_limits<float>::denorm_min();
        image.f32[5] = -0.0f;
        image.f32[6] = 1.0e30f;
    }
    return image;
}

void expectSameSamples(const Image &a, const Image &b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.u8, b.u8);
    EXPECT_EQ(a.u16, b.u16);
    ASSERT_EQ(a.f32.size(), b.f32.size());
    for (std::size_t i = 0; i < a.f32.size(); ++i) // bit for bit: -0 and denormals too
        ASSERT_EQ(std::signbit(a.f32[i]), std::signbit(b.f32[i])) << i;
    EXPECT_EQ(a.f32, b.f32);
}

TEST(ImageCodecs, EveryTypeAndDepthReadsBackExactlyThroughTheImageLibrary) {
    render_test::ScratchDir dir;
    const std::vector<std::pair<std::string, int>> cases = {
        {".png", 8}, {".png", 16}, {".tif", 8}, {".tif", 16}, {".tif", 32}, {".tiff", 32}, {".exr", 32}};
    for (const auto &[extension, bits] : cases) {
        for (const auto &[width, height] : {std::pair{5, 3}, std::pair{301, 17}}) {
            SCOPED_TRACE(extension + " " + std::to_string(bits) + " bits, " + std::to_string(width));
            const Image written = frame(width, height, bits);
            Bytes bytes;
            std::string error;
            ASSERT_TRUE(codecs::encode(written, extension, bytes, error)) << error;
            const std::string path = dir / ("f" + extension);
            save(path, bytes);
            Image back;
            ASSERT_TRUE(readStoredImage(path, back, error)) << error; // OpenImageIO
            expectSameSamples(back, written);
            if (extension != ".exr") { // and the Windows build's own reading back
                Image own;
                ASSERT_TRUE(codecs::decodeStored(bytes, 30000, own, error)) << error;
                expectSameSamples(own, written);
            }
        }
    }
}

TEST(ImageCodecs, TiffStatesUnassociatedAlphaAndFloatSamples) {
    render_test::ScratchDir dir;
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(codecs::encodeTiff(frame(4, 2, 32), bytes, error)) << error;
    save(dir / "f.tif", bytes);
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1); // report what the file says
    auto in = OIIO::ImageInput::open(dir / "f.tif", &config);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().format, OIIO::TypeDesc::FLOAT);
    EXPECT_EQ(in->spec().alpha_channel, 3);
    EXPECT_EQ(in->spec().get_int_attribute("oiio:UnassociatedAlpha", 0), 1);
}

TEST(ImageCodecs, RefusesDepthsATypeCannotHoldAndEmptyFrames) {
    Bytes bytes;
    std::string error;
    EXPECT_FALSE(codecs::encode(frame(2, 2, 32), ".png", bytes, error));
    EXPECT_EQ(error, "PNG files do not hold 32-bit samples");
    EXPECT_FALSE(codecs::encode(frame(2, 2, 16), ".exr", bytes, error));
    EXPECT_FALSE(codecs::encode(frame(2, 2, 8), ".jpg", bytes, error));
    Image incomplete = frame(2, 2, 8);
    incomplete.u8.pop_back();
    EXPECT_FALSE(codecs::encode(incomplete, ".tif", bytes, error));
    EXPECT_EQ(error, "the frame holds no pixels");
}

// Footage as the Linux build reads it: the samples as floats, straight
// alpha kept straight.
backend::DecodedImage readWithLibrary(const std::string &path) {
    backend::DecodedImage d;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    EXPECT_TRUE(in) << path;
    if (!in) return d;
    const OIIO::ImageSpec &spec = in->spec();
    d.width = spec.width, d.height = spec.height, d.channels = spec.nchannels;
    d.samples.resize(std::size_t(d.width) * std::size_t(d.height) * std::size_t(d.channels));
    EXPECT_TRUE(in->read_image(0, 0, 0, d.channels, OIIO::TypeDesc::FLOAT, d.samples.data()));
    d.pixelAspect = spec.get_float_attribute("PixelAspectRatio", 0.0f); // 0: none recorded
    return d;
}

// The floats a decoded image's samples stand for.
std::vector<float> asFloats(const backend::DecodedImage &d) {
    std::vector<float> out(d.samples);
    for (std::uint8_t v : d.samples8) out.push_back(headless::sampleValue(v));
    for (std::uint16_t v : d.samples16) out.push_back(headless::sampleValue(v));
    return out;
}

// The built-in reader and the linked one keep an integer file's integers,
// which stand for exactly the floats the library reads.
void expectDecodesAsLibrary(const std::string &path, int bits) {
    SCOPED_TRACE(path);
    backend::DecodedImage own, linked;
    std::string error;
    ASSERT_TRUE(codecs::decodeFootage(load(path), 30000, own, error)) << error;
    ASSERT_TRUE(backend::readFile(path, 30000, linked, error)) << error;
    const backend::DecodedImage library = readWithLibrary(path);
    for (const backend::DecodedImage *d : {&own, &linked}) {
        EXPECT_EQ(d->width, library.width);
        EXPECT_EQ(d->height, library.height);
        EXPECT_EQ(d->channels, library.channels);
        EXPECT_EQ(bits == 8 ? d->samples8.size() : d->samples16.size(), library.samples.size());
        EXPECT_EQ(asFloats(*d), library.samples); // exactly
        EXPECT_FLOAT_EQ(d->pixelAspect, library.pixelAspect);
    }
}

TEST(ImageCodecs, ExampleFootageDecodesAsTheImageLibraryReadsIt) {
    for (const char *name : {"checker.png", "lace.png", "sky.png"})
        expectDecodesAsLibrary(std::string(VELTRIX_SOURCE_DIR) + "/examples/images/" + name, 8);
}

TEST(ImageCodecs, GreyColourEightAndSixteenBitFootageDecodesAsTheImageLibraryReadsIt) {
    render_test::ScratchDir dir;
    // Every 8-bit value and a 16-bit ramp, in each channel layout PNG has.
    for (int channels : {1, 2, 3, 4}) {
        for (int bits : {8, 16}) {
            const std::string path = dir / ("c" + std::to_string(channels) + "_" + std::to_string(bits) + ".png");
            const int width = 256;
            auto out = OIIO::ImageOutput::create(path);
            OIIO::ImageSpec spec(width, 3, channels, bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16);
            spec.attribute("oiio:UnassociatedAlpha", 1);
            std::vector<std::uint16_t> samples(std::size_t(width) * 3 * std::size_t(channels));
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = std::uint16_t(bits == 8 ? i % 256 : (i * 4099) % 65536);
            ASSERT_TRUE(out->open(path, spec));
            ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, samples.data()));
            out->close();
            expectDecodesAsLibrary(path, bits);
        }
    }
}

TEST(ImageCodecs, NonSquarePixelsOfAPngAreKept) {
    render_test::ScratchDir dir;
    const std::string path = dir / "wide.png";
    auto out = OIIO::ImageOutput::create(path);
    OIIO::ImageSpec spec(4, 2, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("XResolution", 100.0f);
    spec.attribute("YResolution", 200.0f);
    spec.attribute("ResolutionUnit", "in");
    const std::vector<std::uint8_t> pixels(24, 99);
    ASSERT_TRUE(out->open(path, spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    out->close();
    backend::DecodedImage own;
    std::string error;
    ASSERT_TRUE(codecs::decodeFootage(load(path), 30000, own, error)) << error;
    EXPECT_FLOAT_EQ(own.pixelAspect, 2.0f);
    EXPECT_FLOAT_EQ(readWithLibrary(path).pixelAspect, 2.0f);
}

TEST(ImageCodecs, BrokenOrHugeFootageIsRefusedWithAReason) {
    const Bytes checker = load(std::string(VELTRIX_SOURCE_DIR) + "/examples/images/checker.png");
    backend::DecodedImage out;
    std::string error;
    EXPECT_FALSE(codecs::decodeFootage({}, 30000, out, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(codecs::decodeFootage(Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i'}, 30000, out, error));
    // Cut anywhere: refused, never read past the end.
    for (std::size_t size : {std::size_t(8), std::size_t(33), checker.size() / 2, checker.size() - 13}) {
        error.clear();
        EXPECT_FALSE(codecs::decodeFootage(Bytes(checker.begin(), checker.begin() + long(size)), 30000,
                                           out, error)) << size;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(codecs::decodeFootage(checker, 100, out, error)); // 256 wide
    EXPECT_EQ(error, "the image is larger than 100 pixels a side");

    render_test::ScratchDir dir;
    auto rgb = OIIO::ImageOutput::create(dir / "rgb.png");
    const std::uint8_t pixel[3] = {1, 2, 3};
    ASSERT_TRUE(rgb->open(dir / "rgb.png", OIIO::ImageSpec(1, 1, 3, OIIO::TypeDesc::UINT8)));
    ASSERT_TRUE(rgb->write_image(OIIO::TypeDesc::UINT8, pixel));
    rgb->close();
    Image back;
    EXPECT_FALSE(codecs::decodeStored(load(dir / "rgb.png"), 30000, back, error));
    EXPECT_EQ(error, "expected 4 channels, found 3");
    Bytes tiff;
    ASSERT_TRUE(codecs::encodeTiff(frame(3, 3, 16), tiff, error));
    for (std::size_t size : {std::size_t(8), std::size_t(40), tiff.size() - 1}) // a cut TIFF
        EXPECT_FALSE(codecs::decodeStored(Bytes(tiff.begin(), tiff.begin() + long(size)), 30000, back,
                                          error)) << size;
}

// The Windows build's files say what OpenImageIO's do: half floats, the
// alpha's kind, pixel aspect, camera and colour space, and the transfer
// function agrees with the library's.
TEST(ImageCodecs, MetadataAndHalfFloatsReadBackThroughTheImageLibrary) {
    render_test::ScratchDir dir;
    FileMetadata m;
    m.scene = "s.json", m.frame = 7, m.time = 0.25, m.pixelAspect = {2, 1};
    m.framesPerSecond = {24, 1}, m.colourSpace = "linear", m.hasCamera = true;
    for (int i = 0; i < 16; ++i) m.worldToCamera[std::size_t(i)] = float(i), m.worldToNdc[std::size_t(i)] = -float(i);
    backend::FileOptions options;
    options.metadata = &m;
    options.associatedAlpha = true;
    options.half = true;
    for (const std::string extension : {".exr", ".tif", ".png"}) {
        SCOPED_TRACE(extension);
        const Image written = frame(5, 3, extension == ".png" ? 16 : 32);
        Bytes bytes;
        std::string error;
        backend::FileOptions asked = options;
        asked.associatedAlpha = extension != ".png";
        ASSERT_TRUE(codecs::encode(written, extension, bytes, error, asked)) << error;
        save(dir / ("m" + extension), bytes);
        OIIO::ImageSpec keepStraight;
        keepStraight.attribute("oiio:UnassociatedAlpha", 1);
        auto in = OIIO::ImageInput::open(dir / ("m" + extension), &keepStraight);
        ASSERT_TRUE(in) << OIIO::geterror();
        const OIIO::ImageSpec &spec = in->spec();
        EXPECT_FLOAT_EQ(spec.get_float_attribute("PixelAspectRatio"), 2.0f);
        EXPECT_EQ(spec.get_string_attribute("DocumentName"), "s.json");
        EXPECT_EQ(spec.get_int_attribute("oiio:UnassociatedAlpha", 0), extension == ".png" ? 1 : 0);
        if (extension != ".exr") continue;
        EXPECT_EQ(spec.format, OIIO::TypeDesc::HALF);
        EXPECT_EQ(spec.get_int_attribute("veltrix:frame"), 7);
        EXPECT_EQ(spec.get_string_attribute("colorspace"), "linear");
        const OIIO::ParamValue *toCamera = spec.find_attribute("worldtocamera", OIIO::TypeMatrix);
        ASSERT_TRUE(toCamera);
        EXPECT_EQ(static_cast<const float *>(toCamera->data())[13], 13.0f);
        std::vector<float> back(written.f32.size());
        ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, back.data()));
        for (std::size_t i = 0; i < back.size(); ++i) { // half: 11 significant bits, at most 65504
            if (std::fabs(written.f32[i]) > 65520.0f) EXPECT_TRUE(std::isinf(back[i])) << i;
            else EXPECT_NEAR(back[i], written.f32[i], std::fabs(written.f32[i]) / 2048 + 1e-7) << i;
        }
    }
    for (float v : {-0.5f, 0.0f, 0.002f, 0.04045f, 0.2f, 0.5f, 1.0f, 2.5f}) // the sRGB curve, both ways
        EXPECT_NEAR(codecs::linearToSrgb(codecs::srgbToLinear(v)), v, 1e-6f) << v;
}

} // namespace
