#include "headless/render/Options.h"

#include <CLI/CLI.hpp>

#include <cstdio>
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
                            double Options::*, bool Options::*,
                            std::vector<std::string> Options::*>;

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
    {"--frame", "N", "render frame N (default: the composition's start frame)", &Options::frame,
     0, 1.0e9},
    {"--frames", "LIST",
     "render several frames, one file per frame: N, A-B (A to B inclusive), A-BxN (every N-th "
     "from A to B), or a comma-separated list of those, e.g. 1001-1100x4,1200",
     &Options::frames},
    {"--skip-existing", "", "leave frames whose output file exists (to resume a stopped range)",
     &Options::skipExisting},
    {"--time", "SECONDS", "render the frame at this composition time", &Options::time, 0, 1.0e6},
    {"--depth", "8|16|32",
     "bits per channel (default 8 for .png and .tif, 32 for .exr)", &Options::depth},
    {"--downsample", "N", "render at 1/N of the full size (N >= 1)", &Options::downsample, 1, 1024},
    {"--set", "NAME=VALUE",
     "for this run, set an effect parameter by its name (\"Rotation Y=90\", "
     "'Position XY=[10,20]') or a layer's setting as LAYER.key (\"Camera 1.zoom=900\"); the "
     "value is JSON, checked as in a scene file; repeatable",
     &Options::sets},
    {"--layer", "NAME", "render the effect of this layer (default: the first layer carrying it)",
     &Options::layer},
    {"--threads", "N", "render threads; 0 (the default) uses every processor", &Options::threads,
     0, 1024},
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
    {"--submit", "SCHEDULER",
     "render on a cluster instead of here: write a job script beside the outputs and submit it "
     "as an array job, one task per chunk of frames (slurm; docs/cluster.md)",
     &Options::submit},
    {"--chunk", "N",
     "with --submit: frames per task (default: about a minute of work, from one frame rendered "
     "here)",
     &Options::chunk, 1, 1.0e9},
    {"--partition", "NAME", "with --submit: the cluster partition to run in", &Options::partition},
    {"--slurm-arg", "ARG",
     "with --submit slurm: one more sbatch argument, as given (--slurm-arg=--time=01:00:00, "
     "--slurm-arg=--mem=8G replaces the measured request); repeatable",
     &Options::slurmArgs},
    {"--dry-run", "", "with --submit: print the job script and the submission, submit nothing",
     &Options::dryRun},
    {"--collect", "JOBID",
     "with the options a job was submitted with: report which of its frames are missing and why "
     "(exit 1 while any is)",
     &Options::collect},
    {"-q,--quiet", "", "print no progress", &Options::quiet},
    {"--stats", "", "print how long loading, rendering and writing took, in milliseconds",
     &Options::stats},
    {"--stats-json", "FILE",
     "write every stage's time (milliseconds) and each frame's peak memory (MiB) to FILE as JSON",
     &Options::statsJson},
    {"--list-params", "", "list the effect's parameters as the plug-in registers them and exit",
     &Options::listParams},
    {"--json", "", "with --list-params: print the parameters as JSON (name, type, group, "
                   "default, range, choices, unit)",
     &Options::json},
    {"--scene-schema", "", "print the JSON Schema of scene files (docs/scene.schema.json) and exit",
     &Options::sceneSchema},
};

// Checked before the range, so that "2.5" is not reported as out of range.
const CLI::Validator kWholeNumber(
    [](const std::string &text) -> std::string {
        const std::size_t digits = text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0);
        if (!text.empty() && digits == std::string::npos && text != "-") return {};
        return "must be a whole number, not " + text;
    },
    "");

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
                // A repeatable option takes one value each time it is given,
                // so a scene file after it is not taken for a second value.
                if constexpr (!std::is_arithmetic_v<Field> && !std::is_same_v<Field, std::string>)
                    option->allow_extra_args(false);
                if constexpr (std::is_integral_v<Field>) option->check(kWholeNumber);
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

// What goes with a cluster job, and what does not.
void checkClusterOptions(CLI::App &app) {
    CLI::Option *submit = app.get_option("--submit");
    submit->check(CLI::IsMember({"slurm"}).description(""));
    CLI::Option *collect = app.get_option("--collect");
    collect->excludes(submit)->check(
        CLI::Validator([](const std::string &id) -> std::string {
            if (!id.empty() && id.size() < 19 && id.find_first_not_of("0123456789") == std::string::npos)
                return {};
            return "must be a job id (a whole number), not " + id;
        }, ""));
}

// The long name of a row: "--output" of "-o,--output".
std::string longName(const OptionRow &row) {
    const std::string names = row.names;
    const std::size_t dashes = names.rfind("--");
    return dashes == std::string::npos ? names : names.substr(dashes);
}

// A number as text that reads back as the same number.
template <class Number> std::string exactText(Number value) {
    if constexpr (std::is_floating_point_v<Number>) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", double(value));
        return text;
    } else {
        return std::to_string(value);
    }
}

} // namespace

namespace {

// A frame number: up to 9 digits, so that no sum of them overflows.
bool wholeNumber(const std::string &text, long &value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stol(text);
    return true;
}

bool parseFrameSpan(const std::string &item, FrameSpan &span, std::string &error) {
    std::string range = item;
    if (const std::size_t x = item.find('x'); x != std::string::npos) {
        range = item.substr(0, x);
        if (!wholeNumber(item.substr(x + 1), span.step) || span.step < 1) {
            error = "\"" + item + "\": the step after x must be a whole number of at least 1";
            return false;
        }
        if (range.find('-') == std::string::npos) {
            error = "\"" + item + "\": a step needs a range, e.g. 0-100x" + item.substr(x + 1);
            return false;
        }
    }
    const std::size_t dash = range.find('-');
    const bool ok = dash == std::string::npos
                        ? wholeNumber(range, span.first) && wholeNumber(range, span.last)
                        : wholeNumber(range.substr(0, dash), span.first) &&
                              wholeNumber(range.substr(dash + 1), span.last);
    if (!ok) {
        error = "\"" + item + "\": expected N, A-B or A-BxN with whole frame numbers, e.g. 0-59";
        return false;
    }
    if (span.first > span.last) {
        error = "\"" + item + "\": the first frame " + std::to_string(span.first) +
                " comes after the last " + std::to_string(span.last);
        return false;
    }
    return true;
}

} // namespace

bool parseFrameList(const std::string &text, std::vector<FrameSpan> &spans, std::string &error) {
    spans.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        FrameSpan span;
        if (item.empty()) {
            error = "an empty item in the list (two commas, or one at an end)";
            return false;
        }
        if (!parseFrameSpan(item, span, error)) return false;
        spans.push_back(span);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
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
    checkClusterOptions(app);
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
    // The job's options also go with --collect, which passes them on to the
    // re-submission it prints.
    if (options.submit.empty() && options.collect.empty())
        for (const char *name : {"--chunk", "--partition", "--slurm-arg", "--dry-run"})
            if (app.get_option(name)->count() > 0) {
                err << "veltrix-render: " << name << " goes with --submit (or --collect)\n";
                return {true, kExitBadInput};
            }
    options.frameGiven = frame->count() > 0;
    options.framesGiven = frames->count() > 0;
    options.timeGiven = time->count() > 0;
    if (options.framesGiven) {
        std::string error;
        if (!parseFrameList(options.frames, options.frameSpans, error)) {
            err << "veltrix-render: --frames " << options.frames << ": " << error << "\n";
            return {true, kExitBadInput};
        }
    }
    if (!options.listParams && !options.sceneSchema && options.scene.empty()) {
        err << "veltrix-render: no scene file given (veltrix-render SCENE.json [options]; "
               "--help lists the options)\n";
        return {true, kExitBadInput};
    }
    return {};
}

std::vector<std::string> optionArguments(const Options &options,
                                         bool (*keep)(const std::string &longName)) {
    // The scene as a path that cannot be taken for an option.
    std::vector<std::string> args{options.scene.rfind('-', 0) == 0 ? "./" + options.scene
                                                                   : options.scene};
    const Options defaults;
    for (const OptionRow &row : kOptions) {
        const std::string name = longName(row);
        if (name == "scene" || !keep(name)) continue;
        std::visit(
            [&](auto member) {
                const auto &value = options.*member;
                if (value == defaults.*member) return;
                using Field = std::remove_cv_t<std::remove_reference_t<decltype(value)>>;
                // "--name=value": one argument, even for a value that starts with '-'.
                if constexpr (std::is_same_v<Field, bool>)
                    args.push_back(name);
                else if constexpr (std::is_arithmetic_v<Field>)
                    args.push_back(name + "=" + exactText(value));
                else if constexpr (std::is_same_v<Field, std::string>)
                    args.push_back(name + "=" + value);
                else
                    for (const std::string &item : value) args.push_back(name + "=" + item);
            },
            row.target);
    }
    return args;
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
