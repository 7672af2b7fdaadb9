// Whole renders through the command line: depths and types agree with each
// other, ranges report progress, outputs are replaced only by complete files.
#include "headless/render/ImageIO.h"
#include "RenderTestSupport.h"

#include <cmath>

namespace {

using render_test::RunResult;
using render_test::ScratchDir;
using veltrix_render::Image;

const char *const kScene = R"({
  "composition": {"width": 96, "height": 64, "frame_rate": 10, "duration": 1},
  "layers": [
    {"name": "Key", "type": "light", "light": {"type": "point"},
     "transform": {"position": [20, 10, -200]}},
    {"name": "Surface", "type": "solid", "in_point": 0.5,
     "effects": [{"effect": "Veltrix", "params": {
       "Dist. from Center": 8, "Rotation Y": 20, "Emit": 0,
       "Rotation X": {"keyframes": [[0.5, -80], [1, -40]]}}}]}
  ]
})";

Image read(const std::string &path) {
    Image image;
    std::string error;
    EXPECT_TRUE(veltrix_render::readStoredImage(path, image, error)) << error;
    return image;
}

double sample(const Image &image, std::size_t i) {
    switch (image.bits) {
    case 8: return image.u8[i] / 255.0;
    case 16: return image.u16[i] / 65535.0;
    default: return image.f32[i];
    }
}

TEST(RenderRun, DepthsAndTypesShowTheSameFrame) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", kScene);
    const std::vector<std::pair<std::string, int>> outputs = {
        {"f.png", 8}, {"f16.png", 16}, {"f.tif", 32}, {"f.exr", 32}};
    for (const auto &[name, bits] : outputs) {
        // Float files kept in the working space with straight colour, as the
        // integer files are, so that every file holds the effect's own values.
        const std::string depth = (name == "f.exr" ? "" : " --depth " + std::to_string(bits)) + // .exr: 32 by default
                                  (bits == 32 ? " --colorspace sRGB --alpha straight" : "");
        const RunResult r = render_test::runRenderer("s.json --frame 6 -q -o " + name + depth,
                                                     dir.path());
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const Image reference = read(dir / "f.exr");
    ASSERT_EQ(reference.width, 96);
    ASSERT_EQ(reference.height, 64);
    double covered = 0;
    for (const auto &[name, bits] : outputs) {
        SCOPED_TRACE(name);
        const Image image = read(dir / name);
        ASSERT_EQ(image.bits, bits);
        ASSERT_EQ(image.sampleCount(), reference.sampleCount());
        // Each depth renders on its own; they agree within 8-bit rounding.
        for (std::size_t i = 0; i < image.sampleCount(); ++i) {
            const double ref = std::clamp(double(reference.f32[i]), 0.0, 1.0);
            ASSERT_NEAR(sample(image, i), ref, 1.5 / 255.0) << "sample " << i;
        }
    }
    for (std::size_t i = 3; i < reference.f32.size(); i += 4) covered += reference.f32[i];
    EXPECT_GT(covered, 10.0); // the surface is in the frame
    EXPECT_EQ(dir.listing(), "f.exr\nf.png\nf.tif\nf16.png\ns.json\n");
}

TEST(RenderRun, RangesNumberTheirFilesAndReportProgress) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", kScene);
    const RunResult r =
        render_test::runRenderer("s.json --frames 4-6 -o 'f_###.png' --stats", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(dir.listing(), "f_004.png\nf_005.png\nf_006.png\ns.json\n");
    // Not a terminal: one plain line per frame.
    EXPECT_NE(r.err.find("[1/3] frame 4 in "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[3/3] frame 6 in "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("-> f_006.png"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("scene load"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame 5  render "), std::string::npos) << r.out;

    // Before its in point (0.5 s) the layer shows nothing: a transparent frame.
    const Image before = read(dir / "f_004.png");
    EXPECT_TRUE(std::all_of(before.u8.begin(), before.u8.end(), [](auto v) { return v == 0; }));
    // The keyframed rotation moves the surface between frames.
    EXPECT_NE(read(dir / "f_005.png").u8, read(dir / "f_006.png").u8);
}

TEST(RenderRun, FarmFrameNumbersListsAndResuming) {
    ScratchDir dir;
    std::string scene = kScene;
    const std::string end = R"("duration": 1})";
    scene.replace(scene.find(end), end.size(), R"("duration": 1, "start_frame": 1001})");
    render_test::writeFile(dir / "s.json", scene);
    std::filesystem::create_directory(dir.path() / "take#1");
    RunResult r = render_test::runRenderer(
        "s.json --frames 1002-1008x3,1001 --threads 0 -o 'take#1/f.####.png'", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(render_test::ScratchDir::listingOf(dir.path() / "take#1"),
              "f.1001.png\nf.1002.png\nf.1005.png\nf.1008.png\n");
    EXPECT_NE(r.err.find("frame 1005 in "), std::string::npos) << r.err;

    // A resumed range leaves the frames already there alone.
    const std::string kept = "an earlier frame";
    render_test::writeFile(dir / "take#1/f.1005.png", kept);
    r = render_test::runRenderer("s.json --frames 1004-1006 --skip-existing -o 'take#1/f.####.png'",
                                 dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("1 of 3 frames already have their file"), std::string::npos) << r.err;
    EXPECT_EQ(render_test::readFile(dir / "take#1/f.1005.png"), kept);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "take#1/f.1006.png"));

    // A folder in a frame's place is no frame: it is not skipped as one.
    std::filesystem::create_directory(dir.path() / "take#1/f.1007.png");
    r = render_test::runRenderer("s.json --frames 1004-1007 --skip-existing -o 'take#1/f.####.png'",
                                 dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("f.1007.png: is a folder"), std::string::npos) << r.err;

    r = render_test::runRenderer("s.json --frame 1000 -o x.png", dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("frames 1001 to 1010"), std::string::npos) << r.err;
}

TEST(RenderRun, AnExistingOutputIsReplacedWhole) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", kScene);
    render_test::writeFile(dir / "f.png", "an earlier render");
    const RunResult r = render_test::runRenderer("s.json --frame 7 -o f.png", dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("wrote f.png (96 x 64, 8-bit)"), std::string::npos) << r.err;
    EXPECT_EQ(read(dir / "f.png").width, 96);
    EXPECT_EQ(dir.listing(), "f.png\ns.json\n");
}

TEST(RenderRun, DefaultOutputGoesToOutNamedAfterTheScene) {
    ScratchDir dir;
    render_test::writeFile(dir / "shot.json", kScene);
    const RunResult r = render_test::runRenderer("shot.json --frame 8 -q --downsample 2 --threads 1",
                                                 dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    const Image image = read(dir / "out/shot.png");
    EXPECT_EQ(image.width, 48);
    EXPECT_EQ(image.height, 32);
}

} // namespace
