// Frames on disk: names with frame numbers, the host's buffers as file
// samples, every output type read back through OpenImageIO exactly, and
// writes that never damage what was there.
#include "headless/composition/CompositionPixels.h"
#include "headless/render/FramePlan.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "RenderTestSupport.h"

#include <OpenImageIO/imageio.h>

namespace {

using namespace veltrix_render;

TEST(FrameNumbers, RunsOfHashesBecomeZeroPaddedNumbers) {
    EXPECT_EQ(expandFrameNumber("out/f_####.png", 7), "out/f_0007.png");
    EXPECT_EQ(expandFrameNumber("f#.png", 7), "f7.png");
    EXPECT_EQ(expandFrameNumber("f##.png", 12345), "f12345.png"); // never cut
    EXPECT_EQ(expandFrameNumber("a##_b###.tif", 3), "a03_b003.tif");
    EXPECT_EQ(expandFrameNumber("plain.png", 3), "plain.png");
    EXPECT_EQ(expandFrameNumber("take#/f_##.png", 3), "take#/f_03.png"); // folders keep their #
    EXPECT_TRUE(hasFrameNumberRun("x#.png"));
    EXPECT_FALSE(hasFrameNumberRun("x.png"));
    EXPECT_FALSE(hasFrameNumberRun("dir#/x.png"));
}

TEST(SixteenBit, HostRangeIsScaledToTheFullFileRange) {
    EXPECT_EQ(fileSample16(0), 0);
    EXPECT_EQ(fileSample16(32768), 65535);
    EXPECT_EQ(fileSample16(1), 2);          // 1.99997 rounds up
    EXPECT_EQ(fileSample16(16384), 32768);  // 32767.5 rounds up
    EXPECT_EQ(fileSample16(32767), 65533);  // 65533.00003
    EXPECT_EQ(fileSample16(40000), 65535);  // beyond full intensity: clamped
    for (std::uint32_t v = 0; v <= 32768; ++v)
        ASSERT_EQ(fileSample16(std::uint16_t(v)), std::lround(v * 65535.0 / 32768.0)) << v;
}

// The output buffer is ARGB with padded rows; the file is RGBA.
TEST(WorldToImage, ReordersChannelsAndScalesSixteenBits) {
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        auto world = headless::LayerImage::create(3, 2, bits);
        ASSERT_TRUE(world);
        world->store(2, 1, PF_PixelFloat{0.5f, 1.0f, 0.25f, 0.0f}); // alpha, red, green, blue
        const Image image = imageFromWorld(world->world(), bits);
        ASSERT_EQ(image.width, 3);
        ASSERT_EQ(image.height, 2);
        const std::size_t at = (1 * 3 + 2) * 4;
        if (bits == 8) {
            EXPECT_EQ(image.u8[at + 0], 255);
            EXPECT_EQ(image.u8[at + 1], 63);
            EXPECT_EQ(image.u8[at + 3], 127);
        } else if (bits == 16) {
            EXPECT_EQ(image.u16[at + 0], 65535);
            EXPECT_EQ(image.u16[at + 1], fileSample16(8192));
            EXPECT_EQ(image.u16[at + 3], fileSample16(16384));
        } else {
            EXPECT_EQ(image.f32[at + 0], 1.0f);
            EXPECT_EQ(image.f32[at + 1], 0.25f);
            EXPECT_EQ(image.f32[at + 3], 0.5f);
        }
    }
}

// A frame whose samples cover the range, including colour under zero alpha,
// which straight-alpha files must keep.
Image testFrame(int bits) {
    Image image = Image::transparent(5, 3, bits);
    for (std::size_t i = 0; i < image.sampleCount(); ++i) {
        const double f = double((i * 37) % 101) / 100.0; // 0..1, every channel different
        if (bits == 8) image.u8[i] = std::uint8_t(std::lround(f * 255));
        if (bits == 16) image.u16[i] = std::uint16_t(std::lround(f * 65535));
        if (bits == 32) image.f32[i] = float(f * 1.5 - 0.1); // beyond 0..1 too
    }
    // Pixel 0: zero alpha over a colour.
    if (bits == 8) image.u8[0] = 200, image.u8[3] = 0;
    if (bits == 16) image.u16[0] = 50000, image.u16[3] = 0;
    if (bits == 32) image.f32[0] = 0.75f, image.f32[3] = 0.0f;
    return image;
}

TEST(OutputFiles, EveryTypeAndDepthRoundTripsExactly) {
    render_test::ScratchDir dir;
    const std::vector<std::pair<std::string, int>> cases = {
        {"a.png", 8}, {"a.png", 16}, {"a.tif", 8}, {"a.tif", 16},
        {"a.tif", 32}, {"a.TIFF", 16}, {"a.exr", 32}};
    for (const auto &[name, bits] : cases) {
        SCOPED_TRACE(name + " " + std::to_string(bits));
        const Image frame = testFrame(bits);
        std::string error;
        WriteSettings straight; // exact samples: no premultiplying, even for EXR
        straight.alpha = AlphaMode::Straight;
        ASSERT_TRUE(writeImage(frame, dir / name, straight, error)) << error;
        Image back;
        ASSERT_TRUE(readStoredImage(dir / name, back, error)) << error;
        EXPECT_EQ(back.width, frame.width);
        EXPECT_EQ(back.height, frame.height);
        EXPECT_EQ(back.bits, bits);
        EXPECT_EQ(back.u8, frame.u8);
        EXPECT_EQ(back.u16, frame.u16);
        EXPECT_EQ(back.f32, frame.f32);
    }
    EXPECT_EQ(dir.listing(), "a.TIFF\na.exr\na.png\na.tif\n"); // no temporary files left
}

TEST(OutputFiles, FormatsKnowTheirDepths) {
    OutputFormat f;
    ASSERT_TRUE(outputFormatOf("x/Y.PNG", f));
    EXPECT_TRUE(f.holds(16));
    EXPECT_FALSE(f.holds(32));
    EXPECT_EQ(f.depthList(), "8 or 16");
    ASSERT_TRUE(outputFormatOf("y.exr", f));
    EXPECT_EQ(f.defaultDepth, 32);
    EXPECT_FALSE(f.holds(8));
    ASSERT_TRUE(outputFormatOf("y.tiff", f));
    EXPECT_EQ(f.depthList(), "8, 16 or 32");
    EXPECT_FALSE(outputFormatOf("y.jpg", f));
    EXPECT_FALSE(outputFormatOf("noextension", f));
}

TEST(OutputFiles, AFailedWriteLeavesTheExistingFileAlone) {
    render_test::ScratchDir dir;
    const std::string target = dir / "frame.png";
    render_test::writeFile(target, "precious bytes");
    std::string error;
    EXPECT_FALSE(writeImage(Image{}, target, error)); // nothing to write
    EXPECT_EQ(render_test::readFile(target), "precious bytes");

    // A target that cannot be replaced (a folder) fails after the encode.
    std::filesystem::create_directory(dir.path() / "busy.png");
    render_test::writeFile(dir / "busy.png/inside", "x");
    EXPECT_FALSE(writeImage(testFrame(8), dir / "busy.png", error));
    EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
    EXPECT_EQ(dir.listing(), "busy.png\nframe.png\n");

    ASSERT_TRUE(writeImage(testFrame(8), target, error)) << error;
    EXPECT_NE(render_test::readFile(target), "precious bytes");
}

TEST(FootageFiles, GreyAndOpaqueImagesBecomeStraightRgba) {
    render_test::ScratchDir dir;
    // A grey PNG with alpha, written directly through OpenImageIO.
    {
        auto out = OIIO::ImageOutput::create("grey.png");
        OIIO::ImageSpec spec(2, 1, 2, OIIO::TypeDesc::UINT8);
        spec.alpha_channel = 1;
        spec.attribute("oiio:UnassociatedAlpha", 1);
        const std::uint8_t pixels[] = {51, 255, 204, 0};
        ASSERT_TRUE(out->open(dir / "grey.png", spec));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels));
        out->close();
    }
    headless::FootageSource source;
    std::string error;
    ASSERT_TRUE(readImage(dir / "grey.png", source, error)) << error;
    // An 8-bit file's footage keeps its bytes.
    EXPECT_EQ(source.rgba8, (std::vector<std::uint8_t>{51, 51, 51, 255, 204, 204, 204, 0}));
    EXPECT_TRUE(source.rgba.empty());
    EXPECT_FLOAT_EQ(source.sample(0), 0.2f);
    EXPECT_EQ(source.sample(3), 1.0f);
    EXPECT_FLOAT_EQ(source.sample(4), 0.8f); // kept under zero alpha

    // Premultiplied 8-bit samples are divided by alpha, as floats.
    {
        auto out = OIIO::ImageOutput::create("p.tif");
        OIIO::ImageSpec spec(1, 1, 4, OIIO::TypeDesc::UINT8);
        spec.alpha_channel = 3;
        const std::uint8_t pixel[] = {64, 128, 0, 128};
        ASSERT_TRUE(out->open(dir / "p.tif", spec));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixel));
        out->close();
    }
    ASSERT_TRUE(readImage(dir / "p.tif", source, error)) << error;
    ASSERT_EQ(source.rgba.size(), 4u);
    EXPECT_TRUE(source.rgba8.empty());
    EXPECT_EQ(source.rgba[0], headless::sampleValue(std::uint8_t{64}) / headless::sampleValue(std::uint8_t{128}));
    EXPECT_EQ(source.rgba[1], 1.0f);
    EXPECT_EQ(source.rgba[3], headless::sampleValue(std::uint8_t{128}));

    // An EXR is written premultiplied and comes back straight.
    Image exr = Image::transparent(1, 1, 32);
    exr.f32 = {0.25f, 0.5f, 0.0f, 0.5f};
    ASSERT_TRUE(writeImage(exr, dir / "p.exr", error)) << error;
    Image stored;
    ASSERT_TRUE(readStoredImage(dir / "p.exr", stored, error)) << error;
    EXPECT_EQ(stored.f32, (std::vector<float>{0.125f, 0.25f, 0.0f, 0.5f}));
    ASSERT_TRUE(readImage(dir / "p.exr", source, error)) << error;
    EXPECT_FLOAT_EQ(source.rgba[0], 0.25f);
    EXPECT_FLOAT_EQ(source.rgba[1], 0.5f);
}

// The layers a frame checked out are kept for the next frame, or let go
// after the last one; a frame made after they went, or from kept ones, is
// the same as the first. Set down, the effect holds nothing of the host's.
TEST(FrameRendering, KeptOrLetGoLayersGiveTheSameFrame) {
    const char *scene = R"({
      "composition": {"width": 64, "height": 48},
      "layers": [
        {"name": "Key", "type": "light", "light": {"type": "point"}, "transform": {"position": [20, 10, -200]}},
        {"name": "Tex", "type": "solid", "width": 40, "height": 30, "color": [0.2, 0.7, 0.4], "enabled": false},
        {"name": "Surface", "type": "solid", "effects": [{"effect": "Veltrix", "params": {
          "Texture": "Tex", "Dist. from Center": 8, "Rotation X": -60, "Emit": 0}}]}]})";
    headless::Scene parsed = headless::parseScene(scene, "s.json", ".", render_test::catalog(), readImage);
    ASSERT_EQ(parsed.effects.size(), 1u);
    const headless::SceneEffect effect = parsed.effects[0];
    FrameRenderer renderer(render_test::plugin(), std::move(parsed.composition), effect, 2, 8, 2);
    const Image first = renderer.render(0.0, FrameRenderer::NextFrame::None);
    const Image remade = renderer.render(0.0);
    const Image kept = renderer.render(0.0);
    EXPECT_EQ(remade.u8, first.u8);
    EXPECT_EQ(kept.u8, first.u8);
    EXPECT_EQ(renderer.setDown(), "ledger empty\n");
    EXPECT_THROW(renderer.render(0.0), RenderError);
}

// ---- planning ------------------------------------------------------------------------

headless::Composition comp30fps() {
    headless::Composition comp;
    comp.frameRate = 30.0;
    comp.duration = 2.0; // frames 0..59
    return comp;
}

TEST(FramePlanning, FramesTimesAndOutputNames) {
    Options o;
    FramePlan plan = planFrames(o, comp30fps(), "scenes/demo.json");
    ASSERT_EQ(plan.frames.size(), 1u);
    EXPECT_EQ(plan.frames[0].output, "out/demo.png");
    EXPECT_EQ(plan.depth, 8);
    EXPECT_TRUE(plan.defaultOutput);

    o.framesGiven = true;
    o.frameSpans = {{58, 59, 1}};
    plan = planFrames(o, comp30fps(), "demo.json");
    ASSERT_EQ(plan.frames.size(), 2u);
    EXPECT_EQ(plan.frames[1].output, "out/demo_0059.png"); // a range numbers its files
    EXPECT_DOUBLE_EQ(plan.frames[1].time, 59.0 / 30.0);

    o = Options{};
    o.timeGiven = true;
    o.time = 1.5;
    o.output = "x_###.exr";
    plan = planFrames(o, comp30fps(), "demo.json");
    EXPECT_EQ(plan.frames[0].output, "x_045.exr");
    EXPECT_EQ(plan.depth, 32);

    // A start frame renumbers frames, not times; lists keep their order, once each.
    headless::Composition film = comp30fps();
    film.startFrame = 1001;
    o = Options{};
    o.output = "f.####.exr";
    plan = planFrames(o, film, "demo.json");
    EXPECT_EQ(plan.frames[0].output, "f.1001.exr");
    EXPECT_DOUBLE_EQ(plan.frames[0].time, 0.0);
    o.framesGiven = true;
    o.frameSpans = {{1050, 1060, 5}, {1001, 1001, 1}, {1055, 1055, 1}};
    plan = planFrames(o, film, "demo.json");
    std::vector<long> numbers;
    for (const FrameJob &job : plan.frames) numbers.push_back(job.number);
    EXPECT_EQ(numbers, (std::vector<long>{1050, 1055, 1060, 1001}));
    EXPECT_DOUBLE_EQ(plan.frames[1].time, 54.0 / 30.0);
    o = Options{};
    o.timeGiven = true;
    o.time = 1.0;
    o.output = "t#.png";
    EXPECT_EQ(planFrames(o, film, "demo.json").frames[0].output, "t1031.png");
}

TEST(FramePlanning, FrameListsParseOrSayWhichItemIsWrong) {
    struct Case {
        const char *text;
        std::vector<FrameSpan> spans; // empty: refused
        const char *reason = "";
    };
    const Case cases[] = {
        {"5", {{5, 5, 1}}},
        {"3-10", {{3, 10, 1}}},
        {"0-10x2", {{0, 10, 2}}},
        {"1001-1100x4,1200,7-8", {{1001, 1100, 4}, {1200, 1200, 1}, {7, 8, 1}}},
        {"10-3", {}, "\"10-3\": the first frame 10 comes after the last 3"},
        {"-3-4", {}, "expected N, A-B or A-BxN"},
        {"a-b", {}, "expected N, A-B or A-BxN"},
        {"0-10x0", {}, "step after x must be a whole number of at least 1"},
        {"5x2", {}, "a step needs a range"},
        {"1,,2", {}, "an empty item"},
        {"1,", {}, "an empty item"},
        {"1234567890", {}, "expected N"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<FrameSpan> spans;
        std::string error;
        EXPECT_EQ(parseFrameList(c.text, spans, error), !c.spans.empty());
        if (!c.spans.empty()) EXPECT_EQ(spans, c.spans);
        else EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(FramePlanning, MistakesAreCaughtBeforeRendering) {
    auto fails = [](Options o, const std::string &reason) {
        try {
            planFrames(o, comp30fps(), "demo.json");
            ADD_FAILURE() << "no error for " << reason;
        } catch (const PlanError &e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    };
    Options o;
    o.output = "a.png";
    o.depth = 32;
    fails(o, ".png files hold 8 or 16 bits");
    o.output = "a.exr";
    o.depth = 16;
    fails(o, ".exr files hold 32 bits");
    o = Options{};
    o.output = "a.jpg";
    fails(o, "unsupported output type");
    o = Options{};
    o.frame = 60;
    o.frameGiven = true;
    fails(o, "frames 0 to 59");
    o = Options{};
    o.framesGiven = true;
    o.frameSpans = {{0, 3, 1}};
    o.output = "a.png";
    fails(o, "put a run of #");
    o.output = "take#/a.png"; // a # in a folder does not number files
    fails(o, "put a run of #");
    o.frames = "0-3,58-60";
    o.frameSpans = {{0, 3, 1}, {58, 60, 1}};
    o.output = "a#.png";
    fails(o, "--frames 0-3,58-60: the composition has frames 0 to 59");
    o = Options{};
    o.timeGiven = true;
    o.time = 2.0;
    fails(o, "lasts 2 seconds");

}

TEST(FramePlanning, OutputFoldersMustExistUnlessDefault) {
    render_test::ScratchDir dir;
    FramePlan plan;
    plan.frames = {{0, 0.0, dir / "missing/a.png"}};
    EXPECT_THROW(checkOutputs(plan), PlanError);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));

    plan.defaultOutput = true; // out/ is made for the default output
    EXPECT_NO_THROW(checkOutputs(plan));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "missing"));
    EXPECT_EQ(dir.listing(), "missing\n");
}

} // namespace
