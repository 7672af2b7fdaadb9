// What veltrix-render tells the person watching: progress through a range of
// frames on stderr, and with --stats how long each stage took.
//
// Progress shows frames done, the last frame's time and the time left (from
// the average so far). On a terminal it rewrites one line; otherwise (a log
// file, a render farm's capture) it prints one plain line per frame. A run of
// one frame shows no progress, and --quiet shows none at all.
//
// Thread safety: one Progress and one RunStats per run, used by the thread
// that drives the run.
#pragma once

#include <chrono>
#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

namespace veltrix_render {

// True when `stream` is a terminal.
bool isTerminal(std::FILE *stream);

// "0.42 s", "12.3 s", "2:05", "1:02:03".
std::string formatSeconds(double seconds);
// "0.08 ms", "12.3 ms", "1234.5 ms": --stats, where preview frames take
// less than a hundredth of a second a stage.
std::string formatMilliseconds(double seconds);

// Seconds since construction or the last lap.
class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double lap() {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - start_).count();
        start_ = now;
        return seconds;
    }

private:
    std::chrono::steady_clock::time_point start_;
};

class Progress {
public:
    // Shows nothing when `enabled` is false or `total` is 1.
    Progress(std::ostream &out, long total, bool enabled, bool terminal);
    // Frame `number` is done (rendered and written) after `seconds`.
    void frameDone(long number, double seconds, const std::string &output);
    // Ends the display (a terminal's line gets its newline).
    void finish();

private:
    std::ostream &out_;
    long total_;
    bool enabled_;
    bool terminal_;
    long done_ = 0;
    double spent_ = 0.0;
    bool lineOpen_ = false;
};

struct FrameStats {
    long number = 0;
    double render = 0.0; // seconds in the effect's render, host included
    double write = 0.0;  // seconds encoding and writing the file
    // Of render: the smart-render command (scene construction, layer
    // checkouts, the pixel passes), and each pixel pass in it.
    double smartRender = 0.0;
    std::vector<double> passes;
    double peakMemoryMiB = -1.0; // resident high-water mark during the frame; < 0 unknown
};

struct RunStats {
    double pluginLoad = 0.0; // loading the plug-in and reading its parameters
    double sceneLoad = 0.0;  // reading the scene file and its images
    double setup = 0.0;      // building the composition in the host, global and parameter set-up
    std::vector<FrameStats> frames;
    double total = 0.0;

    // The report --stats prints, in milliseconds.
    std::string report() const;
    // The same as JSON for --stats-json: every stage in milliseconds and the
    // peak memory of each frame in MiB (null where the system does not say).
    std::string json() const;
};

} // namespace veltrix_render
