// Shared helpers of the renderer's tests: the plug-in's parameter catalog,
// scratch folders, files as bytes, and running the built veltrix-render.
#pragma once

#include "headless/boundary/ParamCatalog.h"
#include "headless/boundary/Plugin.h"
#include "headless/render/FrameRenderer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace render_test {

namespace fs = std::filesystem;

// The built plug-in, loaded once for the whole test program.
inline const headless::Plugin &plugin() {
    static const headless::Plugin loaded(VELTRIX_PLUGIN_PATH);
    return loaded;
}

inline const headless::ParamCatalog &catalog() {
    static const headless::ParamCatalog read = veltrix_render::readParamCatalog(plugin());
    return read;
}

// A fresh folder, removed with everything in it when the test ends.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("veltrix-render-test-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    // Names of everything in the folder, sorted, for "nothing else was written".
    std::string listing() const { return listingOf(path_); }
    static std::string listingOf(const fs::path &folder) {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string &n : names) out += n + "\n";
        return out;
    }

private:
    fs::path path_;
};

inline void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs the built veltrix-render with `args` (already quoted for the shell),
// in `folder`.
inline RunResult runRenderer(const std::string &args, const fs::path &folder) {
    const fs::path outFile = folder / ".stdout", errFile = folder / ".stderr";
    const std::string command = "cd '" + folder.string() + "' && '" VELTRIX_RENDER_PATH "' " +
                                args + " >'" + outFile.string() + "' 2>'" + errFile.string() + "'";
    const int status = std::system(command.c_str());
    RunResult result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outFile.string());
    result.err = readFile(errFile.string());
    fs::remove(outFile);
    fs::remove(errFile);
    return result;
}

// Starts the built veltrix-render with `args` in `folder`, its output in
// `folder`/.stdout and .stderr, without waiting; returns its process id.
inline pid_t startRenderer(const std::string &args, const fs::path &folder) {
    const std::string command = "cd '" + folder.string() + "' && exec '" VELTRIX_RENDER_PATH "' " +
                                args + " >.stdout 2>.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

inline std::string sourcePath(const std::string &relative) {
    return (fs::path(VELTRIX_SOURCE_DIR) / relative).string();
}

} // namespace render_test
