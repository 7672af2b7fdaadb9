#include "headless/boundary/Plugin.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace headless {

bool Plugin::load(const std::string &path, std::string &error) {
    path_ = path;
    std::error_code fsError;
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    if (!std::filesystem::exists(file, fsError)) {
        error = "cannot load plug-in '" + path + "': no such file";
        return false;
    }
    std::string reason;
    if (!library_.open(path, reason)) {
        error = "cannot load plug-in '" + path + "': " + reason;
        return false;
    }
    void *entry = library_.symbol(kEntryPointName, reason);
    if (!entry) {
        error = "plug-in '" + path + "' has no entry point " + kEntryPointName + ": " + reason;
        library_.close();
        return false;
    }
    entry_ = reinterpret_cast<PF_EntryPointFunc>(entry);
    return true;
}

Plugin::Plugin(Plugin &&other) noexcept
    : path_(std::move(other.path_)), library_(std::move(other.library_)),
      entry_(std::exchange(other.entry_, nullptr)) {}

Plugin &Plugin::operator=(Plugin &&other) noexcept {
    if (this != &other) {
        path_ = std::move(other.path_);
        library_ = std::move(other.library_);
        entry_ = std::exchange(other.entry_, nullptr);
    }
    return *this;
}

Plugin::Plugin(const std::string &path) {
    std::string error;
    if (!load(path, error)) throw PluginError(error);
}

std::unique_ptr<Plugin> Plugin::tryLoad(const std::string &path, std::string &error) {
    std::unique_ptr<Plugin> plugin(new Plugin);
    if (!plugin->load(path, error)) return nullptr;
    return plugin;
}

} // namespace headless
