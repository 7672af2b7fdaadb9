// Every way a scene file can be wrong is reported with the file, the place in
// it and the reason - never guessed around, never a crash.
#include "headless/composition/SceneFile.h"
#include "headless/render/ImageIO.h"
#include "RenderTestSupport.h"

namespace {

using render_test::catalog;

// A small valid scene; each case below breaks one thing in it.
const char *const kBase = R"({
  "composition": {"width": 64, "height": 48},
  "layers": [
    {"name": "Key", "type": "light", "light": {"type": "point"}},
    {"name": "Cam", "type": "camera"},
    {"name": "Tex", "type": "solid", "width": 32, "height": 16, "color": [1, 0, 0]},
    {"name": "Surface", "type": "solid",
     "effects": [{"effect": "Veltrix", "params": {"Radius Scale": 100}}]}
  ]
})";

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string withParam(const std::string &param) {
    return replaced(kBase, R"("Radius Scale": 100)", param);
}

headless::Scene parse(const std::string &text) {
    const headless::ImageReader noImages = [](const std::string &, headless::FootageSource &,
                                              std::string &error) {
        error = "no images in this test";
        return false;
    };
    return headless::parseScene(text, "scene.json", ".", catalog(), noImages);
}

struct ErrorCase {
    const char *what;
    std::string text;
    std::string place;  // exact
    std::string reason; // contained
};

const std::string kParam = R"(layers[3].effects[0].params)";

std::vector<ErrorCase> errorCases() {
    return {
        {"empty file", "", "1:1", "malformed JSON"},
        {"truncated", std::string(kBase).substr(0, 120), "", "malformed JSON"},
        {"truncated between values",
         std::string(kBase).substr(0, std::string(kBase).find(R"({"name": "Cam")")), "",
         "unexpected end of input"},
        {"stray comma", replaced(kBase, R"("height": 48})", R"("height": 48,})"), "",
         "malformed JSON"},
        {"duplicate key", replaced(kBase, R"("height": 48)", R"("height": 48, "height": 40)"),
         "composition.height", "appears twice"},
        {"unknown top-level key", replaced(kBase, R"("layers")", R"("layer")"), "layer",
         "unknown key \"layer\""},
        {"missing composition size", replaced(kBase, R"("width": 64, )", ""), "composition",
         "\"width\" is missing"},
        {"width of the wrong type", replaced(kBase, R"("width": 64)", R"("width": "64")"),
         "composition.width", "expected a number, found the text \"64\""},
        {"width of zero", replaced(kBase, R"("width": 64)", R"("width": 0)"), "composition.width",
         "outside 1 to 30000"},
        {"fractional width", replaced(kBase, R"("width": 64)", R"("width": 64.5)"),
         "composition.width", "whole number"},
        {"unknown layer key", replaced(kBase, R"("color": [1, 0, 0])", R"("colour": [1, 0, 0])"),
         "layers[2].colour", "unknown key \"colour\""},
        {"key of another layer type",
         replaced(kBase, R"("color": [1, 0, 0])", R"("source": "a.png")"), "layers[2].source",
         "belongs to footage layers"},
        {"unknown layer type", replaced(kBase, R"("type": "camera")", R"("type": "cam")"),
         "layers[1].type", "unknown layer type \"cam\""},
        {"solid colour out of 0..1", replaced(kBase, R"([1, 0, 0])", R"([255, 0, 0])"),
         "layers[2].color[0]", "outside 0 to 1"},
        {"unknown light type",
         replaced(kBase, R"({"type": "point"})", R"({"type": "sun"})"), "layers[0].light.type",
         "unknown light type \"sun\""},
        {"point light aimed",
         replaced(kBase, R"("light": {"type": "point"})",
                  R"("light": {"type": "point"}, "transform": {"point_of_interest": [0, 0, 0]})"),
         "layers[0].transform.point_of_interest", "point of interest"},
        {"effects on a camera",
         replaced(kBase, R"("type": "camera")", R"("type": "camera", "effects": [])"),
         "layers[1].effects", "carry no effects"},
        {"unknown effect", replaced(kBase, R"("effect": "Veltrix")", R"("effect": "Blur")"),
         "layers[3].effects[0].effect", "unknown effect \"Blur\""},
        {"unknown parameter", withParam(R"("Radius Scal": 100)"), kParam + "[\"Radius Scal\"]",
         "did you mean \"Radius Scale\""},
        {"group name as a parameter", withParam(R"("Transform": 1)"), kParam + "[\"Transform\"]",
         "group of controls"},
        {"hidden control", withParam(R"("dammy": 1)"), kParam + "[\"dammy\"]",
         "unknown parameter"},
        {"fixed slider above its range", withParam(R"("Radius Scale": 40000)"),
         kParam + "[\"Radius Scale\"]", "outside the valid range of \"Radius Scale\", 0 to 32767"},
        {"fixed slider just past its range", withParam(R"("Ellipse X/Y": 1)"),
         kParam + "[\"Ellipse X/Y\"]", "-0.999 to 0.999"},
        {"float slider below its range", withParam(R"("Dist. from Center": 0)"),
         kParam + "[\"Dist. from Center\"]", "outside the valid range"},
        {"integer slider given a fraction", withParam(R"("Extensions": 2.5)"),
         kParam + "[\"Extensions\"]", "whole number"},
        {"angle beyond what the control holds", withParam(R"("Screw": 40000)"),
         kParam + "[\"Screw\"]", "more than the control holds"},
        {"unknown popup choice", withParam(R"("Render Side": "Both")"),
         kParam + "[\"Render Side\"]", "not a choice of \"Render Side\": 1 \"Full\""},
        {"popup number past the choices", withParam(R"("Render Side": 4)"),
         kParam + "[\"Render Side\"]", "not a choice"},
        {"checkbox given text", withParam(R"("Self Shadow": "yes")"),
         kParam + "[\"Self Shadow\"]", "expected true or false"},
        {"colour channel out of 0..255", withParam(R"("Fog Color": [300, 0, 0])"),
         kParam + "[\"Fog Color\"][0]", "outside 0 to 255"},
        {"colour with two channels", withParam(R"("Fog Color": [1, 2])"),
         kParam + "[\"Fog Color\"]", "[r, g, b]"},
        {"point with one number", withParam(R"("Position XY": [1])"),
         kParam + "[\"Position XY\"]", "expected a point [x, y]"},
        {"layer that does not exist", withParam(R"("Texture": "Nope")"), kParam + "[\"Texture\"]",
         "no layer is named \"Nope\""},
        {"light as a texture", withParam(R"("Texture": "Key")"), kParam + "[\"Texture\"]",
         "has no image"},
        {"keyframe without a value", withParam(R"("Radius Scale": {"keyframes": [[0]]})"),
         kParam + "[\"Radius Scale\"].keyframes[0]", "[time, value]"},
        {"keyframe value out of range",
         withParam(R"("Radius Scale": {"keyframes": [[0, 100], [1, 99999]]})"),
         kParam + "[\"Radius Scale\"].keyframes[1][1]", "outside the valid range"},
        {"empty keyframes", withParam(R"("Radius Scale": {"keyframes": []})"),
         kParam + "[\"Radius Scale\"].keyframes", "list of [time, value] keys"},
        {"keyframes beside another key", withParam(R"("Radius Scale": {"keyframes": [[0, 1]], "x": 1})"),
         kParam + "[\"Radius Scale\"].x", "unknown key"},
        {"own parent",
         replaced(kBase, R"("name": "Surface", "type": "solid")",
                  R"("name": "Surface", "type": "solid", "parent": "Surface")"),
         "layers[3].parent", "its own parent"},
        {"parent loop",
         replaced(replaced(kBase, R"("name": "Surface", "type": "solid")",
                           R"("name": "Surface", "type": "solid", "parent": "Tex")"),
                  R"("name": "Tex", "type": "solid")", R"("name": "Tex", "type": "solid", "parent": "Surface")"),
         "layers[3].parent", "loop: \"Surface\" -> \"Tex\" -> \"Surface\""},
        {"parent that does not exist",
         replaced(kBase, R"("name": "Cam", "type": "camera")",
                  R"("name": "Cam", "type": "camera", "parent": "Rig")"),
         "layers[1].parent", "no layer is named \"Rig\""},
        {"ambiguous layer name", replaced(withParam(R"("Texture": "Tex")"), R"("name": "Cam")",
                                          R"("name": "Tex")"),
         kParam + "[\"Texture\"]", "2 layers are named \"Tex\""},
        {"transform vector too short",
         replaced(kBase, R"("type": "camera")", R"("type": "camera", "transform": {"position": [1]})"),
         "layers[1].transform.position", "[x, y] or [x, y, z]"},
        {"pixel aspect on a camera",
         replaced(kBase, R"("type": "camera")", R"("type": "camera", "pixel_aspect": 2)"),
         "layers[1].pixel_aspect", "belongs to solid and footage layers"},
        {"pixel aspect that rounds to 0",
         replaced(kBase, R"("color": [1, 0, 0])", R"("color": [1, 0, 0], "pixel_aspect": 1e-7)"),
         "layers[2].pixel_aspect", "narrower pixels cannot be represented"},
        {"negative layer duration",
         replaced(kBase, R"("type": "camera")", R"("type": "camera", "duration": -1)"),
         "layers[1].duration", "more than 0"},
    };
}

TEST(SceneFileErrors, EachNamesFilePlaceAndReason) {
    for (const ErrorCase &c : errorCases()) {
        SCOPED_TRACE(c.what);
        try {
            parse(c.text);
            ADD_FAILURE() << "loaded without an error";
        } catch (const headless::SceneError &e) {
            EXPECT_EQ(e.file(), "scene.json");
            if (!c.place.empty()) {
                EXPECT_EQ(e.place(), c.place);
            }
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.reason();
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("scene.json:", 0), 0u) << what;
        }
    }
}

TEST(SceneFileErrors, MalformedJsonIsPlacedByLineAndColumn) {
    try {
        parse("{\n  \"composition\": {\"width\": 64,\n  }\n}");
        FAIL();
    } catch (const headless::SceneError &e) {
        EXPECT_EQ(e.place(), "3:3");
        EXPECT_EQ(std::string(e.what()).rfind("scene.json:3:3: malformed JSON: ", 0), 0u)
            << e.what();
    }
}

// ---- images -------------------------------------------------------------------------

class SceneImages : public ::testing::Test {
protected:
    std::string sceneWith(const std::string &source) {
        const std::string text = replaced(kBase, R"({"name": "Tex", "type": "solid", "width": 32, "height": 16, "color": [1, 0, 0]})",
                                          R"({"name": "Tex", "type": "footage", "source": ")" + source + "\"}");
        const std::string path = dir / "scene.json";
        render_test::writeFile(path, text);
        return path;
    }
    std::string loadError(const std::string &path) {
        try {
            headless::loadSceneFile(path, catalog(), veltrix_render::readImage);
        } catch (const headless::SceneError &e) {
            EXPECT_EQ(e.place(), "layers[2].source");
            return e.reason();
        }
        ADD_FAILURE() << "loaded without an error";
        return "";
    }
    render_test::ScratchDir dir;
};

TEST_F(SceneImages, MissingCorruptAndEmptyImagesAreErrors) {
    EXPECT_NE(loadError(sceneWith("missing.png")).find("does not exist"), std::string::npos);

    render_test::writeFile(dir / "corrupt.png", "\x89PNG\r\n\x1a\n this is not a PNG");
    EXPECT_NE(loadError(sceneWith("corrupt.png")).find("cannot read the image"), std::string::npos);

    render_test::writeFile(dir / "empty.png", "");
    EXPECT_NE(loadError(sceneWith("empty.png")).find("cannot read the image"), std::string::npos);

    std::filesystem::create_directory(dir.path() / "folder.png");
    EXPECT_NE(loadError(sceneWith("folder.png")).find("folder"), std::string::npos);
}

TEST_F(SceneImages, FootageIsReadRelativeToTheSceneFile) {
    veltrix_render::Image image = veltrix_render::Image::transparent(3, 2, 8);
    image.u8 = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 255, 1, 2, 3, 4, 5, 6, 7, 8};
    std::string error;
    std::filesystem::create_directory(dir.path() / "img");
    ASSERT_TRUE(veltrix_render::writeImage(image, dir / "img/tex.png", error)) << error;

    const headless::Scene scene =
        headless::loadSceneFile(sceneWith("img/tex.png"), catalog(), veltrix_render::readImage);
    const headless::Layer &layer = scene.composition.layers[2];
    EXPECT_EQ(layer.shownName(), "Tex");
    EXPECT_EQ(layer.footage.width, 3);
    EXPECT_EQ(layer.footage.height, 2);
    ASSERT_EQ(layer.footage.sampleCount(), 24u);
    EXPECT_TRUE(headless::validate(scene.composition).empty());
    // Straight alpha survives: a half-transparent green stays full green.
    EXPECT_FLOAT_EQ(layer.footage.sample(5), 1.0f);
    EXPECT_FLOAT_EQ(layer.footage.sample(7), 128.0f / 255.0f);
    // Colour under zero alpha is kept, not lost to premultiplication.
    EXPECT_FLOAT_EQ(layer.footage.sample(10), 1.0f);
}

TEST(SceneFileErrors, MissingSceneFileAndFolder) {
    EXPECT_THROW(headless::loadSceneFile("/nonexistent/scene.json", catalog(), {}),
                 headless::SceneError);
    render_test::ScratchDir dir;
    try {
        headless::loadSceneFile(dir.path().string(), catalog(), {});
        FAIL();
    } catch (const headless::SceneError &e) {
        EXPECT_NE(e.reason().find("folder"), std::string::npos);
    }
}

} // namespace
