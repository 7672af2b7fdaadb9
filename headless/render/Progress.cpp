#include "headless/render/Progress.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ostream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace veltrix_render {

bool isTerminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::string formatSeconds(double seconds) {
    if (!(seconds >= 0.0) || !std::isfinite(seconds)) seconds = 0.0;
    char buffer[32];
    if (seconds < 60.0) {
        std::snprintf(buffer, sizeof buffer, seconds < 10.0 ? "%.2f s" : "%.1f s", seconds);
    } else {
        const long whole = std::lround(seconds);
        const long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
        if (h > 0)
            std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", h, m, s);
        else
            std::snprintf(buffer, sizeof buffer, "%ld:%02ld", m, s);
    }
    return buffer;
}

std::string formatMilliseconds(double seconds) {
    if (!(seconds >= 0.0) || !std::isfinite(seconds)) seconds = 0.0;
    char buffer[32];
    const double ms = seconds * 1000.0;
    std::snprintf(buffer, sizeof buffer, ms < 1.0 ? "%.2f ms" : "%.1f ms", ms);
    return buffer;
}

// ---- progress ------------------------------------------------------------------------

Progress::Progress(std::ostream &out, long total, bool enabled, bool terminal)
    : out_(out), total_(total), enabled_(enabled && total > 1), terminal_(terminal) {}

void Progress::frameDone(long number, double seconds, const std::string &output) {
    ++done_;
    spent_ += seconds;
    if (!enabled_) return;
    const double left = spent_ / double(done_) * double(total_ - done_);
    std::ostringstream line;
    const int width = static_cast<int>(std::to_string(total_).size());
    line << "[" << std::string(std::size_t(width) - std::to_string(done_).size(), ' ') << done_
         << "/" << total_ << "] frame " << number << " in " << formatSeconds(seconds) << ", "
         << formatSeconds(left) << " left";
    if (terminal_) {
        // Rewrite the one line; pad so a shorter line hides a longer one.
        out_ << "\r" << line.str() << "    " << std::flush;
        lineOpen_ = true;
    } else {
        out_ << line.str() << " -> " << output << "\n" << std::flush;
    }
}

void Progress::finish() {
    if (lineOpen_) out_ << "\n" << std::flush;
    lineOpen_ = false;
}

// ---- statistics ----------------------------------------------------------------------

std::string RunStats::report() const {
    const auto ms = formatMilliseconds;
    std::ostringstream out;
    out << "plug-in load    " << ms(pluginLoad) << "\n"
        << "scene load      " << ms(sceneLoad) << " (scene file and images)\n"
        << "host set-up     " << ms(setup) << "\n";
    double render = 0.0, write = 0.0;
    for (const FrameStats &f : frames) {
        out << "frame " << f.number << "  render " << ms(f.render) << ", write " << ms(f.write);
        if (f.peakMemoryMiB >= 0.0)
            out << ", peak memory " << static_cast<long>(std::lround(f.peakMemoryMiB)) << " MiB";
        out << "\n";
        if (f.smartRender > 0.0) {
            out << "  smart render  " << ms(f.smartRender);
            for (std::size_t i = 0; i < f.passes.size(); ++i)
                out << (i ? ", " : " (") << "pixel pass " << i + 1 << " " << ms(f.passes[i]);
            out << (f.passes.empty() ? "" : ")") << "\n";
        }
        render += f.render;
        write += f.write;
    }
    if (frames.size() > 1) {
        const double n = double(frames.size());
        out << "frames          " << frames.size() << ": render " << ms(render) << " ("
            << ms(render / n) << " a frame), write " << ms(write) << " (" << ms(write / n)
            << " a frame)\n";
    }
    out << "total           " << ms(total) << "\n";
    return out.str();
}

std::string RunStats::json() const {
    auto ms = [](double seconds) { return std::round(seconds * 1.0e6) / 1.0e3; }; // to the µs
    nlohmann::json frameList = nlohmann::json::array();
    for (const FrameStats &f : frames) {
        nlohmann::json passes = nlohmann::json::array();
        for (double p : f.passes) passes.push_back(ms(p));
        frameList.push_back({{"frame", f.number},
                             {"render_ms", ms(f.render)},
                             {"smart_render_ms", ms(f.smartRender)},
                             {"pixel_passes_ms", passes},
                             {"write_ms", ms(f.write)},
                             {"peak_memory_mib", f.peakMemoryMiB >= 0.0
                                                     ? nlohmann::json(std::round(f.peakMemoryMiB * 10.0) / 10.0)
                                                     : nlohmann::json()}});
    }
    const nlohmann::json out = {{"plugin_load_ms", ms(pluginLoad)},
                                {"scene_load_ms", ms(sceneLoad)},
                                {"host_setup_ms", ms(setup)},
                                {"frames", frameList},
                                {"total_ms", ms(total)}};
    return out.dump(2) + "\n";
}

} // namespace veltrix_render
