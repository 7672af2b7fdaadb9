// The studio's HTTP server: the page's files and its JSON API over one open
// scene, on the loopback interface only.
//
// Safe by default:
//   - it binds 127.0.0.1 and nothing else;
//   - a request whose Host is not this server's own address (127.0.0.1 or
//     localhost with its port), or that carries an Origin other than the
//     server's own, is refused with 403 before any route runs, so a page
//     elsewhere cannot drive it, not even through a name that it points at
//     127.0.0.1 (DNS rebinding);
//   - request bodies are limited (kMaxBody) and must be JSON objects; values
//     go through the scene loader's checks, and its message comes back;
//   - files are read from the scene's folder only (FolderPath.h), the page's
//     own files from the web folder by plain names;
//   - every route catches what is thrown: a bad request gets a 4xx answer,
//     the server goes on.
//
// API (JSON unless noted):
//   GET  /api/state                       catalogue, values, the plug-in's UI state
//   GET  /api/scene                       the document (the scene format)
//   POST /api/param  {"name", "value", "live"?}  sets a parameter -> state, or 422 {place, error}
//   POST /api/reset  {"name"?}            one parameter or all  -> state
//   POST /api/edit   {"pointer", "value" | "remove": true}  sets or removes a place of the
//                                         document (layers, transforms, cameras, lights) -> state
//   POST /api/undo, /api/redo             the last edit taken back or made again -> state
//   GET  /api/frame?rev=&depth=&ds=&t=    raw RGBA8 (X-Width, X-Height, X-Depth,
//                                         X-Downsample, X-Revision, X-Render-Ms); 409 stale
//   GET  /api/files                       the scene files (.json) of the folder
//   GET  /api/images                      its image files (and its folders'), for footage
//   POST /api/open   {"path"}             opens one of them in place of the current scene
//   POST /api/save   {"path"}             writes the document there (.json, in the folder)
//   GET  /api/health                      {"ledgerClean", "ledger", "revision"}
//   POST /api/render {"output"?, "frames"?, "depth"?, "downsample"?, "overwrite"?, "alpha"?,
//                     "colorspace"?, "half"?, "compression"?}
//                                         renders frames of the document as it stands to
//                                         files in the scene's folder, as veltrix-render
//                                         does (RenderJob.h) -> 202 progress; 409 while one
//                                         runs, 422 {place, error}, 403 outside the folder
//   GET  /api/render                      the last render's progress ({"state": "idle"} before)
//   POST /api/render/cancel               stops it after the frame being rendered -> progress
//
// Thread safety: the HTTP library answers on a pool of threads; everything
// that reaches the plug-in goes through one mutex (one command at a time,
// one scene's effect instance at a time).
#pragma once

#include "headless/boundary/ParamCatalog.h"
#include "headless/studio/RenderJob.h"
#include "headless/studio/StudioSession.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace veltrix_studio {

class StudioServer {
public:
    static constexpr std::size_t kMaxBody = 64 * 1024;

    StudioServer(const headless::Plugin &plugin, headless::ParamCatalog catalog,
                 std::unique_ptr<StudioSession> session, std::string webDir, int threads);
    ~StudioServer();

    // Binds 127.0.0.1:`port` (0: a free port); returns the port, or -1.
    int bind(int port);
    // Answers requests until stop(); false when listening failed.
    bool listen();
    void stop();

private:
    void routes();
    void renderRoutes();
    bool allowed(const std::string &host, const std::string &origin) const;

    const headless::Plugin &plugin_;
    headless::ParamCatalog catalog_;
    std::string folder_; // the first scene's folder: every file the page names is in it
    std::string webDir_;
    int threads_;
    int port_ = -1;
    std::mutex sessionMutex_; // guards session_ and every use of it
    std::unique_ptr<StudioSession> session_;
    std::unique_ptr<httplib::Server> http_;
    // The render to files; its thread takes sessionMutex_ for each frame, so
    // it is never replaced or destroyed while sessionMutex_ is held.
    std::mutex jobMutex_;
    std::unique_ptr<RenderJob> job_;
};

} // namespace veltrix_studio
