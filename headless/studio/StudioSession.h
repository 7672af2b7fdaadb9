// One scene open in the studio: its document (the scene file's JSON, as the
// page edits it), the plug-in's parameter catalogue and the one effect
// instance that renders it (veltrix-render's FrameRenderer).
//
// Every edit changes a copy of the document, which is read again by the scene
// loader - the same checks and messages as veltrix-render - and only then
// takes the place of the old one and reaches the effect: parameter tracks
// (the composition too when anything but effect parameters changed), then the
// commands a host sends after a change: the changed-parameter command for
// each changed parameter that asks for it, then the UI update. The panel
// shows the plug-in's answer (greyed and hidden controls, expressions).
//
// Thread safety: every member may be called from any thread; one mutex puts
// edits, frames and reads in a line, so commands reach the plug-in one at a
// time, as the effect requires.
#pragma once

#include "headless/render/FrameRenderer.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltrix_studio {

// An edit the scene loader refused: the place in the document and the reason.
class EditError : public std::runtime_error {
public:
    EditError(std::string place, std::string reason)
        : std::runtime_error(place + ": " + reason), place_(std::move(place)),
          reason_(std::move(reason)) {}
    const std::string &place() const { return place_; }
    const std::string &reason() const { return reason_; }

private:
    std::string place_, reason_;
};

// What the page asks to see.
struct FrameRequest {
    long revision = 0; // the document revision the page shows; another one is stale
    int depth = 8;
    int downsample = 1;
    double time = 0.0; // composition seconds
};

// A rendered frame as the page draws it: straight RGBA, 8 bits a sample.
struct Frame {
    int width = 0, height = 0, depth = 8, downsample = 1;
    long revision = 0;
    double renderMs = 0.0;
    std::vector<std::uint8_t> rgba8;
};

class StudioSession {
public:
    // Opens the scene file at `path`; throws headless::SceneError or
    // veltrix_render::RenderError.
    StudioSession(const headless::Plugin &plugin, headless::ParamCatalog catalog,
                  const std::string &path, int threads);
    ~StudioSession();

    // The scene's folder: the only place the studio reads files from.
    const std::string &folder() const { return folder_; }
    // The scene file's path (as opened).
    const std::string &file() const { return file_; }

    // Catalogue, values, the plug-in's UI state, layers, revision.
    nlohmann::json state();
    // The document as it stands (the scene format).
    nlohmann::json document();

    // Sets parameter `name` to `value` (the scene format's value: a plain
    // value or keyframes); throws EditError. A `live` value (a control being
    // dragged) joins the undo step of the live values of the same parameter
    // just before it. Returns the new state.
    nlohmann::json setParam(const std::string &name, const nlohmann::json &value, bool live = false);
    // Back to the default: one parameter, or every one when `name` is empty.
    nlohmann::json resetParams(const std::string &name);
    // Sets (`value`) or removes (null) what JSON pointer `pointer` names in the
    // document: a layer, a transform value, a camera or light setting ("-"
    // as the last array index appends). Objects on the way are made for a
    // set; array indices must exist. Throws EditError.
    nlohmann::json editDocument(const std::string &pointer, const nlohmann::json *value);
    // Takes back the last edit, or makes it again; EditError when there is none.
    nlohmann::json undo();
    nlohmann::json redo();

    // Renders the frame the page asks for; false (and nothing rendered) when
    // the request is for a revision that is no longer current. Throws
    // veltrix_render::RenderError.
    bool render(const FrameRequest &request, Frame &out);

    // Whether the ledger is clean between commands: no problem recorded, and
    // the effect holds what it held once set up (its global data) and nothing
    // more; with the ledger's words.
    nlohmann::json health();

private:
    nlohmann::json &effectParams(nlohmann::json &doc);
    // Loads `doc` with the scene loader and hands it to the effect.
    void commit(nlohmann::json doc);
    // Undo and redo: the document on top of `from` becomes current, the
    // current one goes onto `to`. Throws EditError("", nothing) when empty.
    nlohmann::json travel(std::vector<nlohmann::json> &from, std::vector<nlohmann::json> &to,
                          const char *nothing);
    // commit() as an edit that can be undone.
    void edit(nlohmann::json doc, const std::string &liveParam);
    void sendChanges(const nlohmann::json &before, const nlohmann::json &after);
    nlohmann::json stateLocked();
    nlohmann::json catalogJson() const;
    nlohmann::json defaultValue(const headless::ParamInfo &info) const;
    headless::ImageReader cachedReader();

    std::mutex mutex_;
    headless::ParamCatalog catalog_;
    std::string file_, folder_;
    std::string displaySpace_; // what the page draws: sRGB, as the colour configuration names it
    nlohmann::json doc_;
    std::string compositionKey_; // the document without effect parameters
    std::vector<std::string> layerNames_;
    long revision_;
    std::map<std::string, long> settled_; // the ledger's counters once set up
    // Documents before each edit (undo) and after each undone one (redo).
    static constexpr std::size_t kHistory = 500;
    std::vector<nlohmann::json> undo_, redo_;
    std::string liveParam_; // the parameter whose live values the last undo step holds
    std::unique_ptr<veltrix_render::FrameRenderer> renderer_;
    // Footage read once per file and modification time: an edit reads the
    // whole document again, its images need not be.
    struct CachedImage {
        std::int64_t stamp = 0;
        headless::FootageSource image;
    };
    std::map<std::string, CachedImage> images_;
};

} // namespace veltrix_studio
