// The Windows deliverable as the host meets it: loads Veltrix.aex with
// LoadLibrary, reads its resource description out of the loaded module the
// way the host finds it (resource type "PiPL", id 16000), then drives global
// set-up, parameter set-up and global set-down through the headless host and
// checks that the effect announces what its resource says and gives back
// everything it took.
//   veltrix-windows-check [PATH\Veltrix.aex]   (default: beside this program)
// Prints one line per check and ends with "N passed, N failed"; exits 1 on
// any failure.
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/GlobalData.h"
#include "host/ParamIds.h"
#include "tests/resources/VeltrixPiPL.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

using namespace pipl_reader;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string &what, const std::string &detail = {}) {
    (ok ? passed : failed) += 1;
    std::printf("%s  %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
}

std::string besideThisProgram(const char *name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : folder.substr(0, slash + 1)) + name;
}

// The bytes of resource "PiPL" 16000 in the module that holds `code`.
std::optional<std::vector<std::uint8_t>> resourceOfModule(const void *code) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(code), &module))
        return std::nullopt;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(16000), L"PiPL");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto *bytes = loaded ? static_cast<const std::uint8_t *>(LockResource(loaded)) : nullptr;
    if (!bytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module, found));
}

std::uint32_t numberOf(const PropertyList &list, const char *key) {
    for (const auto &property : list.properties)
        if (property.key == key) return numberValue(property, ByteOrder::Little).value_or(0xDEADBEEF);
    return 0xDEADBEEF;
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

A_Err registerWithHost(AEGP_GlobalRefcon, const A_char *name, AEGP_PluginID *id) {
    if (!name || !id) return A_Err_PARAMETER;
    *id = 4242;
    return A_Err_NONE;
}
const AEGP_UtilitySuite6 kUtilitySuite = {registerWithHost};

PropertyList checkResource(const headless::Plugin &plugin) {
    const auto bytes = resourceOfModule(reinterpret_cast<const void *>(plugin.entryPoint()));
    check(bytes.has_value(), "resource PiPL 16000 found in the loaded module");
    if (!bytes) return {};
    std::string error;
    const auto list = parsePropertyList(*bytes, ByteOrder::Little, true, error);
    check(list.has_value(), "resource parses as a property list", error);
    if (!list) return {};
    for (const auto &line : describe(*list, ByteOrder::Little)) std::printf("      %s\n", line.c_str());
    std::string differences;
    for (const auto &line : differencesFromVeltrix(*list, ByteOrder::Little, "8664"))
        differences += "\n      " + line;
    check(differences.empty(), "the twelve properties are Veltrix's", differences);
    return *list;
}

void checkLifecycle(const headless::Plugin &plugin, const PropertyList &list) {
    headless::Host host(plugin);
    host.suites().add("AEGP Utility Suite", 11, &kUtilitySuite);

    check(host.globalSetup() == PF_Err_NONE, "global set-up", host.last().thrown);
    const PF_OutData &out = *host.outData();
    check(out.my_version == numberOf(list, "eVER") && out.my_version == kVeltrixVersion,
          "version announced equals the resource's", hex(out.my_version));
    check(static_cast<std::uint32_t>(out.out_flags) == numberOf(list, "eGLO"),
          "out flags equal the resource's", hex(static_cast<std::uint32_t>(out.out_flags)));
    check(static_cast<std::uint32_t>(out.out_flags2) == numberOf(list, "eGL2"),
          "out flags 2 equal the resource's", hex(static_cast<std::uint32_t>(out.out_flags2)));

    check(host.paramsSetup() == PF_Err_NONE, "parameter set-up", host.last().thrown);
    check(host.inData()->num_params == PARAM_COUNT, "parameters announced",
          std::to_string(host.inData()->num_params));

    check(host.globalSetdown() == PF_Err_NONE, "global set-down", host.last().thrown);
    check(host.ledger().empty(), "ledger empty after set-down", host.ledger().report());
}

} // namespace

int main(int argc, char **argv) {
    const std::string path = argc > 1 ? argv[1] : besideThisProgram("Veltrix.aex");
    std::printf("checking %s\n", path.c_str());
    try {
        const headless::Plugin plugin(path);
        check(plugin.entryPoint() != nullptr, "LoadLibrary and EntryPointFunc");
        const PropertyList list = checkResource(plugin);
        checkLifecycle(plugin, list);
    } catch (const std::exception &e) {
        check(false, "plug-in loads", e.what());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
