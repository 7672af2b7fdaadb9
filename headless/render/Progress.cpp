#include "headless/render/Progress.h"

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
    std::ostringstream out;
    out << "plug-in load    " << formatSeconds(pluginLoad) << "\n"
        << "scene load      " << formatSeconds(sceneLoad) << " (scene file and images)\n"
        << "host set-up     " << formatSeconds(setup) << "\n";
    double render = 0.0, write = 0.0;
    for (const FrameStats &f : frames) {
        out << "frame " << f.number << "  render " << formatSeconds(f.render) << ", write "
            << formatSeconds(f.write) << "\n";
        if (f.smartRender > 0.0) {
            out << "  smart render  " << formatSeconds(f.smartRender);
            for (std::size_t i = 0; i < f.passes.size(); ++i)
                out << (i ? ", " : " (") << "pixel pass " << i + 1 << " " << formatSeconds(f.passes[i]);
            out << (f.passes.empty() ? "" : ")") << "\n";
        }
        render += f.render;
        write += f.write;
    }
    if (frames.size() > 1) {
        const double n = double(frames.size());
        out << "frames          " << frames.size() << ": render " << formatSeconds(render)
            << " (" << formatSeconds(render / n) << " a frame), write " << formatSeconds(write)
            << " (" << formatSeconds(write / n) << " a frame)\n";
    }
    out << "total           " << formatSeconds(total) << "\n";
    return out.str();
}

} // namespace veltrix_render
