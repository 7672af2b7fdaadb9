// The command line of veltrix-render:
//
//   veltrix-render SCENE.json [options]
//   veltrix-render --list-params
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

namespace veltrix_render {

// Exit codes: success, a failed render or write, bad input (a bad option, a
// bad scene, an output that cannot be made).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

struct Options {
    std::string scene;
    std::string output;     // -o; may hold runs of '#'
    long frame = 0;         // --frame
    std::string frames;     // --frames "A-B"
    double time = 0.0;      // --time, seconds
    int depth = 0;          // --depth; 0: the output type's default
    int downsample = 1;     // --downsample
    std::string layer;      // --layer; empty: the first layer carrying the effect
    int threads = 0;        // --threads; 0: one per hardware thread
    bool quiet = false;
    bool listParams = false;
    bool stats = false;
    std::string plugin;     // --plugin; empty: VELTRIX_PLUGIN, then the built one

    // How files store the frame (FileDescription.h); empty: the defaults.
    std::string alpha;       // --alpha premultiplied|straight
    std::string colorspace;  // --colorspace NAME
    std::string colorconfig; // --colorconfig FILE; empty: $OCIO, then the built-in spaces
    bool half = false;       // --half
    std::string compression; // --compression NAME

    // Which of the mutually exclusive time options was given.
    bool frameGiven = false, framesGiven = false, timeGiven = false;
    long firstFrame = 0, lastFrame = 0; // --frames, once parsed
};

struct ParseOutcome {
    bool exit = false; // true: stop now with `code` (help, version, or an error)
    int code = kExitOk;
};

// Parses argv into `options`. Help and version go to `out`; errors, prefixed
// with the program name, to `err`.
ParseOutcome parseOptions(int argc, const char *const *argv, Options &options, std::ostream &out,
                          std::ostream &err);

// "A-B" with whole numbers 0 <= A <= B; false with a reason otherwise.
bool parseFrameRange(const std::string &text, long &first, long &last, std::string &error);

// The plug-in to load: --plugin, else the VELTRIX_PLUGIN environment
// variable, else the one built beside this program.
std::string pluginPath(const Options &options);

} // namespace veltrix_render
