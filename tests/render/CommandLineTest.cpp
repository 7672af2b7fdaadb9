// veltrix-render as users and scripts run it: exit codes, messages that say
// where the problem is, and nothing written (or damaged) on bad input.
#include "RenderTestSupport.h"

namespace {

using render_test::RunResult;
using render_test::ScratchDir;
namespace fs = std::filesystem;

const char *const kScene = R"({
  "composition": {"width": 64, "height": 48, "duration": 1},
  "layers": [{"name": "Surface", "type": "solid",
              "effects": [{"effect": "Veltrix", "params": {"Radius Scale": 80}}]}]
})";

struct BadRun {
    const char *what;
    std::string scene; // the scene file's text
    std::string args;  // after the scene file's name
    std::string message;
};

std::vector<BadRun> badRuns() {
    const std::string scene = kScene;
    auto edit = [&](const std::string &from, const std::string &to) {
        std::string s = scene;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    return {
        {"malformed scene", scene.substr(0, 60), "-o out.png",
         "scene.json:2:"}, // LINE:COLUMN
        {"unknown parameter", edit("Radius Scale", "Radius"), "-o out.png",
         "scene.json: layers[0].effects[0].params[\"Radius\"]: unknown parameter"},
        {"value out of range", edit("80", "-1"), "-o out.png",
         "scene.json: layers[0].effects[0].params[\"Radius Scale\"]: -1 is outside the valid range"},
        {"missing image", edit(R"("type": "solid")", R"("type": "footage", "source": "nope.png")"),
         "-o out.png", "scene.json: layers[0].source: cannot read the image"},
        {"no effect in the scene", edit(R"("effect": "Veltrix", "params": {"Radius Scale": 80})", ""),
         "-o out.png", ""},
        {"layer without the effect", scene, "-o out.png --layer Other",
         "--layer Other: no layer of that name carries the Veltrix effect"},
        {"depth the format cannot hold", scene, "-o out.png --depth 32",
         ".png files hold 8 or 16 bits"},
        {"unknown output type", scene, "-o out.jpg", "unsupported output type"},
        {"missing output folder", scene, "-o nowhere/out.png", "nowhere does not exist"},
        {"range without a frame number", scene, "-o out.png --frames 0-3", "put a run of #"},
        {"frame past the end", scene, "-o out.png --frame 30", "frames 0 to 29"},
        {"bad option value", scene, "-o out.png --downsample 0", "--downsample"},
        {"fractional downsample", scene, "-o out.png --downsample 2.5",
         "--downsample: must be a whole number, not 2.5"},
        {"frame rate too slow to time", edit("\"duration\": 1}", "\"duration\": 1, \"frame_rate\": 0.0004}"),
         "-o out.png", "scene.json: composition.frame_rate: 0.0004 is too small: at least 0.001"},
        {"pixel aspect that rounds to nothing",
         edit("\"duration\": 1}", "\"duration\": 1, \"pixel_aspect\": 1e-7}"), "-o out.png",
         "scene.json: composition.pixel_aspect: 1e-07 is too small: at least 0.01"},
        {"keyframed solid colour",
         edit("\"type\": \"solid\"", "\"type\": \"solid\", \"color\": {\"keyframes\": [[0, [1, 0, 0]]]}"),
         "-o out.png", "scene.json: layers[0].color: a solid's colour cannot be keyframed"},
        {"pixel aspect beyond a double", edit("\"duration\": 1}", "\"duration\": 1, \"pixel_aspect\": 1e400}"),
         "-o out.png", "scene.json: composition.pixel_aspect: "},
        {"exclusive options", scene, "-o out.png --frame 1 --time 0.5", "excludes"},
        {"job option without a job", scene, "-o out.png --chunk 4", "--chunk goes with --submit"},
        {"unknown scheduler", scene, "-o out.png --submit pbs", "--submit: pbs not in {slurm}"},
        {"a composition time for a job", scene, "-o out.png --time 0.5 --submit slurm --dry-run",
         "--time: not with --submit"},
        {"job id that is not one", scene, "-o out.png --collect 12x", "must be a job id"},
        {"one stats file for many tasks", scene,
         "-o f_#.png --frames 0-3 --submit slurm --dry-run --stats-json s.json",
         "--stats-json: not with --submit"},
    };
}

TEST(CommandLine, BadInputExitsWithTwoAndWritesNothing) {
    for (const BadRun &run : badRuns()) {
        SCOPED_TRACE(run.what);
        ScratchDir dir;
        render_test::writeFile(dir / "scene.json", run.scene);
        render_test::writeFile(dir / "out.png", "an earlier render");
        const std::string before = dir.listing();
        const RunResult result = render_test::runRenderer("scene.json " + run.args, dir.path());
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_NE(result.err.find(run.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.rfind("veltrix-render: ", 0), 0u) << result.err;
        EXPECT_EQ(render_test::readFile(dir / "out.png"), "an earlier render");
        EXPECT_EQ(dir.listing(), before);
    }
}

TEST(CommandLine, MissingSceneAndPlugin) {
    ScratchDir dir;
    RunResult result = render_test::runRenderer("absent.json", dir.path());
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("absent.json: cannot be opened"), std::string::npos) << result.err;

    result = render_test::runRenderer("", dir.path());
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("no scene file given"), std::string::npos);

    render_test::writeFile(dir / "scene.json", kScene);
    result = render_test::runRenderer("scene.json --plugin ./none.so", dir.path());
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("cannot load the plug-in"), std::string::npos) << result.err;
    EXPECT_EQ(dir.listing(), "scene.json\n");
}

TEST(CommandLine, ListParamsShowsWhatThePluginRegisters) {
    ScratchDir dir;
    const RunResult result = render_test::runRenderer("--list-params", dir.path());
    EXPECT_EQ(result.code, 0) << result.err;
    for (const char *expected : {"Radius Scale", "0 to 32767", "\"Both Sides\" (3)",
                                 "1 \"Off\" | 2 \"Fog\" | 3 \"Fade Out\"", "[Shading]"})
        EXPECT_NE(result.out.find(expected), std::string::npos) << expected;

    // The plug-in can also be named by the environment.
    const std::string command = "cd '" + dir.path().string() +
                                "' && VELTRIX_PLUGIN=./none.so '" VELTRIX_RENDER_PATH
                                "' --list-params >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(CommandLine, SetWedgesAParameterOrALayerSettingForOneRun) {
    ScratchDir dir;
    const std::string texture = "'" + render_test::sourcePath("examples/texture.json") + "'";
    RunResult a = render_test::runRenderer(texture + " --downsample 4 --set 'Rotation Y=0' -o a.png",
                                           dir.path());
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_NE(a.err.find("; with Rotation Y=0"), std::string::npos) << a.err; // the header says so
    RunResult b = render_test::runRenderer(texture + " --downsample 4 --set 'Rotation Y=90' -o b.png",
                                           dir.path());
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_NE(render_test::readFile(dir / "a.png"), render_test::readFile(dir / "b.png"));

    // The same value from the scene file gives the same frame as from --set.
    std::string scene = render_test::readFile(render_test::sourcePath("examples/texture.json"));
    scene.replace(scene.find("\"Rotation Y\": 35"), 16, "\"Rotation Y\": 90");
    render_test::writeFile(dir / "texture.json", scene); // same name: the files record it
    fs::create_directories(dir.path() / "images");
    fs::copy_file(render_test::sourcePath("examples/images/checker.png"), dir / "images/checker.png");
    ASSERT_EQ(render_test::runRenderer("texture.json --downsample 4 -q -o c.png", dir.path()).code, 0);
    EXPECT_EQ(render_test::readFile(dir / "c.png"), render_test::readFile(dir / "b.png"));

    // A layer's setting: the light's intensity changes the frame.
    RunResult d = render_test::runRenderer(
        texture + " --downsample 4 -q --set Sun.intensity=10 --set 'Texture=Checker' -o d.png",
        dir.path());
    ASSERT_EQ(d.code, 0) << d.err;
    EXPECT_NE(render_test::readFile(dir / "d.png"), render_test::readFile(dir / "a.png"));

    struct Bad {
        const char *set, *message;
    };
    const Bad bad[] = {
        {"Rotaton Y=90", "--set \"Rotaton Y=90\": unknown parameter \"Rotaton Y\"; did you mean "
                         "\"Rotation Y\"?"},
        {"Rotation Y=abc", "--set \"Rotation Y=abc\": expected a number, found the text \"abc\""},
        {"Radius Scale=-1", "-1 is outside the valid range of \"Radius Scale\""},
        {"Texture=Sun", "the layer \"Sun\" is a light and has no image to use"},
        {"Sun.intensty=5", "the light layer \"Sun\" has no setting \"intensty\"; did you mean "
                           "\"intensity\"?"},
        {"Sun.intensity=[1]", "layers[0].light.intensity: expected a number"},
        {"Sn.intensity=5", "no layer and no parameter is named \"Sn\"; did you mean the layer "
                           "\"Sun\"?"},
        {"Rotation Y", "expected NAME=VALUE"},
    };
    for (const Bad &c : bad) {
        SCOPED_TRACE(c.set);
        const RunResult r = render_test::runRenderer(
            texture + " --set '" + c.set + "' -o e.png", dir.path());
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path() / "e.png"));
    }
}

TEST(CommandLine, ANullAsTextureOrAnEffectColourInZeroToOneIsWarnedAbout) {
    ScratchDir dir;
    std::string scene = kScene;
    scene.replace(scene.find("\"Radius Scale\": 80"), 18,
                  "\"Texture\": \"Null 1\", \"Control Layer\": \"Null 1\", "
                  "\"Fog Color\": [1, 0.5, 0.2]");
    scene.replace(scene.find("[{"), 2, "[{\"type\": \"null\"}, {");
    render_test::writeFile(dir / "scene.json", scene);
    const RunResult r = render_test::runRenderer("scene.json -o out.png", dir.path());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("warning: scene.json: layers[1].effects[0].params[\"Texture\"]: the layer "
                         "\"Null 1\" is a null, which has no pixels"),
              std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("params[\"Control Layer\"]"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("params[\"Fog Color\"]: every channel is at most 1"), std::string::npos)
        << r.err;
}

TEST(CommandLine, HelpAndVersion) {
    ScratchDir dir;
    RunResult result = render_test::runRenderer("--help", dir.path());
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("--frames LIST"), std::string::npos);
    result = render_test::runRenderer("--version", dir.path());
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("veltrix-render"), std::string::npos);
}

} // namespace
