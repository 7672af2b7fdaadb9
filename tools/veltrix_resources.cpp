// Build-time tool: writes the plug-in's resource description for both
// platforms.
//   veltrix-resources WINDOWS_PIPL MACOS_RSRC
// WINDOWS_PIPL receives the little-endian property list that windres embeds
// as resource "PiPL" 16000 of Veltrix.aex; MACOS_RSRC receives a resource
// file holding the big-endian list as resource 'PiPL' 16000, for the macOS
// bundle's Resources folder.
#include "tools/PiPLWriter.h"
#include "tools/ResourceFile.h"

#include <exception>
#include <fstream>
#include <iostream>
#include <string>

namespace {

bool writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) std::cerr << "veltrix-resources: cannot write " << path << "\n";
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: veltrix-resources WINDOWS_PIPL MACOS_RSRC\n";
        return 2;
    }
    try {
        const auto windows = pipl::serialize(pipl::Platform::Windows64);
        const auto macList = pipl::serialize(pipl::Platform::MacOS64);
        const auto mac = rsrc::singleResourceFile(pipl::kResourceType, pipl::kResourceId, macList);
        return writeFile(argv[1], windows) && writeFile(argv[2], mac) ? 0 : 1;
    } catch (const std::exception &e) {
        std::cerr << "veltrix-resources: " << e.what() << "\n";
        return 1;
    }
}
