// The studio's server side without a browser: paths confined to the scene's
// folder, edits of an open scene as the plug-in answers them, and renders to
// files.
#include "headless/boundary/Plugin.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "headless/studio/FolderPath.h"
#include "headless/studio/RenderJob.h"
#include "headless/studio/StudioSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace {

// An absolute path outside any scene's folder (in the system's temporary folder).
std::string outside(const char *name) { return (std::filesystem::temp_directory_path() / name).string(); }

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

TEST_F(StudioSessionTest, FootageAnEditNamesLiesInTheScenesFolder) {
    const json lace = {{"name", "Lace"}, {"type", "footage"}, {"source", "images/lace.png"}};
    const struct {
        const char *pointer;
        json value;
        bool accepted;
    } cases[] = {{"/layers/-", lace, true},
                 {"/layers/2/source", "images/sky.png", true},
                 {"/layers/2/source", "../README.md", false},
                 {"/layers/2/source", "/etc/passwd", false},
                 {"/layers/2/source", "images/../../README.md", false},
                 {"/layers/-", {{"type", "footage"}, {"source", "../docs/studio.png"}}, false},
                 {"/layers/2", {{"type", "footage"}, {"source", outside("x.png")}}, false}};
    for (const auto &c : cases) {
        const long revision = session_.state()["revision"];
        try {
            session_.editDocument(c.pointer, &c.value);
            EXPECT_TRUE(c.accepted) << c.pointer << " " << c.value;
        } catch (const veltrix_studio::EditError &e) {
            EXPECT_FALSE(c.accepted) << c.pointer << " " << c.value << ": " << e.what();
            EXPECT_NE(e.place().find("].source"), std::string::npos) << e.place();
            EXPECT_EQ(session_.state()["revision"], revision);
        }
    }
    const json layers = session_.document()["layers"];
    EXPECT_EQ(layers.back()["source"], "images/lace.png");
    EXPECT_EQ(layers[2]["source"], "images/sky.png");
    EXPECT_TRUE(session_.health()["ledgerClean"]);
}

// Renders to files from a scene folder of the test's own (the example's
// images copied in), so that nothing is written into the source tree.
class StudioRenderJobTest : public ::testing::Test {
protected:
    StudioRenderJobTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("veltrix-render-job-" + std::to_string(::getpid()))),
          plugin_(VELTRIX_PLUGIN_PATH), catalog_(veltrix_render::readParamCatalog(plugin_)) {
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        // A copy, not a link: footage outside the folder could not be named at all.
        std::filesystem::copy(kExamples + "/images", folder_ / "images");
        std::filesystem::copy_file(kExamples + "/texture.json", scene());
        std::ifstream in(scene());
        document_ = json::parse(in);
    }
    ~StudioRenderJobTest() override { std::filesystem::remove_all(folder_); }

    std::string scene() const { return (folder_ / "texture.json").string(); }
    static veltrix_studio::RenderRequest request(const std::string &output, const std::string &frames, int depth,
                                                 int downsample, bool overwrite = false) {
        veltrix_studio::RenderRequest r;
        r.output = output;
        r.frames = frames;
        r.depth = depth;
        r.downsample = downsample;
        r.overwrite = overwrite;
        return r;
    }
    std::unique_ptr<veltrix_studio::RenderJob> job(const veltrix_studio::RenderRequest &request) {
        return std::make_unique<veltrix_studio::RenderJob>(plugin_, catalog_, document_, scene(),
                                                           folder_.string(), request, commands_, 2);
    }
    static json finish(veltrix_studio::RenderJob &job) {
        for (int i = 0; i < 6000 && job.running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return job.progress();
    }
    std::size_t filesInFolder() const {
        std::size_t n = 0;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder_)) n += entry.is_regular_file();
        return n;
    }

    std::filesystem::path folder_;
    headless::Plugin plugin_;
    headless::ParamCatalog catalog_;
    json document_;
    std::mutex commands_;
};

TEST_F(StudioRenderJobTest, ARangeIsWrittenWithTheFramesTheStudioShows) {
    document_["layers"][3]["effects"][0]["params"]["Rotation Z"] = {{"keyframes", {{0, -90}, {1, 90}}}};
    auto rendering = job(request("renders/t_####.png", "0-2x2", 0, 2));
    rendering->start();
    const json progress = finish(*rendering);
    EXPECT_EQ(progress["state"], "done") << progress.dump();
    EXPECT_EQ(progress["total"], 2);
    EXPECT_EQ(progress["files"], json({"renders/t_0000.png", "renders/t_0002.png"}));
    EXPECT_EQ(progress["ledger"], "ledger empty\n");

    StudioSession session(plugin_, catalog_, scene(), 2);
    const long revision = session.setParam("Rotation Z", document_["layers"][3]["effects"][0]["params"]["Rotation Z"])["revision"];
    std::vector<std::uint8_t> previous;
    for (const int frame : {0, 2}) {
        veltrix_studio::Frame shown;
        ASSERT_TRUE(session.render({revision, 8, 2, frame / 30.0}, shown));
        veltrix_render::Image file;
        std::string error;
        char name[32];
        std::snprintf(name, sizeof name, "renders/t_%04d.png", frame);
        ASSERT_TRUE(veltrix_render::readStoredImage((folder_ / name).string(), file, error)) << error;
        EXPECT_EQ(file.width, shown.width);
        EXPECT_EQ(file.u8, shown.rgba8) << name;
        EXPECT_NE(file.u8, previous) << "the keys move the surface between the frames";
        previous = file.u8;
    }
}

TEST_F(StudioRenderJobTest, ALinearSceneIsShownAsItsFileHoldsIt) {
    // Footage comes into the working space, and the frame goes out to sRGB,
    // in the page as in the file.
    document_["composition"]["working_space"] = "linear";
    std::ofstream(folder_ / "linear.json") << document_.dump();
    StudioSession session(plugin_, catalog_, (folder_ / "linear.json").string(), 2);
    veltrix_studio::Frame shown;
    ASSERT_TRUE(session.render({session.state()["revision"], 8, 4, 0.0}, shown));
    auto rendering = job(request("linear.png", "0", 8, 4));
    rendering->start();
    ASSERT_EQ(finish(*rendering)["state"], "done");
    veltrix_render::Image file;
    std::string error;
    ASSERT_TRUE(veltrix_render::readStoredImage((folder_ / "linear.png").string(), file, error)) << error;
    EXPECT_EQ(file.u8, shown.rgba8);
}

TEST_F(StudioRenderJobTest, RefusedRequestsNameTheFieldAndWriteNothing) {
    std::ofstream(folder_ / "exists.png") << "not replaced";
    const std::string outsideTemp = outside("t.png");
    const struct {
        const char *output, *frames;
        int depth;
        bool overwrite;
        const char *place; // "": refused as outside the folder
    } cases[] = {{"../t.png", "0", 0, false, ""},
                 {"images/../../t.png", "0", 0, false, ""},
                 {outsideTemp.c_str(), "0", 0, false, ""},
                 {"images/checker.png", "0", 0, true, "output"},
                 {"exists.png", "0", 0, false, "output"},
                 {"t.json", "0", 0, false, "output"},
                 {"t.png", "0-1", 0, false, "output"},
                 {"t_####.png", "0-99999", 0, false, "frames"},
                 {"t_####.png", "2-1", 0, false, "frames"},
                 {"t.exr", "0", 8, false, "depth"},
                 {"t.png", "0", 0, false, "half"}};
    const std::size_t before = filesInFolder();
    for (const auto &c : cases) {
        try {
            veltrix_studio::RenderRequest asked = request(c.output, c.frames, c.depth, 1, c.overwrite);
            asked.half = std::string(c.place) == "half";
            job(asked);
            ADD_FAILURE() << c.output << " " << c.frames << " was accepted";
        } catch (const veltrix_studio::EditError &e) {
            EXPECT_EQ(e.place(), c.place) << c.output << ": " << e.what();
        } catch (const veltrix_studio::PathRefused &e) {
            EXPECT_STREQ("", c.place) << c.output << ": " << e.what();
        }
    }
    // A day-long composition: its frames are more than a render from the page takes.
    document_["composition"]["duration"] = 86400;
    try {
        job(request("t_####.png", "0-2591999", 0, 1));
        ADD_FAILURE() << "2592000 frames were accepted";
    } catch (const veltrix_studio::EditError &e) {
        EXPECT_EQ(e.place(), "frames") << e.what();
    }
    EXPECT_EQ(filesInFolder(), before);
    std::ifstream kept(folder_ / "exists.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "not replaced");

    for (const char *body : {R"({"depth": 7})", R"({"downsample": 0})", R"({"output": 5})",
                             R"({"overwrite": "yes"})", R"({"frames": [1]})"}) {
        EXPECT_THROW(veltrix_studio::renderRequestFrom(json::parse(body)), veltrix_studio::EditError) << body;
    }
}

TEST_F(StudioRenderJobTest, EditsAndPreviewsGoOnBetweenTheFramesOfARender) {
    // As the server does: the page's edits and frames take the same command
    // lock as each frame of the render, on another thread.
    StudioSession session(plugin_, catalog_, scene(), 2);
    auto rendering = job(request("e_####.png", "0-29", 0, 4));
    rendering->start();
    int edits = 0;
    for (; rendering->running() && edits < 1000; ++edits) {
        std::lock_guard<std::mutex> editing(commands_);
        const long revision = session.setParam("Rotation Y", 10 + edits % 50, true)["revision"];
        veltrix_studio::Frame frame;
        ASSERT_TRUE(session.render({revision, 8, 8, 0.0}, frame));
    }
    const json progress = finish(*rendering);
    EXPECT_EQ(progress["state"], "done") << progress.dump();
    EXPECT_EQ(progress["ledger"], "ledger empty\n");
    EXPECT_GT(edits, 0);
    EXPECT_TRUE(session.health()["ledgerClean"]) << session.health()["ledger"];
}

TEST_F(StudioRenderJobTest, ACancelledRenderStopsAfterTheFrameItWaitsFor) {
    auto rendering = job(request("c_####.png", "0-20", 0, 4));
    {
        // Held as an edit would hold it: the job waits for its first frame.
        std::lock_guard<std::mutex> editing(commands_);
        rendering->start();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(rendering->progress()["done"], 0);
        rendering->cancel();
    }
    const json progress = finish(*rendering);
    EXPECT_EQ(progress["state"], "cancelled");
    EXPECT_LE(progress["done"].get<int>(), 1);
    EXPECT_EQ(progress.value("ledger", "(not set down)"), progress["done"] == 0 ? "(not set down)" : "ledger empty\n");
    EXPECT_EQ(progress["files"].size(), progress["done"].get<std::size_t>());
}

} // namespace
