#include "headless/studio/RenderJob.h"

#include "headless/render/ColourManagement.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "headless/render/RenderCommand.h"
#include "headless/studio/FolderPath.h"
#include "headless/studio/StudioSession.h"

#include <filesystem>
#include <memory>
#include <new>
#include <set>

namespace veltrix_studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The request field a renderer's message is about, by the option it names.
EditError planRefusal(const std::string &message) {
    const auto startsWith = [&](const char *prefix) { return message.rfind(prefix, 0) == 0; };
    std::string place = "output";
    for (const char *field : {"frames", "depth", "alpha", "colorspace", "half", "compression"})
        if (startsWith((std::string("--") + field).c_str()) || (std::string(field) == "frames" && startsWith("--frame")))
            place = field;
    return EditError(place, message);
}

// The files the scene reads: never outputs.
std::set<fs::path> footageFiles(const json &document, const std::string &folder) {
    std::set<fs::path> files;
    std::error_code ec;
    for (const json &layer : document.value("layers", json::array()))
        if (layer.is_object() && layer.contains("source") && layer["source"].is_string())
            files.insert(fs::weakly_canonical(fs::path(folder) / layer["source"].get<std::string>(), ec));
    return files;
}

veltrix_render::Options optionsOf(const RenderRequest &request, const std::string &sceneFile) {
    veltrix_render::Options options;
    options.scene = sceneFile;
    options.output = request.output;
    options.depth = request.depth;
    options.downsample = request.downsample;
    options.alpha = request.alpha;
    options.colorspace = request.colorspace;
    options.half = request.half;
    options.compression = request.compression;
    if (!request.frames.empty()) {
        std::string error;
        if (!veltrix_render::parseFrameList(request.frames, options.frameSpans, error))
            throw EditError("frames", error);
        // Counted before the plan lists them: a long composition could make
        // a list too long to hold.
        double count = 0;
        for (const veltrix_render::FrameSpan &span : options.frameSpans)
            count += double(span.last - span.first) / double(span.step) + 1;
        if (count > double(RenderJob::kMaxFrames))
            throw EditError("frames", request.frames + ": a render from the page takes " +
                                          std::to_string(RenderJob::kMaxFrames) + " frames at most");
        options.frames = request.frames;
        options.framesGiven = true;
    }
    return options;
}

} // namespace

RenderRequest renderRequestFrom(const json &body) {
    RenderRequest request;
    const auto text = [&](const char *key, std::string &out) {
        if (!body.contains(key)) return;
        if (!body[key].is_string() || body[key].get<std::string>().size() > 1024)
            throw EditError(key, "text of up to 1024 characters is needed");
        out = body[key].get<std::string>();
    };
    const auto whole = [&](const char *key, int lo, int hi, int &out) {
        if (!body.contains(key)) return;
        if (!body[key].is_number_integer() || body[key].get<long>() < lo || body[key].get<long>() > hi)
            throw EditError(key, "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + " is needed");
        out = body[key].get<int>();
    };
    text("output", request.output);
    text("frames", request.frames);
    text("alpha", request.alpha);
    text("colorspace", request.colorspace);
    text("compression", request.compression);
    whole("depth", 0, 32, request.depth);
    if (request.depth != 0 && request.depth != 8 && request.depth != 16 && request.depth != 32)
        throw EditError("depth", "8, 16 or 32 bits per channel (0: the output type's default)");
    whole("downsample", 1, 64, request.downsample);
    const auto flag = [&](const char *key, bool &out) {
        if (!body.contains(key)) return;
        if (!body[key].is_boolean()) throw EditError(key, "true or false");
        out = body[key].get<bool>();
    };
    flag("overwrite", request.overwrite);
    flag("half", request.half);
    return request;
}

RenderJob::RenderJob(const headless::Plugin &plugin, const headless::ParamCatalog &catalog,
                     const json &document, const std::string &sceneFile, const std::string &folder,
                     const RenderRequest &request, std::mutex &commands, int threads)
    : plugin_(plugin), catalog_(catalog), commands_(commands), threads_(threads),
      downsample_(request.downsample) {
    const veltrix_render::Options options = optionsOf(request, sceneFile);
    const fs::path parent = fs::path(sceneFile).parent_path();
    const std::string sceneFolder = parent.empty() ? std::string(".") : parent.string();
    try {
        scene_ = headless::parseScene(document.dump(), sceneFile, sceneFolder, catalog, veltrix_render::readImage);
        veltrix_render::bringFootageIntoWorkingSpace(scene_);
    } catch (const headless::SceneError &e) {
        throw EditError(e.place(), e.reason());
    } catch (const veltrix_render::PlanError &e) {
        throw EditError("scene", e.what());
    }
    const headless::SceneEffect *effect = scene_.effectOn("");
    if (!effect) throw EditError("layers", "no layer carries a Veltrix effect");
    effect_ = *effect;
    try {
        plan_ = veltrix_render::planFrames(options, scene_.composition, sceneFile);
        files_ = veltrix_render::describeFiles(options, plan_, scene_);
    } catch (const veltrix_render::PlanError &e) {
        throw planRefusal(e.what());
    }
    const std::set<fs::path> footage = footageFiles(document, sceneFolder);
    for (veltrix_render::FrameJob &job : plan_.frames) {
        std::string resolved, error;
        if (!resolveInFolder(folder, job.output, resolved, error)) throw PathRefused(job.output + ": " + error);
        if (footage.count(fs::path(resolved)))
            throw EditError("output", job.output + " is footage of this scene; name another file");
        std::error_code ec;
        if (!request.overwrite && fs::symlink_status(resolved, ec).type() != fs::file_type::not_found)
            throw EditError("output", job.output + " exists; allow replacing files or name another");
        shown_.push_back(job.output);
        job.output = resolved;
        fs::create_directories(fs::path(resolved).parent_path(), ec);
    }
    plan_.defaultOutput = false; // its folder is made above, inside the scene's folder
    try {
        veltrix_render::checkOutputs(plan_);
    } catch (const veltrix_render::PlanError &e) {
        throw EditError("output", e.what());
    }
}

RenderJob::~RenderJob() {
    cancel();
    if (thread_.joinable()) thread_.join();
}

void RenderJob::start() {
    running_ = true;
    started_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this] { run(); });
}

void RenderJob::run() {
    std::string failure;
    try {
        renderAll();
    } catch (const std::bad_alloc &) {
        failure = "out of memory";
    } catch (const std::exception &e) {
        failure = e.what();
    }
    std::lock_guard<std::mutex> lock(progressMutex_);
    if (!failure.empty()) {
        state_ = "failed";
        error_ = failure;
    } else if (state_ == "running") {
        state_ = done_ == plan_.frames.size() ? "done" : "cancelled";
    }
    elapsedMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
    running_ = false;
}

void RenderJob::renderAll() {
    // Made, used and set down on this thread, each step under the command lock.
    std::unique_ptr<veltrix_render::FrameRenderer> renderer;
    // Set down however the frames end; what the effect still holds from its
    // host then goes into the progress ("ledger empty" when nothing).
    struct SetDown {
        RenderJob &job;
        std::unique_ptr<veltrix_render::FrameRenderer> &renderer;
        ~SetDown() {
            std::lock_guard<std::mutex> lock(job.commands_);
            if (!renderer) return;
            const std::string ledger = renderer->setDown();
            renderer.reset();
            std::lock_guard<std::mutex> progress(job.progressMutex_);
            job.ledger_ = ledger;
        }
    } setDown{*this, renderer};
    for (std::size_t i = 0; i < plan_.frames.size() && !cancelled_; ++i) {
        const veltrix_render::FrameJob &job = plan_.frames[i];
        veltrix_render::Image image;
        veltrix_render::WriteSettings settings;
        {
            std::lock_guard<std::mutex> lock(commands_);
            if (!renderer)
                renderer = std::make_unique<veltrix_render::FrameRenderer>(
                    plugin_, std::move(scene_.composition), effect_, threads_, plan_.depth, downsample_);
            const bool last = i + 1 == plan_.frames.size();
            image = renderer->render(job.time, last ? veltrix_render::FrameRenderer::NextFrame::None
                                                    : veltrix_render::FrameRenderer::NextFrame::Follows);
            settings = veltrix_render::frameSettings(
                files_, *renderer, job, veltrix_render::usesCompositionCamera(effect_, catalog_, job.time));
        }
        std::string error;
        if (!veltrix_render::writeFrame(std::move(image), job, files_, settings, error))
            throw std::runtime_error("cannot write " + shown_[i] + ": " + error);
        std::lock_guard<std::mutex> lock(progressMutex_);
        ++done_;
    }
}

json RenderJob::progress() const {
    std::lock_guard<std::mutex> lock(progressMutex_);
    const double elapsed =
        running_ ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count()
                 : elapsedMs_;
    json written(std::vector<std::string>(shown_.begin(), shown_.begin() + long(done_)));
    json body = {{"state", state_},
                 {"total", plan_.frames.size()},
                 {"done", done_},
                 {"files", std::move(written)},
                 {"elapsedMs", elapsed}};
    if (done_ > 0) body["frame"] = plan_.frames[done_ - 1].number;
    if (!error_.empty()) body["error"] = error_;
    if (!ledger_.empty()) body["ledger"] = ledger_;
    return body;
}

} // namespace veltrix_studio
