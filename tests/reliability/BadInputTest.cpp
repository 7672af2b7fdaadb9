// The bad-input catalogue of veltrix-render: every kind of broken scene a
// user or a script can hand it, run through the real binary. Each must end
// with exit code 2 and one message naming the file, the place in it and the
// reason - and an output file that already exists must come through byte for
// byte, with nothing else written beside it.
#include <gtest/gtest.h>

#ifdef VELTRIX_RENDER_PATH

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kScene = R"({
  "composition": {"width": 48, "height": 32, "duration": 1},
  "layers": [
    {"name": "Key", "type": "light", "light": {"type": "point", "intensity": 120}},
    {"name": "Tex", "type": "footage", "source": "tex.ppm"},
    {"name": "Surface", "type": "solid", "color": [0.5, 0.5, 0.5],
     "effects": [{"effect": "Veltrix", "params": {"Texture": "Tex", "Render Side": "Full",
                                                   "Radius Scale": 100}}]}
  ]
})";

// A 2 x 1 binary PPM: one red and one blue pixel.
const std::string kImage = std::string("P6\n2 1\n255\n") + "\xff\x00\x00\x00\x00\xff";

// What stands in out.png before every bad run: it must survive untouched.
const std::string kEarlierRender = std::string("\x89PNG\r\n\x1a\n", 8) + "an earlier render";

std::string edited(const std::string &from, const std::string &to) {
    std::string text = kScene;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string withParams(const std::string &params) {
    return edited(R"("Radius Scale": 100)", params);
}

std::string withImage(const std::string &source) { return edited("tex.ppm", source); }

// "Tex" is parented to "Surface" and "Surface" to "Tex".
std::string withParentLoop() {
    std::string text = edited(R"("name": "Tex", "type": "footage")",
                              R"("name": "Tex", "type": "footage", "parent": "Surface")");
    const std::string from = R"("name": "Surface", "type": "solid")";
    text.replace(text.find(from), from.size(), R"("name": "Surface", "type": "solid", "parent": "Tex")");
    return text;
}

struct BadInput {
    const char *what;
    std::string scene;
    // Extra files beside the scene: name and bytes (a name ending in '/' is a folder).
    std::vector<std::pair<std::string, std::string>> files;
    std::string args = "-o out.png";
    // The message holds "scene.json" and then `place`, and `reason`.
    std::string place;
    std::string reason;
};

const std::string kParams = R"(layers[2].effects[0].params)";

std::vector<BadInput> catalogue() {
    const std::string truncated = kScene.substr(0, kScene.find(R"("type": "footage")"));
    return {
        // ---- the file is not JSON ------------------------------------------------------
        {"empty file", "", {}, "-o out.png", "scene.json:1:1", "malformed JSON"},
        {"only whitespace", "  \n\t\n", {}, "-o out.png", "scene.json:", "malformed JSON"},
        {"truncated mid-key", kScene.substr(0, 30), {}, "-o out.png", "scene.json:", "malformed JSON"},
        {"truncated between layers", truncated, {}, "-o out.png", "scene.json:", "malformed JSON"},
        {"truncated before the last brace", kScene.substr(0, kScene.rfind('}')), {}, "-o out.png",
         "scene.json:", "malformed JSON"},
        {"trailing garbage", kScene + "x", {}, "-o out.png", "scene.json:", "malformed JSON"},
        {"binary noise", std::string("\x00\xff\xfe{\x01", 5), {}, "-o out.png", "scene.json:",
         "malformed JSON"},
        {"comment in the JSON", "// scene\n" + kScene, {}, "-o out.png", "scene.json:",
         "malformed JSON"},
        {"top level is a list", "[" + kScene + "]", {}, "-o out.png", "scene.json", "object"},
        // ---- wrong types -------------------------------------------------------------------
        {"width as text", edited(R"("width": 48)", R"("width": "48")"), {}, "-o out.png",
         "scene.json: composition.width", "expected a number"},
        {"layers as an object",
         R"({"composition": {"width": 48, "height": 32}, "layers": {"name": "Surface"}})", {},
         "-o out.png", "scene.json: layers", ""},
        {"name as a number", edited(R"("name": "Key")", R"("name": 7)"), {}, "-o out.png",
         "scene.json: layers[0].name", "expected"},
        {"slider given text", withParams(R"("Radius Scale": "big")"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Radius Scale\"]", "expected a number"},
        {"checkbox given a number", withParams(R"("Self Shadow": 1)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Self Shadow\"]", "true or false"},
        {"layer parameter given a number", withParams(R"("Control Layer": 2)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Control Layer\"]", "layer name or null"},
        {"colour given text", withParams(R"("Fog Color": "white")"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Fog Color\"]", "[r, g, b]"},
        {"NaN spelled out", withParams(R"("Radius Scale": NaN)"), {}, "-o out.png", "scene.json:",
         "malformed JSON"},
        // ---- unknown names -----------------------------------------------------------------
        {"unknown top-level key", edited(R"("composition")", R"("comp")"), {}, "-o out.png",
         "scene.json: comp", "unknown key"},
        {"unknown layer type", edited(R"("type": "light")", R"("type": "lamp")"), {}, "-o out.png",
         "scene.json: layers[0].type", "unknown layer type"},
        {"unknown parameter", withParams(R"("Radius": 100)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Radius\"]", "unknown parameter"},
        {"unknown popup choice", withParams(R"("Falloff": "Linear")"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Falloff\"]", "not a choice"},
        {"unknown layer name", withParams(R"("Reflection Map": "Sky")"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Reflection Map\"]", "no layer is named \"Sky\""},
        {"unknown effect", edited(R"("effect": "Veltrix")", R"("effect": "Veltrx")"), {},
         "-o out.png", "scene.json: layers[2].effects[0].effect", "unknown effect"},
        // ---- values out of range -------------------------------------------------------------
        {"slider above its range", withParams(R"("Radius Scale": 32768)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Radius Scale\"]", "outside the valid range"},
        {"slider below its range", withParams(R"("Roughness": -0.5)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Roughness\"]", "outside the valid range"},
        {"huge number", withParams(R"("Position Z": 1e309)"), {}, "-o out.png", "scene.json",
         ""},
        {"popup number 0", withParams(R"("Render Side": 0)"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Render Side\"]", "not a choice"},
        {"negative composition size", edited(R"("height": 32)", R"("height": -32)"), {},
         "-o out.png", "scene.json: composition.height", "outside"},
        {"keyframed value out of range",
         withParams(R"("Radius Scale": {"keyframes": [[0, 10], [0.5, 99999]]})"), {}, "-o out.png",
         "scene.json: " + kParams + "[\"Radius Scale\"].keyframes[1][1]", "outside the valid range"},
        // ---- missing things --------------------------------------------------------------------
        {"no composition", "{\"layers\": []}", {}, "-o out.png", "scene.json", "composition"},
        {"missing image", withImage("absent.ppm"), {}, "-o out.png",
         "scene.json: layers[1].source", "does not exist"},
        {"image path is a folder", withImage("tex/"), {{"tex/", ""}}, "-o out.png",
         "scene.json: layers[1].source", "folder"},
        // ---- corrupt and zero-sized images -----------------------------------------------------
        {"zero-byte image", kScene, {{"tex.ppm", ""}}, "-o out.png",
         "scene.json: layers[1].source", "cannot read the image"},
        {"corrupt image", kScene, {{"tex.ppm", "P6\nthis is not an image"}}, "-o out.png",
         "scene.json: layers[1].source", "cannot read the image"},
        {"image of 0 x 0 pixels", kScene, {{"tex.ppm", "P6\n0 0\n255\n"}}, "-o out.png",
         "scene.json: layers[1].source", ""},
        {"image cut short", kScene, {{"tex.ppm", kImage.substr(0, kImage.size() - 2)}}, "-o out.png",
         "scene.json: layers[1].source", ""},
        {"image claiming a huge size", kScene, {{"tex.ppm", "P6\n100000 100000\n255\n\x01\x02"}},
         "-o out.png", "scene.json: layers[1].source", ""},
        {"PNG signature and nothing else", withImage("tex.png"),
         {{"tex.png", std::string("\x89PNG\r\n\x1a\n", 8)}}, "-o out.png",
         "scene.json: layers[1].source", "cannot read the image"},
        // ---- parents ----------------------------------------------------------------------------
        {"a layer that is its own parent",
         edited(R"("name": "Surface", "type": "solid")",
                R"("name": "Surface", "type": "solid", "parent": "Surface")"),
         {}, "-o out.png", "scene.json: layers[2].parent", "its own parent"},
        {"a parent loop",
         withParentLoop(),
         {}, "-o out.png", "scene.json: layers[", "loop"},
        // ---- where the output goes ----------------------------------------------------------------
        {"output in a folder that does not exist", kScene, {}, "-o missing/out.png", "missing",
         "does not exist"},
    };
}

fs::path scratchFolder() {
    std::random_device random;
    fs::path path = fs::temp_directory_path() / ("veltrix-bad-input-" + std::to_string(random()));
    fs::create_directories(path);
    return path;
}

void writeFile(const fs::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Every file under `folder` with its bytes, sorted by name.
std::string snapshot(const fs::path &folder) {
    std::vector<std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        std::string line = fs::relative(entry.path(), folder).string();
        if (entry.is_regular_file()) line += " = " + readFile(entry.path());
        entries.push_back(line);
    }
    std::sort(entries.begin(), entries.end());
    std::string text;
    for (const std::string &line : entries) text += line + "\n";
    return text;
}

struct Exit {
    int code = -1;
    std::string err;
};

Exit runRenderer(const fs::path &folder, const std::string &args) {
    const fs::path log = folder.parent_path() / (folder.filename().string() + ".stderr");
    const std::string command = "cd '" + folder.string() + "' && '" VELTRIX_RENDER_PATH
                                "' --plugin '" VELTRIX_PLUGIN_PATH "' scene.json " +
                                args + " >/dev/null 2>'" + log.string() + "'";
    const int status = std::system(command.c_str());
    Exit run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readFile(log);
    fs::remove(log);
    return run;
}

} // namespace

TEST(BadInput, TheValidSceneRenders) {
    const fs::path folder = scratchFolder();
    writeFile(folder / "scene.json", kScene);
    writeFile(folder / "tex.ppm", kImage);
    const Exit run = runRenderer(folder, "-o out.png --quiet");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder / "out.png"));
    fs::remove_all(folder);
}

TEST(BadInput, EachExitsWithTwoNamesFilePlaceAndReasonAndLeavesTheOutput) {
    for (const BadInput &bad : catalogue()) {
        SCOPED_TRACE(bad.what);
        const fs::path folder = scratchFolder();
        writeFile(folder / "scene.json", bad.scene);
        writeFile(folder / "tex.ppm", kImage);
        for (const auto &[name, bytes] : bad.files) {
            if (name.back() == '/') {
                fs::remove(folder / name.substr(0, name.size() - 1));
                fs::create_directories(folder / name);
            } else {
                writeFile(folder / name, bytes);
            }
        }
        writeFile(folder / "out.png", kEarlierRender);
        const std::string before = snapshot(folder);

        const Exit run = runRenderer(folder, bad.args);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(run.err.rfind("veltrix-render: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(bad.place), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(bad.reason), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(snapshot(folder), before) << "an existing output or another file was touched";
        fs::remove_all(folder);
    }
}

#else

TEST(BadInput, NeedsTheRenderer) { GTEST_SKIP() << "veltrix-render is not built"; }

#endif
