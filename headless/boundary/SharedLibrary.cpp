// The platform shim: the only file of the headless host that calls the
// operating system directly.
#include "headless/boundary/SharedLibrary.h"

#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace headless {

namespace {
#ifdef _WIN32
std::wstring widen(const std::string &utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string lastErrorText() {
    const DWORD code = GetLastError();
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message + " (error " + std::to_string(code) + ")";
}
#else
std::string lastErrorText() {
    const char *text = dlerror();
    return text ? text : "unknown error";
}
#endif
} // namespace

SharedLibrary::SharedLibrary(SharedLibrary &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary &SharedLibrary::operator=(SharedLibrary &&other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool SharedLibrary::open(const std::string &path, std::string &error) {
    close();
#ifdef _WIN32
    handle_ = reinterpret_cast<void *>(LoadLibraryW(widen(path).c_str()));
#else
    // Local binding keeps the plug-in's symbols from resolving anyone else's.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!handle_) error = lastErrorText();
    return handle_ != nullptr;
}

void *SharedLibrary::symbol(const char *name, std::string &error) const {
    if (!handle_) {
        error = "library not open";
        return nullptr;
    }
#ifdef _WIN32
    void *address = reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    dlerror(); // clear any earlier error
    void *address = dlsym(handle_, name);
#endif
    if (!address) error = lastErrorText();
    return address;
}

void SharedLibrary::close() {
    if (!handle_) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

} // namespace headless
