#include "headless/render/FramePlan.h"

#include "headless/composition/SceneFile.h"

#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

namespace veltrix_render {

namespace fs = std::filesystem;

namespace {

constexpr double kTimeSlack = 1e-9; // frame times computed from rates are not exact

std::string number(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

std::string frameRange(const headless::Composition &comp) {
    const long count = frameCount(comp);
    return count > 0 ? "frames 0 to " + std::to_string(count - 1) : "no frames";
}

std::vector<FrameJob> chooseFrames(const Options &options, const headless::Composition &comp) {
    const double rate = comp.frameRate;
    const long count = frameCount(comp);
    std::vector<FrameJob> frames;
    if (options.timeGiven) {
        if (!(options.time >= 0.0) || options.time >= comp.duration)
            throw PlanError("--time " + number(options.time) + ": the composition lasts " +
                            number(comp.duration) + " seconds");
        const long number = static_cast<long>(std::floor(options.time * rate + kTimeSlack));
        frames.push_back({number, options.time, {}});
        return frames;
    }
    const long first = options.framesGiven ? options.firstFrame : options.frame;
    const long last = options.framesGiven ? options.lastFrame : options.frame;
    if (first < 0 || last >= count) {
        const std::string given = options.framesGiven ? "--frames " + options.frames
                                                      : "--frame " + std::to_string(options.frame);
        throw PlanError(given + ": the composition has " + frameRange(comp) + " (" +
                        number(comp.duration) + " s at " + number(rate) +
                        " frames per second)");
    }
    for (long n = first; n <= last; ++n) frames.push_back({n, double(n) / rate, {}});
    return frames;
}

} // namespace

std::string expandFrameNumber(const std::string &pattern, long frame) {
    std::string out;
    const std::string digits = std::to_string(frame);
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '#') {
            out += pattern[i++];
            continue;
        }
        std::size_t run = 0;
        while (i < pattern.size() && pattern[i] == '#') ++run, ++i;
        if (digits.size() < run) out += std::string(run - digits.size(), '0');
        out += digits;
    }
    return out;
}

bool hasFrameNumberRun(const std::string &pattern) {
    return pattern.find('#') != std::string::npos;
}

long frameCount(const headless::Composition &comp) {
    if (!(comp.frameRate > 0.0) || !(comp.duration > 0.0)) return 0;
    return static_cast<long>(std::ceil(comp.duration * comp.frameRate - kTimeSlack));
}

FramePlan planFrames(const Options &options, const headless::Composition &comp,
                     const std::string &scenePath) {
    FramePlan plan;
    plan.frames = chooseFrames(options, comp);
    const bool range = plan.frames.size() > 1;

    std::string pattern = options.output;
    plan.defaultOutput = pattern.empty();
    if (plan.defaultOutput)
        pattern = (fs::path("out") / (headless::sceneName(scenePath) + (range ? "_####" : "") +
                                      ".png"))
                      .string();
    if (range && !hasFrameNumberRun(pattern))
        throw PlanError("-o " + pattern + ": a range writes one file per frame; put a run of # "
                        "where the frame number goes, e.g. " +
                        (fs::path(pattern).parent_path() /
                         (fs::path(pattern).stem().string() + "_####" +
                          fs::path(pattern).extension().string()))
                            .string());

    if (!outputFormatOf(pattern, plan.format))
        throw PlanError("-o " + pattern + ": unsupported output type; use " +
                        supportedExtensions());
    plan.depth = options.depth ? options.depth : plan.format.defaultDepth;
    if (!plan.format.holds(plan.depth))
        throw PlanError("--depth " + std::to_string(plan.depth) + ": " + plan.format.extension +
                        " files hold " + plan.format.depthList() + " bits per channel");
    for (FrameJob &job : plan.frames) job.output = expandFrameNumber(pattern, job.number);
    return plan;
}

void checkOutputs(const FramePlan &plan) {
    std::set<fs::path> folders;
    for (const FrameJob &job : plan.frames) {
        std::error_code ec;
        if (fs::is_directory(job.output, ec)) throw PlanError("-o " + job.output + ": is a folder");
        const fs::path folder = fs::path(job.output).parent_path();
        if (!folders.insert(folder).second) continue;
        if (plan.defaultOutput && !folder.empty()) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (ec)
                throw PlanError("cannot make the output folder " + folder.string() + ": " +
                                ec.message());
        }
        std::string error;
        if (!canWriteBeside(job.output, error)) throw PlanError("-o " + job.output + ": " + error);
    }
}

} // namespace veltrix_render
