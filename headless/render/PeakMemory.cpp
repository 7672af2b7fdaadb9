#include "headless/render/PeakMemory.h"

#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace veltrix_render {

void resetPeakMemory() {
#ifdef __linux__
    // "5" resets the peak resident set size to the current one (Linux 4.0+).
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
#endif
}

double peakMemoryMiB() {
#ifdef __linux__
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        double kib = -1.0;
        if (fields >> kib) return kib / 1024.0;
    }
#endif
#ifndef _WIN32
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return double(usage.ru_maxrss) / 1024.0; // KiB on Linux
#endif
    return -1.0;
}

} // namespace veltrix_render
