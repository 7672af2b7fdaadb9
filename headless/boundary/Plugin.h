// A plug-in loaded from disk: the shared library and its entry point,
// `EntryPointFunc`. The library is unloaded when the Plugin is destroyed, so
// every Host driving it must be gone by then.
//
// Thread safety: none needed; a Plugin does not change after loading.
#pragma once

#include "headless/SdkHeaders.h"
#include "headless/boundary/SharedLibrary.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace headless {

// Why a plug-in could not be loaded; what() names the file and the reason.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Plugin {
public:
    static constexpr const char *kEntryPointName = "EntryPointFunc";

    // Loads the library at `path` and resolves its entry point; throws
    // PluginError when the file cannot be loaded or lacks the entry point.
    explicit Plugin(const std::string &path);
    ~Plugin() = default;
    Plugin(Plugin &&other) noexcept;
    Plugin &operator=(Plugin &&other) noexcept;

    // The same without exceptions: null, with the reason in `error`.
    static std::unique_ptr<Plugin> tryLoad(const std::string &path, std::string &error);

    PF_EntryPointFunc entryPoint() const { return entry_; }
    const std::string &path() const { return path_; }

private:
    Plugin() = default;
    bool load(const std::string &path, std::string &error);

    std::string path_;
    SharedLibrary library_;
    PF_EntryPointFunc entry_ = nullptr;
};

} // namespace headless
