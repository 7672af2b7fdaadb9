// Files as a compositing pipeline reads them: written by veltrix-render and
// read back through OpenImageIO, with the sRGB transfer function computed
// here, apart from the renderer's colour management.
#include "RenderTestSupport.h"

#include "headless/composition/SceneFile.h"
#include "headless/render/ColourManagement.h"
#include "headless/render/ImageIO.h"

#include <OpenImageIO/imageio.h>

#include <cmath>

namespace {

using render_test::runRenderer;
using render_test::ScratchDir;
using render_test::sourcePath;

// The sRGB encoding of a linear value, from its definition.
double srgbEncode(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }
double srgbDecode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double rec709Decode(double v) { return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45); }

struct FileRead {
    OIIO::ImageSpec spec;
    std::vector<float> rgba; // as stored, no alpha conversion
};

FileRead readThroughLibrary(const std::string &path) {
    FileRead file;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1); // samples exactly as stored
    auto in = OIIO::ImageInput::open(path, &config);
    EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
    if (!in) return file;
    file.spec = in->spec();
    file.rgba.resize(std::size_t(file.spec.width) * std::size_t(file.spec.height) * 4);
    EXPECT_EQ(file.spec.nchannels, 4);
    EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, file.rgba.data()));
    return file;
}

// A point through a row-vector 4x4 matrix, divided by w.
std::array<double, 3> through(const float *m, double x, double y, double z) {
    double out[4];
    for (int c = 0; c < 4; ++c) out[c] = x * m[c] + y * m[4 + c] + z * m[8 + c] + m[12 + c];
    return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

std::string sceneWith(const std::string &composition, const std::string &layers) {
    return R"({"composition": {"width": 64, "height": 36, "duration": 1)" + composition +
           R"(}, "layers": [)" + layers +
           R"({"name": "S", "type": "solid", "effects": [{"effect": "Veltrix"}]}]})";
}

TEST(ColourAndAlpha, TextureExrIsPremultipliedLinearAndMatchesTheSixteenBitPng) {
    ScratchDir dir;
    const std::string scene = "'" + sourcePath("examples/texture.json") + "' -q --downsample 2";
    ASSERT_EQ(runRenderer(scene + " -o t.exr", dir.path()).code, 0);
    ASSERT_EQ(runRenderer(scene + " -o t.png --depth 16", dir.path()).code, 0);
    const FileRead exr = readThroughLibrary(dir / "t.exr"), png = readThroughLibrary(dir / "t.png");
    ASSERT_EQ(exr.rgba.size(), png.rgba.size());
    EXPECT_EQ(exr.spec.get_string_attribute("colorspace"), "linear");
    // The float frame has highlights brighter than white, which the 16-bit
    // file clamps: there colour may exceed alpha, and the files agree once
    // the EXR is clamped too.
    int edges = 0, compared = 0;
    for (std::size_t p = 0; p < exr.rgba.size(); p += 4) {
        const float a = exr.rgba[p + 3];
        EXPECT_NEAR(a, png.rgba[p + 3], 1e-3) << p / 4;
        if (a <= 0.0f) continue;
        if (a < 1.0f) ++edges;
        for (int c = 0; c < 3; ++c) {
            if (png.rgba[p + c] < 0.999f) { // associated alpha: colour within alpha
                ASSERT_LE(exr.rgba[p + c], a * (1 + 1e-6f)) << "pixel " << p / 4;
            }
            const double encoded = std::min(1.0, srgbEncode(exr.rgba[p + c] / a));
            ASSERT_NEAR(encoded, png.rgba[p + c], 1e-3) << "pixel " << p / 4 << " channel " << c;
            ++compared;
        }
    }
    EXPECT_GT(edges, 50);
    EXPECT_GT(compared, 1000);
}

TEST(ColourAndAlpha, ExrMetadataStatesAspectRateAndCamera) {
    ScratchDir dir;
    struct Case {
        const char *name, *composition, *layers;
        std::array<double, 3> camera; // where the frame's camera is
    };
    const double d = 64 * 50.0 / 36.0; // the default camera's distance
    const Case cases[] = {
        {"default camera, wide pixels", R"(, "pixel_aspect": 2, "frame_rate": 29.97)", "", {32, 18, -d}},
        {"composition camera", "",
         R"({"name": "C", "type": "camera", "transform": {"position": [10, -20, -300],
             "point_of_interest": [40, 30, 50]}},)",
         {10, -20, -300}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        render_test::writeFile(dir / "s.json", sceneWith(c.composition, c.layers));
        const auto run = runRenderer("s.json -q -o s.exr --frame 3", dir.path());
        ASSERT_EQ(run.code, 0) << run.err;
        const FileRead exr = readThroughLibrary(dir / "s.exr");
        const bool wide = std::string(c.composition).find("pixel_aspect") != std::string::npos;
        EXPECT_FLOAT_EQ(exr.spec.get_float_attribute("PixelAspectRatio"), wide ? 2.0f : 1.0f);
        const OIIO::ParamValue *fps = exr.spec.find_attribute("FramesPerSecond", OIIO::TypeRational);
        ASSERT_TRUE(fps);
        const int *rate = static_cast<const int *>(fps->data());
        EXPECT_EQ(rate[0], wide ? 2997 : 30);
        EXPECT_EQ(rate[1], wide ? 100 : 1);
        EXPECT_EQ(exr.spec.get_int_attribute("veltrix:frame", -1), 3);
        EXPECT_EQ(exr.spec.get_string_attribute("veltrix:scene"), "s.json");
        EXPECT_NE(exr.spec.get_string_attribute("Software").find("veltrix-render "), std::string::npos);
        const OIIO::ParamValue *toCamera = exr.spec.find_attribute("worldtocamera", OIIO::TypeMatrix);
        const OIIO::ParamValue *toNdc = exr.spec.find_attribute("worldtoNDC", OIIO::TypeMatrix);
        ASSERT_TRUE(toCamera && toNdc);
        const auto eye = through(static_cast<const float *>(toCamera->data()), c.camera[0], c.camera[1],
                                 c.camera[2]);
        for (double v : eye) EXPECT_NEAR(v, 0.0, 1e-3);
        if (!*c.layers) { // the default camera sees the composition's centre in the image's centre
            const auto centre = through(static_cast<const float *>(toNdc->data()), 32, 18, 0);
            EXPECT_NEAR(centre[0], 0.5, 1e-6);
            EXPECT_NEAR(centre[1], 0.5, 1e-6);
            const auto ahead = through(static_cast<const float *>(toCamera->data()), 32, 18, 0);
            EXPECT_NEAR(ahead[2], d, 1e-3); // in front of the camera, along +z
        }
    }
}

TEST(ColourAndAlpha, FootageIsConvertedIntoTheWorkingSpace) {
    ScratchDir dir;
    // A float EXR (linear by default) and an 8-bit PNG (sRGB), one grey each.
    const float linear = 0.2f;
    std::vector<float> exrPixels = {linear, linear, linear, 1.0f};
    auto out = OIIO::ImageOutput::create(dir / "grey.exr");
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(dir / "grey.exr", OIIO::ImageSpec(1, 1, 4, OIIO::TypeDesc::FLOAT)));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, exrPixels.data()) && out->close());
    veltrix_render::Image png = veltrix_render::Image::transparent(1, 1, 8);
    png.u8 = {128, 128, 128, 255};
    std::string error;
    ASSERT_TRUE(veltrix_render::writeImage(png, dir / "grey.png", error)) << error;
    // An 8-bit RGBA file that names no colour space (TGA records none): taken
    // as sRGB, as integer files are.
    out = OIIO::ImageOutput::create(dir / "grey.tga");
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(dir / "grey.tga", OIIO::ImageSpec(1, 1, 4, OIIO::TypeDesc::UINT8)));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, png.u8.data()) && out->close());

    struct Case {
        const char *source, *working;
        double expected;
        const char *layerSpace = "";
    };
    const Case cases[] = {{"grey.exr", "sRGB", srgbEncode(linear)},
                          {"grey.exr", "linear", linear},
                          {"grey.png", "linear", srgbDecode(128 / 255.0)},
                          {"grey.png", "sRGB", 128 / 255.0},
                          {"grey.tga", "linear", srgbDecode(128 / 255.0)},
                          {"grey.tga", "sRGB", 128 / 255.0},
                          {"grey.png", "sRGB", srgbEncode(rec709Decode(128 / 255.0)), "rec709"}};
    veltrix_render::chooseColourConfig("");
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " in " + c.working);
        const std::string text = sceneWith(R"(, "working_space": ")" + std::string(c.working) + "\"",
                                           R"({"type": "footage", "source": ")" + std::string(c.source) +
                                               (*c.layerSpace ? R"(", "colorspace": ")" + std::string(c.layerSpace) : "") +
                                               R"("},)");
        headless::Scene scene =
            headless::parseScene(text, "s.json", dir.path().string(), render_test::catalog(),
                                 veltrix_render::readImage);
        veltrix_render::bringFootageIntoWorkingSpace(scene);
        const headless::FootageSource &footage = scene.composition.layers[0].footage;
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(footage.sample(std::size_t(channel)), c.expected, 1e-5);
        EXPECT_EQ(footage.sample(3), 1.0f);
        // Integer footage already in the working space stays as it was read.
        const bool keptAsRead =
            std::string(c.source) != "grey.exr" && std::string(c.working) == "sRGB" && !*c.layerSpace;
        EXPECT_EQ(footage.rgba8.size(), keptAsRead ? 4u : 0u);
    }
}

TEST(ColourAndAlpha, FileOptionsTheFormatCannotHonourAreRefused) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", sceneWith("", ""));
    const std::pair<const char *, const char *> cases[] = {
        {"-o a.png --alpha premultiplied", "PNG files hold straight"},
        {"-o a.exr --colorspace nosuch", "unknown colour space \"nosuch\" (known: "},
        {"-o a.exr --compression nosuch", ".exr files offer zip, zips, piz"},
        {"-o a.png --compression zip", ".png files offer no choice of compression"},
        {"-o a.tif --half", "--half: only .exr files"},
        {"-o a.exr --colorconfig missing.ocio", "--colorconfig missing.ocio: "},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args);
        const auto run = runRenderer(std::string("s.json -q ") + args, dir.path());
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_EQ(dir.listing(), "s.json\n"); // nothing written
}

TEST(ColourAndAlpha, HalfFloatsCompressionAndTiffAlphaAsAsked) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", sceneWith(R"(, "pixel_aspect": 2)", ""));
    ASSERT_EQ(runRenderer("s.json -q -o h.exr --half --compression dwaa", dir.path()).code, 0);
    ASSERT_EQ(runRenderer("s.json -q -o p.tif --depth 16 --alpha premultiplied", dir.path()).code, 0);
    ASSERT_EQ(runRenderer("s.json -q -o s.png", dir.path()).code, 0);
    const FileRead half = readThroughLibrary(dir / "h.exr");
    EXPECT_EQ(half.spec.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(half.spec.get_string_attribute("compression"), "dwaa");
    const FileRead tif = readThroughLibrary(dir / "p.tif"), png = readThroughLibrary(dir / "s.png");
    EXPECT_EQ(tif.spec.get_int_attribute("oiio:UnassociatedAlpha", 0), 0); // ExtraSamples: associated
    EXPECT_FLOAT_EQ(tif.spec.get_float_attribute("PixelAspectRatio"), 2.0f);
    EXPECT_FLOAT_EQ(png.spec.get_float_attribute("PixelAspectRatio"), 2.0f); // pHYs
    EXPECT_EQ(png.spec.get_string_attribute("DocumentName"), "s.json");
}

} // namespace
