// Paths the page names, confined to one folder: the scene's. A page may name
// a file by a relative path below that folder and nothing else; absolute
// paths, "..", empty parts, backslashes and control characters are refused
// before the file system is asked, and a path that still leads outside (a
// symbolic link) is refused after it is resolved.
//
// Thread safety: pure functions.
#pragma once

#include <string>

namespace veltrix_studio {

// Resolves `relative` inside `folder` into `out`; false with the reason in
// `error` when it is refused.
bool resolveInFolder(const std::string &folder, const std::string &relative, std::string &out,
                     std::string &error);

// Whether `relative` is a plain relative path below a folder by its name
// alone (no absolute path, "..", "." or empty part, backslash or control
// character); links inside the folder are not looked at. False with the
// reason in `error`.
bool plainRelativePath(const std::string &relative, std::string &error);

} // namespace veltrix_studio
