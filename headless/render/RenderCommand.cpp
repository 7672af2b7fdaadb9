#include "headless/render/RenderCommand.h"

#include "headless/boundary/Plugin.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/ClusterSubmit.h"
#include "headless/render/ColourManagement.h"
#include "headless/render/FileDescription.h"
#include "headless/render/FramePlan.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "headless/render/Interrupt.h"
#include "headless/render/ParamReference.h"
#include "headless/render/PeakMemory.h"
#include "headless/render/Progress.h"
#include "headless/render/SceneAdvice.h"
#include "headless/render/SceneSchema.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <ostream>
#include <random>
#include <utility>

namespace veltrix_render {

namespace {

constexpr const char *kProgram = "veltrix-render: ";

// The layers that carry the effect, for a message.
std::string carriers(const headless::Scene &scene) {
    std::string list;
    for (const headless::SceneEffect &e : scene.effects) {
        if (!list.empty()) list += ", ";
        list += "\"" + scene.composition.layers[std::size_t(e.layer)].shownName() + "\"";
    }
    return list;
}

const headless::SceneEffect *chooseEffect(const headless::Scene &scene, const Options &options,
                                          std::ostream &err) {
    if (const headless::SceneEffect *effect = scene.effectOn(options.layer)) return effect;
    if (scene.effects.empty())
        err << kProgram << scene.file << ": no layer carries the " << headless::kSceneEffectName
            << " effect; add one to a layer's \"effects\"\n";
    else
        err << kProgram << "--layer " << options.layer << ": no layer of that name carries the "
            << headless::kSceneEffectName << " effect (layers that do: " << carriers(scene)
            << ")\n";
    return nullptr;
}

std::string describeFrame(const Image &image) {
    return std::to_string(image.width) + " x " + std::to_string(image.height) + ", " +
           std::to_string(image.bits) + (image.bits == 32 ? "-bit float" : "-bit");
}

// What a run of several frames, or one with --set, is about to do: the line a
// log starts with, so that a wedge's frames say which values made them.
void printHeader(const headless::Scene &scene, const headless::SceneEffect &effect,
                 const FramePlan &plan, const Options &options, std::ostream &err) {
    if (plan.frames.size() < 2 && options.sets.empty()) return;
    err << kProgram << "rendering " << scene.file << ", layer \""
        << scene.composition.layers[std::size_t(effect.layer)].shownName() << "\": ";
    if (plan.frames.size() == 1)
        err << "frame " << plan.frames.front().number;
    else
        err << plan.frames.size() << " frames (" << plan.frames.front().number << " to "
            << plan.frames.back().number << ")";
    err << ", " << plan.depth << "-bit";
    if (options.downsample > 1) err << ", downsample " << options.downsample;
    for (std::size_t i = 0; i < options.sets.size(); ++i)
        err << (i ? ", " : "; with ") << options.sets[i];
    err << "\n";
}

// Writes `text` to `path` whole, as frames are written (replaceFile), or
// says why not.
bool writeTextFile(const std::string &path, const std::string &text, std::ostream &err) {
    std::string error;
    const bool written = replaceFile(path, [&](const std::string &temporary, std::string &why) {
        std::ofstream file(temporary, std::ios::binary);
        if (!(file << text).flush()) why = "the disk refused the text";
        return bool(file);
    }, error);
    if (!written) err << kProgram << "cannot write " << path << ": " << error << "\n";
    return written;
}

// Ends a run that a signal stopped after frame `index` of the plan (-1:
// before the first) was written; returns the exit code.
int stopForSignal(const FramePlan &plan, long index, std::ostream &err) {
    const int signal = interruptSignal();
    err << kProgram << "stopped by " << signalName(signal);
    if (index < 0) {
        err << " before the first frame; nothing was written\n";
    } else {
        const long left = long(plan.frames.size()) - index - 1;
        err << " during frame " << plan.frames[std::size_t(index)].number
            << ", which was finished and written; " << index + 1 << " of "
            << plan.frames.size() << " frames are written";
        if (left > 0) err << ", " << left << " not rendered (--skip-existing resumes)";
        err << "\n";
    }
    return interruptedExitCode(signal);
}

// Renders and writes every frame of `plan`; returns the exit code.
int renderFrames(FrameRenderer &renderer, const FramePlan &plan, const Options &options,
                 const FileDescription &files, const headless::SceneEffect &effect,
                 const headless::ParamCatalog &catalog, RunStats &stats, std::ostream &err,
                 bool errIsTerminal) {
    Progress progress(err, long(plan.frames.size()), !options.quiet, errIsTerminal);
    if (interruptSignal()) return stopForSignal(plan, -1, err);
    for (const FrameJob &job : plan.frames) {
        Stopwatch clock;
        FrameStats frame{job.number, 0.0, 0.0, 0.0, {}};
        resetPeakMemory();
        const bool last = &job == &plan.frames.back();
        Image image =
            renderer.render(job.time, last ? FrameRenderer::NextFrame::None : FrameRenderer::NextFrame::Follows);
        frame.render = clock.lap();
        if (const headless::CommandRecord *command = renderer.lastSmartRender()) {
            frame.smartRender = command->seconds;
            for (const headless::PassTiming &pass : command->passes) frame.passes.push_back(pass.seconds);
        }
        std::string error;
        const WriteSettings settings =
            frameSettings(files, renderer, job, usesCompositionCamera(effect, catalog, job.time));
        // Moved, not copied, into the writer: a large frame held twice is
        // the run's peak.
        const std::string description = describeFrame(image);
        if (!writeFrame(std::move(image), job, files, settings, error)) {
            progress.finish();
            err << kProgram << "cannot write " << job.output << ": " << error << "\n";
            return kExitFailed;
        }
        frame.write = clock.lap();
        frame.peakMemoryMiB = peakMemoryMiB();
        stats.frames.push_back(frame);
        progress.frameDone(job.number, frame.render + frame.write, job.output);
        if (plan.frames.size() == 1 && !options.quiet)
            err << kProgram << "wrote " << job.output << " (" << description << ")\n";
        if (interruptSignal()) {
            progress.finish();
            return stopForSignal(plan, long(&job - plan.frames.data()), err);
        }
    }
    progress.finish();
    return kExitOk;
}

// Renders `job` as a task of a cluster job would and writes it to a scratch
// file, which is then removed: what one frame costs (ClusterSubmit.h).
FrameProbe measureFrame(FrameRenderer &renderer, const FrameJob &job, const FramePlan &plan,
                        const FileDescription &files, const headless::SceneEffect &effect,
                        const headless::ParamCatalog &catalog) {
    namespace fs = std::filesystem;
    FrameJob scratch = job;
    const std::string name = "veltrix-render-measure-" + std::to_string(std::random_device()());
    scratch.output = (fs::temp_directory_path() / (name + plan.format.extension)).string();
    Stopwatch clock;
    resetPeakMemory();
    Image image = renderer.render(job.time, FrameRenderer::NextFrame::None);
    std::string error;
    const bool written = writeFrame(
        std::move(image), scratch, files,
        frameSettings(files, renderer, job, usesCompositionCamera(effect, catalog, job.time)), error);
    FrameProbe cost{clock.lap(), peakMemoryMiB()};
    std::error_code ec;
    fs::remove(scratch.output, ec);
    if (!written) throw RenderError("frame " + std::to_string(job.number) + ": " + error);
    return cost;
}

int run(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    Stopwatch total, clock;
    RunStats stats;

    const std::string pluginFile = pluginPath(options);
    std::string loadError;
    std::unique_ptr<headless::Plugin> plugin = headless::Plugin::tryLoad(pluginFile, loadError);
    if (!plugin) {
        err << kProgram << "cannot load the plug-in: " << loadError
            << " (--plugin PATH or VELTRIX_PLUGIN name another)\n";
        return kExitFailed;
    }
    const headless::ParamCatalog catalog = readParamCatalog(*plugin);
    stats.pluginLoad = clock.lap();
    if (options.listParams) {
        out << (options.json ? catalogJson(catalog).dump(2) + "\n" : catalog.table());
        return kExitOk;
    }
    if (options.sceneSchema) {
        out << sceneSchema(catalog).dump(2) << "\n";
        return kExitOk;
    }

    headless::Scene scene;
    try {
        chooseColourConfig(options.colorconfig); // before footage is read: it names spaces
        scene = headless::loadSceneFile(options.scene, catalog, readImage);
        bringFootageIntoWorkingSpace(scene);
    } catch (const headless::SceneError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    } catch (const PlanError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    }
    stats.sceneLoad = clock.lap();
    const headless::SceneEffect *chosen = chooseEffect(scene, options, err);
    if (!chosen) return kExitBadInput;
    headless::SceneEffect effect = *chosen;
    try {
        for (const std::string &set : options.sets)
            headless::applySceneOverride(scene, effect, set, catalog);
    } catch (const headless::SceneError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    }
    for (const std::string &warning : sceneWarnings(scene, effect, catalog))
        err << kProgram << "warning: " << warning << "\n";

    FramePlan plan;
    FileDescription files;
    try {
        if (!options.submit.empty())
            if (const std::string problem = submitProblem(options); !problem.empty())
                throw PlanError(problem);
        plan = planFrames(options, scene.composition, options.scene);
        if (!options.collect.empty())
            return collectJob(options, plan, headless::sceneName(options.scene), out, err);
        if (!options.submit.empty()) {
            files = describeFiles(options, plan, scene);
            checkOutputs(plan);
            return submitJob(options, plan, headless::sceneName(options.scene),
                             [&](const FrameJob &job) {
                                 FrameRenderer renderer(*plugin, std::move(scene.composition), effect,
                                                        options.threads, plan.depth, options.downsample);
                                 return measureFrame(renderer, job, plan, files, effect, catalog);
                             },
                             out, err);
        }
        if (options.skipExisting) {
            const std::size_t skipped = dropExistingOutputs(plan);
            if (skipped > 0 && !options.quiet)
                err << kProgram << "--skip-existing: " << skipped << " of "
                    << skipped + plan.frames.size() << " frames already have their file\n";
            if (plan.frames.empty()) return kExitOk;
        }
        files = describeFiles(options, plan, scene);
        checkOutputs(plan);
        std::string error;
        if (!options.statsJson.empty() && !canWriteBeside(options.statsJson, error))
            throw PlanError("--stats-json " + options.statsJson + ": " + error);
    } catch (const PlanError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    }

    clock.lap();
    if (!options.quiet) printHeader(scene, effect, plan, options, err);
    FrameRenderer renderer(*plugin, std::move(scene.composition), effect, options.threads, plan.depth,
                           options.downsample);
    stats.setup = clock.lap();
    const int code =
        renderFrames(renderer, plan, options, files, effect, catalog, stats, err, errIsTerminal);
    stats.total = total.lap();
    if (options.stats) out << stats.report();
    if (!options.statsJson.empty() && !writeTextFile(options.statsJson, stats.json(), err))
        return code == kExitOk ? kExitFailed : code;
    return code;
}

} // namespace

// What the file of `job` says: the run's description, the frame's number,
// time and camera.
WriteSettings frameSettings(const FileDescription &files, const FrameRenderer &renderer,
                            const FrameJob &job, bool useCompositionCamera) {
    WriteSettings settings = files.settings;
    settings.metadata.frame = job.number;
    settings.metadata.time = job.time;
    describeCamera(renderer.composition(), useCompositionCamera, job.time, renderer.width(),
                   renderer.height(), renderer.downsample(), settings.metadata);
    return settings;
}

// The frame in the file's colour space, written as `files` says.
bool writeFrame(Image image, const FrameJob &job, const FileDescription &files,
                const WriteSettings &settings, std::string &error) {
    return convertFrame(image, files.workingSpace, files.outputSpace, error) &&
           writeImage(image, job.output, settings, error);
}

int runRender(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    const InterruptGuard stopCleanly;
    try {
        return run(options, out, err, errIsTerminal);
    } catch (const RenderError &e) {
        err << kProgram << e.what() << "\n";
    } catch (const std::bad_alloc &) {
        err << kProgram << "out of memory\n";
    } catch (const std::exception &e) {
        err << kProgram << e.what() << "\n";
    }
    return kExitFailed;
}

} // namespace veltrix_render
