// The one platform shim of the headless host: opening a shared library and
// finding a symbol in it (dlopen/dlsym on POSIX, LoadLibraryW/GetProcAddress
// on Windows). Everything else in the core is standard C++.
//
// Thread safety: a SharedLibrary object is not shared between threads while
// it is being opened or closed; symbol lookup may run on any thread.
#pragma once

#include <string>

namespace headless {

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary() { close(); }
    SharedLibrary(SharedLibrary &&other) noexcept;
    SharedLibrary &operator=(SharedLibrary &&other) noexcept;
    SharedLibrary(const SharedLibrary &) = delete;
    SharedLibrary &operator=(const SharedLibrary &) = delete;

    // Opens the library at `path` (UTF-8). On failure returns false and puts
    // the system's reason into `error`.
    bool open(const std::string &path, std::string &error);
    // The address of exported symbol `name`, or null with the reason in `error`.
    void *symbol(const char *name, std::string &error) const;
    void close();
    bool isOpen() const { return handle_ != nullptr; }

private:
    void *handle_ = nullptr;
};

} // namespace headless
