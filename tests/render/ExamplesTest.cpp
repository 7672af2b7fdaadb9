// The example scenes users start from: their images are made by the project,
// every scene loads, and every scene renders through the command line.
#include "headless/composition/SceneFile.h"
#include "headless/render/ImageIO.h"
#include "RenderTestSupport.h"

namespace {

namespace fs = std::filesystem;
using render_test::ScratchDir;

std::vector<fs::path> exampleScenes() {
    std::vector<fs::path> scenes;
    for (const auto &entry : fs::directory_iterator(render_test::sourcePath("examples")))
        if (entry.path().extension() == ".json") scenes.push_back(entry.path());
    std::sort(scenes.begin(), scenes.end());
    return scenes;
}

// Opaque-enough pixels in an 8-bit frame: the surface is there.
std::size_t coveredPixels(const veltrix_render::Image &image) {
    std::size_t covered = 0;
    for (std::size_t i = 3; i < image.u8.size(); i += 4) covered += image.u8[i] > 128;
    return covered;
}

TEST(Examples, ImagesAreTheGeneratorsOutput) {
    ScratchDir dir;
    const std::string command =
        "'" VELTRIX_EXAMPLE_IMAGES_PATH "' '" + dir.path().string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char *name : {"checker.png", "lace.png", "sky.png"}) {
        SCOPED_TRACE(name);
        veltrix_render::Image made, committed;
        std::string error;
        ASSERT_TRUE(veltrix_render::readStoredImage(dir / name, made, error)) << error;
        ASSERT_TRUE(veltrix_render::readStoredImage(
            render_test::sourcePath(std::string("examples/images/") + name), committed, error))
            << error;
        EXPECT_EQ(made.width, committed.width);
        EXPECT_EQ(made.u8, committed.u8) << "regenerate with veltrix-example-images examples/images";
    }
}

TEST(Examples, EverySceneLoads) {
    const std::vector<fs::path> scenes = exampleScenes();
    ASSERT_GE(scenes.size(), 10u);
    for (const fs::path &scene : scenes) {
        SCOPED_TRACE(scene.filename().string());
        const headless::Scene loaded = headless::loadSceneFile(
            scene.string(), render_test::catalog(), veltrix_render::readImage);
        EXPECT_FALSE(loaded.effects.empty());
    }
}

// Small renders keep this quick; a range renders its first two frames.
TEST(Examples, EverySceneRenders) {
    for (const fs::path &scene : exampleScenes()) {
        const std::string name = scene.stem().string();
        SCOPED_TRACE(name);
        ScratchDir dir;
        const bool animated = name == "animated";
        const std::string args = "'" + scene.string() + "' --downsample 8 --quiet -o " +
                                 (animated ? "'f_##.png' --frames 0-1" : "frame.png");
        const render_test::RunResult result = render_test::runRenderer(args, dir.path());
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.err, ""); // --quiet
        veltrix_render::Image image;
        std::string error;
        ASSERT_TRUE(veltrix_render::readStoredImage(dir / (animated ? "f_01.png" : "frame.png"),
                                                    image, error))
            << error;
        EXPECT_EQ(image.width, 80);
        EXPECT_EQ(image.height, 45);
        EXPECT_GT(coveredPixels(image), 50u) << "the surface does not show";
    }
}

} // namespace
