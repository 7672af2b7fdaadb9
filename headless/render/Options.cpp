#include "headless/render/Options.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <ostream>
#include <variant>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#endif

#ifndef VELTRIX_DEFAULT_PLUGIN
#define VELTRIX_DEFAULT_PLUGIN "Veltrix.so"
#endif
#ifndef VELTRIX_VERSION
#define VELTRIX_VERSION "unknown"
#endif

namespace veltrix_render {

namespace {

using Target = std::variant<std::string Options::*, long Options::*, int Options::*,
                            double Options::*, bool Options::*>;

struct OptionRow {
    const char *names;    // CLI11 names: "-o,--output", or "scene" for the positional
    const char *valueName;
    const char *help;
    Target target;
    double min = 0, max = 0;  // numbers: the accepted range (when max > min)
};

// Every option of veltrix-render, in the order --help lists them.
const OptionRow kOptions[] = {
    {"scene", "SCENE.json", "the scene file to render", &Options::scene},
    {"-o,--output", "PATH",
     "output image (.png, .tif, .tiff, .exr); a run of # becomes the zero-padded frame "
     "number; default out/<scene name>.png",
     &Options::output},
    {"--frame", "N", "render frame N (default 0)", &Options::frame, 0, 1.0e9},
    {"--frames", "A-B", "render frames A to B inclusive, one file per frame", &Options::frames},
    {"--time", "SECONDS", "render the frame at this composition time", &Options::time, 0, 1.0e6},
    {"--depth", "8|16|32",
     "bits per channel (default 8 for .png and .tif, 32 for .exr)", &Options::depth},
    {"--downsample", "N", "render at 1/N of the full size (N >= 1)", &Options::downsample, 1, 1024},
    {"--layer", "NAME", "render the effect of this layer (default: the first layer carrying it)",
     &Options::layer},
    {"--threads", "N", "render threads (default: one per processor)", &Options::threads, 1, 1024},
    {"--plugin", "PATH", "the plug-in to load (default: $VELTRIX_PLUGIN, then the built one)",
     &Options::plugin},
    {"--alpha", "premultiplied|straight",
     "how colour is stored with alpha (default: premultiplied for .exr, straight otherwise; "
     ".png holds straight only)",
     &Options::alpha},
    {"--colorspace", "NAME",
     "colour space of the output file (default: linear for float files, sRGB for integer files)",
     &Options::colorspace},
    {"--colorconfig", "FILE", "OpenColorIO configuration (default: $OCIO, then the built-in spaces)",
     &Options::colorconfig},
    {"--half", "", "write .exr files as half floats", &Options::half},
    {"--compression", "NAME",
     "compression of .exr and .tif files (e.g. zip, piz, dwaa, none; default: zip)",
     &Options::compression},
    {"-q,--quiet", "", "print no progress", &Options::quiet},
    {"--stats", "", "print how long loading, rendering and writing took", &Options::stats},
    {"--list-params", "", "list the effect's parameters as the plug-in registers them and exit",
     &Options::listParams},
};

CLI::Option *addRow(CLI::App &app, const OptionRow &row, Options &options) {
    return std::visit(
        [&](auto member) -> CLI::Option * {
            auto &field = options.*member;
            using Field = std::remove_reference_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, bool>) {
                return app.add_flag(row.names, field, row.help);
            } else {
                CLI::Option *option = app.add_option(row.names, field, row.help);
                option->type_name(row.valueName);
                if constexpr (std::is_arithmetic_v<Field>)
                    if (row.max > row.min) option->check(CLI::Range(Field(row.min), Field(row.max)).description(""));
                return option;
            }
        },
        row.target);
}

// The forms of the file options that need no scene to check.
void checkFileOptionForms(CLI::App &app) {
    app.get_option("--alpha")->check(CLI::IsMember({"premultiplied", "straight"}).description(""));
}

} // namespace

bool parseFrameRange(const std::string &text, long &first, long &last, std::string &error) {
    const std::size_t dash = text.find('-', 1);
    auto whole = [](const std::string &s, long &v) {
        if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        v = std::stol(s);
        return true;
    };
    if (dash == std::string::npos || !whole(text.substr(0, dash), first) ||
        !whole(text.substr(dash + 1), last)) {
        error = "expected A-B with whole frame numbers, e.g. 0-59";
        return false;
    }
    if (first > last) {
        error = "the first frame " + std::to_string(first) + " comes after the last " +
                std::to_string(last);
        return false;
    }
    return true;
}

ParseOutcome parseOptions(int argc, const char *const *argv, Options &options, std::ostream &out,
                          std::ostream &err) {
    CLI::App app("Renders the Veltrix effect of a scene file into image files.", "veltrix-render");
    // The same command line everywhere: on Windows, "/x" would otherwise be
    // taken for an option, and a path starting with a slash refused.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("veltrix-render ") + VELTRIX_VERSION);
    app.footer("Exit codes: 0 done, 1 the render or a write failed, 2 bad input (nothing written).\n"
               "Scene format: docs/scene-format.md");
    CLI::Option *frame = nullptr, *frames = nullptr, *time = nullptr, *depth = nullptr;
    for (const OptionRow &row : kOptions) {
        CLI::Option *option = addRow(app, row, options);
        const std::string names = row.names;
        if (names == "--frame") frame = option;
        if (names == "--frames") frames = option;
        if (names == "--time") time = option;
        if (names == "--depth") depth = option;
    }
    depth->check(CLI::IsMember({8, 16, 32}).description(""));
    checkFileOptionForms(app);
    frame->excludes(frames)->excludes(time);
    frames->excludes(time);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        out << app.help();
        return {true, kExitOk};
    } catch (const CLI::CallForVersion &) {
        out << app.version() << "\n";
        return {true, kExitOk};
    } catch (const CLI::ParseError &e) {
        err << "veltrix-render: " << e.what() << "\n(veltrix-render --help lists the options)\n";
        return {true, kExitBadInput};
    }
    options.frameGiven = frame->count() > 0;
    options.framesGiven = frames->count() > 0;
    options.timeGiven = time->count() > 0;
    if (options.framesGiven) {
        std::string error;
        if (!parseFrameRange(options.frames, options.firstFrame, options.lastFrame, error)) {
            err << "veltrix-render: --frames " << options.frames << ": " << error << "\n";
            return {true, kExitBadInput};
        }
    }
    if (!options.listParams && options.scene.empty()) {
        err << "veltrix-render: no scene file given (veltrix-render SCENE.json [options]; "
               "--help lists the options)\n";
        return {true, kExitBadInput};
    }
    return {};
}

namespace {

// The plug-in a run loads by default. On Windows the program ships beside
// it, so that is where it is looked for, wherever the program is started.
std::string defaultPlugin() {
#ifdef _WIN32
    std::wstring program(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, program.data(), DWORD(program.size()));
    if (length > 0 && length < program.size()) {
        program.resize(length);
        const std::u8string path =
            (std::filesystem::path(program).parent_path() / VELTRIX_DEFAULT_PLUGIN).u8string();
        return std::string(path.begin(), path.end()); // UTF-8, as the plug-in loader takes it
    }
#endif
    return VELTRIX_DEFAULT_PLUGIN;
}

} // namespace

std::string pluginPath(const Options &options) {
    if (!options.plugin.empty()) return options.plugin;
    if (const char *env = std::getenv("VELTRIX_PLUGIN"); env && *env) return env;
    return defaultPlugin();
}

} // namespace veltrix_render
