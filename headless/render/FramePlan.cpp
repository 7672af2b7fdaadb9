#include "headless/render/FramePlan.h"

#include "headless/composition/SceneFile.h"

#include <algorithm>
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
    return count > 0 ? "frames " + std::to_string(comp.startFrame) + " to " +
                           std::to_string(comp.startFrame + count - 1)
                     : "no frames";
}

FrameJob frameAt(long number, const headless::Composition &comp) {
    return {number, double(number - comp.startFrame) / comp.frameRate, {}};
}

// The frames of --frames or --frame, in the order given, each once.
std::vector<FrameJob> listedFrames(const Options &options, const headless::Composition &comp) {
    std::vector<FrameSpan> spans = options.frameSpans;
    if (!options.framesGiven) {
        const long n = options.frameGiven ? options.frame : comp.startFrame;
        spans = {{n, n, 1}};
    }
    const long first = comp.startFrame, last = comp.startFrame + frameCount(comp) - 1;
    std::vector<FrameJob> frames;
    std::set<long> listed;
    for (const FrameSpan &span : spans) {
        if (span.first < first || span.last > last) {
            const std::string given = options.framesGiven
                                          ? "--frames " + options.frames
                                          : "--frame " + std::to_string(spans[0].first);
            throw PlanError(given + ": the composition has " + frameRange(comp) + " (" +
                            number(comp.duration) + " s at " + number(comp.frameRate) +
                            " frames per second)");
        }
        for (long n = span.first; n <= span.last; n += span.step)
            if (listed.insert(n).second) frames.push_back(frameAt(n, comp));
    }
    return frames;
}

std::vector<FrameJob> chooseFrames(const Options &options, const headless::Composition &comp) {
    if (!options.timeGiven) return listedFrames(options, comp);
    if (!(options.time >= 0.0) || options.time >= comp.duration)
        throw PlanError("--time " + number(options.time) + ": the composition lasts " +
                        number(comp.duration) + " seconds");
    const long n = static_cast<long>(std::floor(options.time * comp.frameRate + kTimeSlack));
    return {{comp.startFrame + n, options.time, {}}};
}

// The file name part of a path: after the last folder separator.
std::size_t fileNameStart(const std::string &path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? 0 : slash + 1;
}

} // namespace

std::string expandFrameNumber(const std::string &pattern, long frame) {
    const std::size_t name = fileNameStart(pattern);
    std::string out = pattern.substr(0, name);
    const std::string digits = std::to_string(frame);
    for (std::size_t i = name; i < pattern.size();) {
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
    return pattern.find('#', fileNameStart(pattern)) != std::string::npos;
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
        pattern = (fs::path("out") / (headless::sceneName(scenePath) +
                                      (range || options.framesGiven ? "_####" : "") +
                                      ".png"))
                      .string();
    if (range && !hasFrameNumberRun(pattern))
        throw PlanError("-o " + pattern + ": a range writes one file per frame; put a run of # "
                        "in the file name where the frame number goes, e.g. " +
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
    plan.pattern = pattern;
    return plan;
}

bool outputWritten(const std::string &output) {
    std::error_code ec;
    return fs::is_regular_file(output, ec);
}

std::size_t dropExistingOutputs(FramePlan &plan) {
    const std::size_t before = plan.frames.size();
    plan.frames.erase(std::remove_if(plan.frames.begin(), plan.frames.end(),
                                     [](const FrameJob &job) { return outputWritten(job.output); }),
                      plan.frames.end());
    return before - plan.frames.size();
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
