// veltrix-render as users and scripts run it: exit codes, messages that say
// where the problem is, and nothing written (or damaged) on bad input.
#include "RenderTestSupport.h"

namespace {

using render_test::RunResult;
using render_test::ScratchDir;

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
        {"exclusive options", scene, "-o out.png --frame 1 --time 0.5", "excludes"},
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

TEST(CommandLine, HelpAndVersion) {
    ScratchDir dir;
    RunResult result = render_test::runRenderer("--help", dir.path());
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("--frames A-B"), std::string::npos);
    result = render_test::runRenderer("--version", dir.path());
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("veltrix-render"), std::string::npos);
}

} // namespace
