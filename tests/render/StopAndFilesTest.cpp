// What a render farm and a careful user rely on: a run stopped by SIGINT or
// SIGTERM leaves every finished frame whole and no temporary file; an output
// the user made read-only is never replaced; a link is written through.
#include "headless/render/ImageIO.h"
#include "RenderTestSupport.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace {

namespace fs = std::filesystem;
using render_test::RunResult;
using render_test::ScratchDir;

const char *const kScene = R"({
  "composition": {"width": 320, "height": 240, "frame_rate": 24, "duration": 2},
  "layers": [{"name": "Surface", "type": "solid",
              "effects": [{"effect": "Veltrix", "params": {
                "Rotation X": {"keyframes": [[0, -80], [2, 40]]}}}]}]
})";

std::vector<std::string> filesIn(const fs::path &folder, const std::string &part) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(part) != std::string::npos) names.push_back(name);
    }
    return names;
}

TEST(Stopping, ASignalFinishesTheFrameLeavesNoTemporaryFileAndExitsWithItsCode) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ScratchDir dir;
        render_test::writeFile(dir / "s.json", kScene);
        const pid_t pid = render_test::startRenderer(
            "s.json --frames 0-47 --threads 1 -o 'f_##.exr'", dir.path());
        // Wait for two frames, then ask the render to stop.
        for (int i = 0; i < 6000 && filesIn(dir.path(), "f_").size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(kill(pid, signal), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);

        const std::string err = render_test::readFile(dir / ".stderr");
        EXPECT_NE(err.find(signal == SIGTERM ? "stopped by SIGTERM during frame "
                                             : "stopped by SIGINT during frame "),
                  std::string::npos) << err;
        EXPECT_TRUE(filesIn(dir.path(), "veltrix-tmp").empty()) << dir.listing();
        const std::vector<std::string> frames = filesIn(dir.path(), "f_");
        EXPECT_GE(frames.size(), 2u);
        EXPECT_LT(frames.size(), 48u) << "the render ended before the signal";
        for (const std::string &name : frames) { // every frame left is whole
            veltrix_render::Image image;
            std::string error;
            EXPECT_TRUE(veltrix_render::readStoredImage(dir / name, image, error)) << name << error;
            EXPECT_EQ(image.width, 320) << name;
        }
    }
}

TEST(OutputFiles, ReadOnlyOutputsAreRefusedAndLinksWrittenThrough) {
    ScratchDir dir;
    render_test::writeFile(dir / "s.json", kScene);
    render_test::writeFile(dir / "locked.png", "a protected render");
    fs::permissions(dir.path() / "locked.png", fs::perms::owner_read | fs::perms::group_read |
                                                   fs::perms::others_read);
    RunResult r = render_test::runRenderer("s.json --downsample 8 -o locked.png", dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("-o locked.png: the existing file is read-only"), std::string::npos)
        << r.err;
    EXPECT_EQ(render_test::readFile(dir / "locked.png"), "a protected render");

    fs::create_directory(dir.path() / "store");
    render_test::writeFile(dir / "store/real.png", "an earlier render");
    fs::create_symlink("store/real.png", dir.path() / "link.png");
    fs::create_symlink("store/new.png", dir.path() / "dangling.png");
    for (const char *name : {"link.png", "dangling.png"}) {
        SCOPED_TRACE(name);
        r = render_test::runRenderer(std::string("s.json --downsample 8 -q -o ") + name,
                                     dir.path());
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir.path() / name));
        veltrix_render::Image image;
        std::string error;
        EXPECT_TRUE(veltrix_render::readStoredImage(dir / name, image, error)) << error;
        EXPECT_EQ(image.width, 40);
    }
    EXPECT_EQ(render_test::ScratchDir::listingOf(dir.path() / "store"), "new.png\nreal.png\n");
}

} // namespace
