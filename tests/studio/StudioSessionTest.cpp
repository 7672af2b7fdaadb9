// The studio's server side without a browser: paths confined to the scene's
// folder, and edits of an open scene as the plug-in answers them.
#include "headless/boundary/Plugin.h"
#include "headless/render/FrameRenderer.h"
#include "headless/studio/FolderPath.h"
#include "headless/studio/StudioSession.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using nlohmann::json;
using veltrix_studio::StudioSession;

const std::string kExamples = std::string(VELTRIX_SOURCE_DIR) + "/examples";

TEST(StudioFolderPath, OnlyPlainRelativePathsInsideTheFolderResolve) {
    const struct {
        const char *path;
        bool resolves;
    } cases[] = {{"texture.json", true},       {"images/checker.png", true}, {"../README.md", false},
                 {"/etc/passwd", false},       {"images/../../x", false},    {"", false},
                 {"a//b.json", false},         {"./texture.json", false},    {"images\\x.png", false},
                 {"C:/x.json", false},         {"bad\nname.json", false}};
    for (const auto &c : cases) {
        std::string out, error;
        EXPECT_EQ(veltrix_studio::resolveInFolder(kExamples, c.path, out, error), c.resolves) << c.path;
        if (c.resolves)
            EXPECT_EQ(out, std::filesystem::weakly_canonical(kExamples + "/" + c.path).string());
        else
            EXPECT_FALSE(error.empty()) << c.path;
    }
}

class StudioSessionTest : public ::testing::Test {
protected:
    StudioSessionTest()
        : plugin_(VELTRIX_PLUGIN_PATH),
          session_(plugin_, veltrix_render::readParamCatalog(plugin_), kExamples + "/texture.json", 2) {}

    // Whether parameter `name` is greyed out in `state`.
    static bool disabled(const json &state, const std::string &name) {
        int index = -1;
        for (const json &p : state["catalog"])
            if (p["name"] == name) index = p["index"];
        for (const json &ui : state["ui"])
            if (ui["index"] == index) return ui["disabled"];
        ADD_FAILURE() << name << " is not in the state";
        return false;
    }

    headless::Plugin plugin_;
    StudioSession session_;
};

TEST_F(StudioSessionTest, RefusedValuesGetTheLoadersPlaceAndReasonAndChangeNothing) {
    const struct {
        const char *name;
        json value;
        const char *reason;
    } cases[] = {{"Radius Scale", 40000, "outside the valid range"},
                 {"Rotation Y", "x", ""},
                 {"Texture", "Nowhere", ""},
                 {"No Such Thing", 1, ""}};
    const long revision = session_.state()["revision"];
    for (const auto &c : cases) {
        try {
            session_.setParam(c.name, c.value);
            ADD_FAILURE() << c.name << " " << c.value << " was accepted";
        } catch (const veltrix_studio::EditError &e) {
            EXPECT_NE(e.place().find("layers[3].effects[0].params"), std::string::npos) << e.place();
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.reason();
        }
    }
    EXPECT_EQ(session_.state()["revision"], revision);
    EXPECT_TRUE(session_.health()["ledgerClean"]);
}

TEST_F(StudioSessionTest, AControlLayerGreysOutThePlacementUntilItIsReset) {
    EXPECT_FALSE(disabled(session_.state(), "Position XY"));
    const json controlled = session_.setParam("Control Layer", "Checker");
    EXPECT_TRUE(disabled(controlled, "Position XY"));
    EXPECT_TRUE(disabled(controlled, "Rotation Y"));
    EXPECT_NE(controlled.dump().find(R"(thisComp.layer(\"Checker\"))"), std::string::npos);
    const json reset = session_.resetParams("Control Layer");
    EXPECT_FALSE(disabled(reset, "Position XY"));
    EXPECT_EQ(reset.dump().find("thisComp.layer"), std::string::npos);
    EXPECT_TRUE(session_.health()["ledgerClean"]);
}

TEST_F(StudioSessionTest, FramesFollowEditsAndResetsAndStaleRequestsRenderNothing) {
    veltrix_studio::Frame original, edited, reset, stale;
    const long first = session_.state()["revision"];
    ASSERT_TRUE(session_.render({first, 8, 4, 0.0}, original));
    EXPECT_EQ(original.width, 160);
    EXPECT_EQ(original.rgba8.size(), std::size_t(160 * 90 * 4));
    const long second = session_.setParam("Rotation Y", 80)["revision"];
    EXPECT_FALSE(session_.render({first, 8, 4, 0.0}, stale));
    EXPECT_TRUE(stale.rgba8.empty());
    ASSERT_TRUE(session_.render({second, 8, 4, 0.0}, edited));
    EXPECT_NE(edited.rgba8, original.rgba8);
    const long third = session_.resetParams("Rotation Y")["revision"];
    ASSERT_TRUE(session_.render({third, 8, 4, 0.0}, reset));
    EXPECT_NE(reset.rgba8, original.rgba8) << "35 degrees in the file, the default after a reset";
    EXPECT_TRUE(session_.health()["ledgerClean"]);
}

} // namespace
