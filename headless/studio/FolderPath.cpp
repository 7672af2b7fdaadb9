#include "headless/studio/FolderPath.h"

#include <filesystem>

namespace veltrix_studio {

namespace fs = std::filesystem;

namespace {

bool refusedByName(const std::string &relative, std::string &error) {
    if (relative.empty() || relative.size() > 1024) {
        error = "a file name of 1 to 1024 characters is needed";
        return true;
    }
    for (const char c : relative) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\' || c == ':') {
            error = "the file name holds a character that is not allowed";
            return true;
        }
    }
    if (relative.front() == '/') {
        error = "absolute paths are refused: name a file in the scene's folder";
        return true;
    }
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            error = "\"..\", \".\" and empty parts are refused: name a file in the scene's folder";
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

bool plainRelativePath(const std::string &relative, std::string &error) {
    return !refusedByName(relative, error);
}

bool resolveInFolder(const std::string &folder, const std::string &relative, std::string &out,
                     std::string &error) {
    if (refusedByName(relative, error)) return false;
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) {
        error = "the scene's folder cannot be resolved";
        return false;
    }
    const fs::path resolved = fs::weakly_canonical(root / relative, ec);
    if (ec) {
        error = "the path cannot be resolved";
        return false;
    }
    // Lexically below the root, after links are followed.
    const fs::path inside = resolved.lexically_relative(root);
    if (inside.empty() || *inside.begin() == "..") {
        error = "the path leads outside the scene's folder";
        return false;
    }
    out = resolved.string();
    return true;
}

} // namespace veltrix_studio
