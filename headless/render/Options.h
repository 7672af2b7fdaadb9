// The command line of veltrix-render:
//
//   veltrix-render SCENE.json [options]
//   veltrix-render --list-params [--json]
//   veltrix-render --scene-schema
//   veltrix-render SCENE.json [options] --submit slurm [--chunk N] [--dry-run]
//   veltrix-render SCENE.json [options] --collect JOBID
//
// Every option is declared once, in the registration table of Options.cpp,
// which also gives --help its text. Parsing checks the form of each value
// (numbers, ranges, "A-B"); what depends on the scene (frame numbers, the
// output name) is checked by planFrames (FramePlan.h).
//
// Thread safety: plain data and pure functions.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace veltrix_render {

// Exit codes: success, a failed render or write, bad input (a bad option, a
// bad scene, an output that cannot be made).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

// One item of --frames: frames first to last, every step-th ("A", "A-B",
// "A-BxN").
struct FrameSpan {
    long first = 0, last = 0, step = 1;
    bool operator==(const FrameSpan &o) const {
        return first == o.first && last == o.last && step == o.step;
    }
};

struct Options {
    std::string scene;
    std::string output;     // -o; may hold runs of '#'
    long frame = 0;         // --frame
    std::string frames;     // --frames "A-B", "A-BxN", "N", comma lists of those
    double time = 0.0;      // --time, seconds
    int depth = 0;          // --depth; 0: the output type's default
    int downsample = 1;     // --downsample
    std::string layer;      // --layer; empty: the first layer carrying the effect
    int threads = 0;        // --threads; 0: one per hardware thread
    bool skipExisting = false; // --skip-existing
    std::vector<std::string> sets; // --set "NAME=VALUE", in the order given
    bool quiet = false;
    bool listParams = false;
    bool stats = false;
    std::string statsJson;  // --stats-json FILE
    bool json = false;      // --json: --list-params as JSON
    bool sceneSchema = false; // --scene-schema
    std::string plugin;     // --plugin; empty: VELTRIX_PLUGIN, then the built one

    // How files store the frame (FileDescription.h); empty: the defaults.
    std::string alpha;       // --alpha premultiplied|straight
    std::string colorspace;  // --colorspace NAME
    std::string colorconfig; // --colorconfig FILE; empty: $OCIO, then the built-in spaces
    bool half = false;       // --half
    std::string compression; // --compression NAME

    // Rendering on a cluster (ClusterSubmit.h): these shape the job, not the
    // frames, so the tasks' command line leaves them out.
    std::string submit;      // --submit SCHEDULER ("slurm"); empty: render here
    long chunk = 0;          // --chunk N frames per task; 0: about a minute of work each
    std::string partition;   // --partition NAME
    std::vector<std::string> slurmArgs; // --slurm-arg ARG, passed to sbatch as given
    bool dryRun = false;     // --dry-run: print the job script, submit nothing
    std::string collect;     // --collect JOBID: report the job's missing and failed frames

    // Which of the mutually exclusive time options was given.
    bool frameGiven = false, framesGiven = false, timeGiven = false;
    std::vector<FrameSpan> frameSpans; // --frames, once parsed
};

struct ParseOutcome {
    bool exit = false; // true: stop now with `code` (help, version, or an error)
    int code = kExitOk;
};

// Parses argv into `options`. Help and version go to `out`; errors, prefixed
// with the program name, to `err`.
ParseOutcome parseOptions(int argc, const char *const *argv, Options &options, std::ostream &out,
                          std::ostream &err);

// A --frames list: comma-separated items "N", "A-B" or "A-BxN" (every N-th
// frame from A to B), whole numbers with A <= B and N >= 1; false with a
// reason naming the item otherwise. Spans are kept, not expanded, so a huge
// range costs nothing before it is checked against the composition.
bool parseFrameList(const std::string &text, std::vector<FrameSpan> &spans, std::string &error);

// The options of `options` that `keep` accepts (given their long names,
// e.g. "--frames"), as a command line that parses back into the same values:
// the scene first, then each option whose value differs from the default, in
// the order of the registration table. For the tasks of a cluster job, which
// run the user's own render with frames of their own.
std::vector<std::string> optionArguments(const Options &options,
                                         bool (*keep)(const std::string &longName));

// The plug-in to load: --plugin, else the VELTRIX_PLUGIN environment
// variable, else the one built beside this program.
std::string pluginPath(const Options &options);

} // namespace veltrix_render
