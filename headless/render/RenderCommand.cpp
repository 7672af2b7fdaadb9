#include "headless/render/RenderCommand.h"

#include "headless/boundary/Plugin.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/FramePlan.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/ImageIO.h"
#include "headless/render/Progress.h"

#include <memory>
#include <new>
#include <ostream>
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

// Renders and writes every frame of `plan`; returns the exit code.
int renderFrames(FrameRenderer &renderer, const FramePlan &plan, const Options &options,
                 RunStats &stats, std::ostream &err, bool errIsTerminal) {
    Progress progress(err, long(plan.frames.size()), !options.quiet, errIsTerminal);
    for (const FrameJob &job : plan.frames) {
        Stopwatch clock;
        FrameStats frame{job.number, 0.0, 0.0, 0.0, {}};
        const bool last = &job == &plan.frames.back();
        const Image image =
            renderer.render(job.time, last ? FrameRenderer::NextFrame::None : FrameRenderer::NextFrame::Follows);
        frame.render = clock.lap();
        if (const headless::CommandRecord *command = renderer.lastSmartRender()) {
            frame.smartRender = command->seconds;
            for (const headless::PassTiming &pass : command->passes) frame.passes.push_back(pass.seconds);
        }
        std::string error;
        if (!writeImage(image, job.output, error)) {
            progress.finish();
            err << kProgram << "cannot write " << job.output << ": " << error << "\n";
            return kExitFailed;
        }
        frame.write = clock.lap();
        stats.frames.push_back(frame);
        progress.frameDone(job.number, frame.render + frame.write, job.output);
        if (plan.frames.size() == 1 && !options.quiet)
            err << kProgram << "wrote " << job.output << " (" << describeFrame(image) << ")\n";
    }
    progress.finish();
    return kExitOk;
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
        out << catalog.table();
        return kExitOk;
    }

    headless::Scene scene;
    try {
        scene = headless::loadSceneFile(options.scene, catalog, readImage);
    } catch (const headless::SceneError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    }
    stats.sceneLoad = clock.lap();
    const headless::SceneEffect *effect = chooseEffect(scene, options, err);
    if (!effect) return kExitBadInput;

    FramePlan plan;
    try {
        plan = planFrames(options, scene.composition, options.scene);
        checkOutputs(plan);
    } catch (const PlanError &e) {
        err << kProgram << e.what() << "\n";
        return kExitBadInput;
    }

    clock.lap();
    FrameRenderer renderer(*plugin, std::move(scene.composition), *effect, options.threads, plan.depth,
                           options.downsample);
    stats.setup = clock.lap();
    const int code = renderFrames(renderer, plan, options, stats, err, errIsTerminal);
    stats.total = total.lap();
    if (options.stats) out << stats.report();
    return code;
}

} // namespace

int runRender(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
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
