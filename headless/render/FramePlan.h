// Which frames a run renders and where each one goes, worked out and checked
// completely before the first frame renders, so that a mistake in the
// options costs nothing and writes nothing.
//
// Frame numbers count from the composition's start frame S (0 unless the
// scene sets "start_frame"); frame n is at composition time (n - S) / frame
// rate. The file name of an output (not its folders) may hold runs of '#':
// each run becomes the frame number, zero-padded to the run's length
// ("f_####.png", frame 7 -> "f_0007.png"; a longer number is written whole).
// Without -o, a single frame goes to out/<scene name>.<ext> and a range to
// out/<scene name>_####.png; out/ is made when missing. A folder named in -o
// must exist.
//
// Thread safety: pure functions, except checkOutputs, which touches the file
// system.
#pragma once

#include "headless/composition/Composition.h"
#include "headless/render/ImageIO.h"
#include "headless/render/Options.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace veltrix_render {

// A problem with the options as applied to this scene (exit code 2).
class PlanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FrameJob {
    long number = 0;   // frame number (for '#')
    double time = 0.0; // composition seconds
    std::string output;
};

struct FramePlan {
    std::vector<FrameJob> frames;
    OutputFormat format;
    int depth = 8;
    bool defaultOutput = false; // no -o given
    std::string pattern;        // -o, or the default output, before '#' becomes the number
};

// Replaces every run of '#' in the file name of `pattern` with `frame`,
// zero-padded; '#' in its folders is kept as it is.
std::string expandFrameNumber(const std::string &pattern, long frame);
bool hasFrameNumberRun(const std::string &pattern); // in the file name

// Number of frames in the composition: its duration times its frame rate.
long frameCount(const headless::Composition &comp);

// The frames and outputs of a run; throws PlanError.
FramePlan planFrames(const Options &options, const headless::Composition &comp,
                     const std::string &scenePath);

// Whether a frame's output is written: a file (or a link to one) is there. A
// folder of that name is not a frame: checkOutputs refuses it.
bool outputWritten(const std::string &output);

// Drops the frames whose output is written (--skip-existing); returns how
// many were dropped.
std::size_t dropExistingOutputs(FramePlan &plan);

// Makes out/ for the default output, then checks that every output can be
// written (its folder exists and takes new files); throws PlanError.
void checkOutputs(const FramePlan &plan);

} // namespace veltrix_render
