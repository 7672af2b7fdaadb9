// Frames of the open scene rendered to files from the page, as veltrix-render
// renders them: its frame plan (frame lists, '#' runs, output types and
// depths), its FrameRenderer on an effect instance of the job's own, its
// colour conversion and file writers. The job renders the document as it was
// when the job started; later edits change the page, not the job.
//
// Outputs are confined to the scene's folder: every file name is resolved
// there (FolderPath.h) once its frame number is in, so a link among the
// outputs cannot lead outside; a file the scene reads (its footage) is never
// an output, and an existing file is replaced only when the request says so.
// A missing folder of the output inside the scene's folder is made.
//
// Thread safety: the job renders on a thread of its own and takes the
// studio's command lock (`commands`) for each frame, for the effect's set-up
// and for its set-down, so commands still reach the plug-in one at a time and
// edits in the page wait at most one frame. progress() and cancel() may be
// called from any thread.
#pragma once

#include "headless/boundary/ParamCatalog.h"
#include "headless/boundary/Plugin.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/FileDescription.h"
#include "headless/render/FramePlan.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrix_studio {

// What the page asks to render.
struct RenderRequest {
    std::string output;  // relative to the scene's folder; empty: out/<scene>[_####].png
    std::string frames;  // veltrix-render's --frames list ("0-47", "1,5,9", "0-20x4")
    int depth = 0;       // 8, 16, 32; 0: the output type's default
    int downsample = 1;  // 1 to 64
    bool overwrite = false; // replace files that exist
    // How the files store the frame, as veltrix-render's --alpha,
    // --colorspace, --half and --compression; empty: the defaults.
    std::string alpha, colorspace, compression;
    bool half = false;
};

// The request's fields as JSON sends them; throws EditError(place, reason).
RenderRequest renderRequestFrom(const nlohmann::json &body);

class RenderJob {
public:
    static constexpr std::size_t kMaxFrames = 10000;

    // Reads `document` as the scene file `sceneFile`, plans the
    // frames and checks every output (confined to `folder`); throws EditError(place, reason) for a
    // request or scene it refuses (nothing is written then), PathRefused for
    // an output outside the folder.
    RenderJob(const headless::Plugin &plugin, const headless::ParamCatalog &catalog,
              const nlohmann::json &document, const std::string &sceneFile, const std::string &folder,
              const RenderRequest &request, std::mutex &commands, int threads);
    ~RenderJob(); // cancels and waits for the frame being rendered
    RenderJob(const RenderJob &) = delete;
    RenderJob &operator=(const RenderJob &) = delete;

    void start();
    // Stops after the frame being rendered (its file is written whole).
    void cancel() { cancelled_ = true; }
    bool running() const { return running_; }
    // {"state": "running" | "done" | "failed" | "cancelled", "total", "done",
    //  "frame" (the last written), "files" (written, relative to the folder),
    //  "error", "elapsedMs", "ledger" (the effect's host once set down)}.
    nlohmann::json progress() const;

private:
    void run();
    void renderAll();

    const headless::Plugin &plugin_;
    const headless::ParamCatalog &catalog_;
    std::mutex &commands_;
    int threads_;
    int downsample_;
    headless::Scene scene_;
    headless::SceneEffect effect_;
    veltrix_render::FramePlan plan_;
    veltrix_render::FileDescription files_;
    std::vector<std::string> shown_; // each output as the page names it

    std::thread thread_;
    std::atomic<bool> cancelled_{false}, running_{false};
    mutable std::mutex progressMutex_;
    std::string state_ = "running", error_, ledger_;
    std::size_t done_ = 0;
    std::chrono::steady_clock::time_point started_;
    double elapsedMs_ = 0.0;
};

// An output the request names outside the scene's folder (answered 403).
class PathRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace veltrix_studio
