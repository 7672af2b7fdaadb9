#include "headless/studio/StudioServer.h"

#include "headless/composition/SceneFile.h"
#include "headless/studio/FolderPath.h"

#include <httplib.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <set>
#include <sstream>

namespace veltrix_studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

void sendJson(httplib::Response &res, const json &body, int status = 200) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    // With a charset the HTTP library leaves the answer uncompressed: on the
    // loopback, compressing (brotli, at its slowest setting) cost a slider
    // move 100 ms and saved nothing.
    res.set_content(body.dump(), "application/json; charset=utf-8");
}

void sendError(httplib::Response &res, int status, const std::string &reason,
               const std::string &place = "") {
    json body = {{"error", reason}};
    if (!place.empty()) body["place"] = place;
    sendJson(res, body, status);
}

// The request's body as a JSON object, or null after answering 400.
bool bodyObject(const httplib::Request &req, httplib::Response &res, json &out) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        sendError(res, 400, "the request body is not a JSON object");
        return false;
    }
    return true;
}

// A whole number query parameter within [lo, hi]; `fallback` when absent.
bool intParam(const httplib::Request &req, const char *name, long lo, long hi, long fallback,
              long &out) {
    if (!req.has_param(name)) {
        out = fallback;
        return true;
    }
    const std::string text = req.get_param_value(name);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

bool timeParam(const httplib::Request &req, double &out) {
    out = 0.0;
    if (!req.has_param("t")) return true;
    const std::string text = req.get_param_value("t");
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out) &&
           out >= 0.0 && out <= 1.0e6;
}

const char *contentType(const std::string &name) {
    const std::string ext = fs::path(name).extension().string();
    if (ext == ".js") return "text/javascript";
    if (ext == ".css") return "text/css";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    return "text/html; charset=utf-8";
}

bool readFile(const std::string &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

// The image files of the folder and its folders (three levels, links to
// folders followed, 500 at most), by their paths relative to it: footage the
// page may add.
json imagesInFolder(const std::string &folder) {
    static const std::set<std::string> kImages = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".exr",
                                                  ".hdr", ".bmp", ".tga", ".ppm", ".pgm", ".pnm", ".webp"};
    std::vector<std::string> images;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::follow_directory_symlink |
                                                    fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator() && images.size() < 500; it.increment(ec)) {
        if (it.depth() >= 2) it.disable_recursion_pending();
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        std::error_code broken; // a dangling link is no image, and the listing goes on
        if (it->is_regular_file(broken) && kImages.count(ext))
            images.push_back(it->path().lexically_relative(folder).generic_string());
    }
    std::sort(images.begin(), images.end());
    return images;
}

} // namespace

StudioServer::StudioServer(const headless::Plugin &plugin, headless::ParamCatalog catalog,
                           std::unique_ptr<StudioSession> session, std::string webDir, int threads)
    : plugin_(plugin), catalog_(std::move(catalog)), folder_(session->folder()),
      webDir_(std::move(webDir)), threads_(threads), session_(std::move(session)),
      http_(std::make_unique<httplib::Server>()) {
    http_->set_payload_max_length(kMaxBody);
    http_->set_read_timeout(5, 0);
    http_->set_write_timeout(5, 0);
    http_->set_keep_alive_timeout(5);
    routes();
}

StudioServer::~StudioServer() {
    std::lock_guard<std::mutex> lock(jobMutex_);
    job_.reset(); // stops after the frame being rendered, before the session goes
}

int StudioServer::bind(int port) {
    port_ = port == 0 ? http_->bind_to_any_port("127.0.0.1")
                      : (http_->bind_to_port("127.0.0.1", port) ? port : -1);
    return port_;
}

bool StudioServer::listen() { return http_->listen_after_bind(); }

void StudioServer::stop() { http_->stop(); }

bool StudioServer::allowed(const std::string &host, const std::string &origin) const {
    const std::string port = std::to_string(port_);
    const bool hostOk = host == "127.0.0.1:" + port || host == "localhost:" + port;
    const bool originOk = origin.empty() || origin == "http://127.0.0.1:" + port ||
                          origin == "http://localhost:" + port;
    return hostOk && originOk;
}

void StudioServer::routes() {
    httplib::Server &http = *http_;
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (allowed(req.get_header_value("Host"), req.get_header_value("Origin")))
            return httplib::Server::HandlerResponse::Unhandled;
        sendError(res, 403, "refused: this server answers its own page only");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_exception_handler([](const httplib::Request &, httplib::Response &res,
                                  std::exception_ptr thrown) {
        std::string reason = "internal error";
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const std::bad_alloc &) {
            reason = "out of memory";
        } catch (const std::exception &e) {
            reason = e.what();
        } catch (...) {
        }
        sendError(res, 500, reason);
    });

    // The page's own files, by plain names from the web folder.
    const auto page = [this](const std::string &name, httplib::Response &res) {
        std::string body;
        if (!readFile((fs::path(webDir_) / name).string(), body))
            return sendError(res, 404, "no such file: " + name);
        res.set_header("Cache-Control", "no-store");
        res.set_content(body, contentType(name));
    };
    http.Get("/", [page](const httplib::Request &, httplib::Response &res) { page("index.html", res); });
    http.Get(R"(/web/([a-z0-9_-]{1,64}\.(js|css|html|png|svg)))",
             [page](const httplib::Request &req, httplib::Response &res) { page(req.matches[1], res); });

    http.Get("/api/state", [this](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        sendJson(res, session_->state());
    });
    http.Get("/api/scene", [this](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        sendJson(res, session_->document());
    });
    http.Get("/api/health", [this](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        sendJson(res, session_->health());
    });
    http.Post("/api/param", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        if (!body.contains("name") || !body["name"].is_string() || !body.contains("value"))
            return sendError(res, 400, "a parameter \"name\" (text) and a \"value\" are needed");
        std::lock_guard<std::mutex> lock(sessionMutex_);
        try {
            const bool live = body.contains("live") && body["live"].is_boolean() && body["live"].get<bool>();
            sendJson(res, session_->setParam(body["name"].get<std::string>(), body["value"], live));
        } catch (const EditError &e) {
            sendError(res, 422, e.reason(), e.place());
        }
    });
    http.Post("/api/reset", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        if (body.contains("name") && !body["name"].is_string())
            return sendError(res, 400, "\"name\" is the text of a parameter's name");
        std::lock_guard<std::mutex> lock(sessionMutex_);
        try {
            sendJson(res, session_->resetParams(body.value("name", std::string())));
        } catch (const EditError &e) {
            sendError(res, 422, e.reason(), e.place());
        }
    });
    http.Post("/api/edit", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        const bool remove = body.contains("remove") && body["remove"] == true;
        if (!body.contains("pointer") || !body["pointer"].is_string() || remove == body.contains("value"))
            return sendError(res, 400, "a \"pointer\" (text) and either a \"value\" or \"remove\": true are needed");
        std::lock_guard<std::mutex> lock(sessionMutex_);
        try {
            sendJson(res, session_->editDocument(body["pointer"].get<std::string>(), remove ? nullptr : &body["value"]));
        } catch (const EditError &e) {
            sendError(res, 422, e.reason(), e.place());
        }
    });
    for (const bool undo : {true, false}) {
        http.Post(undo ? "/api/undo" : "/api/redo", [this, undo](const httplib::Request &, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            try {
                sendJson(res, undo ? session_->undo() : session_->redo());
            } catch (const EditError &e) {
                sendError(res, 422, e.reason());
            }
        });
    }
    http.Get("/api/frame", [this](const httplib::Request &req, httplib::Response &res) {
        long revision = 0, depth = 8, downsample = 1;
        FrameRequest request;
        if (!intParam(req, "rev", 0, 1L << 40, 0, revision) ||
            !intParam(req, "depth", 8, 32, 8, depth) || (depth != 8 && depth != 16 && depth != 32) ||
            !intParam(req, "ds", 1, 64, 1, downsample) || !timeParam(req, request.time))
            return sendError(res, 400, "rev (a revision), depth (8, 16 or 32), ds (1 to 64) and "
                                       "t (seconds, 0 or more) are needed as plain numbers");
        request.revision = revision;
        request.depth = int(depth);
        request.downsample = int(downsample);
        Frame frame;
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            try {
                if (!session_->render(request, frame))
                    return sendError(res, 409, "stale: the scene changed since this frame was asked for");
            } catch (const veltrix_render::RenderError &e) {
                return sendError(res, 500, e.what());
            }
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Width", std::to_string(frame.width));
        res.set_header("X-Height", std::to_string(frame.height));
        res.set_header("X-Depth", std::to_string(frame.depth));
        res.set_header("X-Downsample", std::to_string(frame.downsample));
        res.set_header("X-Revision", std::to_string(frame.revision));
        res.set_header("X-Render-Ms", std::to_string(frame.renderMs));
        res.set_content(reinterpret_cast<const char *>(frame.rgba8.data()), frame.rgba8.size(),
                        "application/octet-stream");
    });
    http.Get("/api/files", [this](const httplib::Request &, httplib::Response &res) {
        json files = json::array();
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(folder_, ec))
            if (entry.is_regular_file(ec) && entry.path().extension() == ".json")
                files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        sendJson(res, {{"files", files}});
    });
    http.Get("/api/images", [this](const httplib::Request &, httplib::Response &res) {
        sendJson(res, {{"images", imagesInFolder(folder_)}});
    });
    http.Post("/api/save", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        if (!body.contains("path") || !body["path"].is_string())
            return sendError(res, 400, "a \"path\" (text) in the scene's folder is needed");
        const std::string relative = body["path"].get<std::string>();
        std::string path, error;
        if (!resolveInFolder(folder_, relative, path, error)) return sendError(res, 403, error);
        if (fs::path(path).extension() != ".json")
            return sendError(res, 400, "a scene file's name ends in .json");
        std::string text;
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            text = session_->document().dump(2) + "\n";
        }
        // Written beside it and renamed into place: a failed write leaves the old file.
        const std::string temporary = path + ".saving";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << text;
            if (!out.flush()) {
                std::error_code ec;
                fs::remove(temporary, ec);
                return sendError(res, 500, "cannot write " + relative);
            }
        }
        std::error_code ec;
        fs::rename(temporary, path, ec);
        if (ec) {
            fs::remove(temporary, ec);
            return sendError(res, 500, "cannot write " + relative);
        }
        sendJson(res, {{"saved", relative}});
    });
    http.Post("/api/open", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        if (!body.contains("path") || !body["path"].is_string())
            return sendError(res, 400, "a \"path\" (text) in the scene's folder is needed");
        std::string path, error;
        if (!resolveInFolder(folder_, body["path"].get<std::string>(), path, error))
            return sendError(res, 403, error);
        std::lock_guard<std::mutex> lock(sessionMutex_);
        try {
            // The open scene stays until the new one is set up, so that a
            // scene that fails to load loses nothing; commands of either go
            // through this lock only.
            auto next = std::make_unique<StudioSession>(plugin_, catalog_, path, threads_);
            session_ = std::move(next);
        } catch (const headless::SceneError &e) {
            return sendError(res, 422, e.reason(), e.place());
        } catch (const veltrix_render::RenderError &e) {
            return sendError(res, 500, e.what());
        }
        sendJson(res, session_->state());
    });
    renderRoutes();
}

void StudioServer::renderRoutes() {
    httplib::Server &http = *http_;
    http.Post("/api/render", [this](const httplib::Request &req, httplib::Response &res) {
        json body;
        if (!bodyObject(req, res, body)) return;
        std::lock_guard<std::mutex> jobLock(jobMutex_);
        if (job_ && job_->running())
            return sendError(res, 409, "a render is running: wait for it or cancel it");
        try {
            const RenderRequest request = renderRequestFrom(body);
            json document;
            std::string file;
            {
                std::lock_guard<std::mutex> lock(sessionMutex_);
                document = session_->document();
                file = session_->file();
            }
            job_.reset();
            job_ = std::make_unique<RenderJob>(plugin_, catalog_, document, file, folder_, request,
                                               sessionMutex_, threads_);
            job_->start();
            sendJson(res, job_->progress(), 202);
        } catch (const EditError &e) {
            sendError(res, 422, e.reason(), e.place());
        } catch (const PathRefused &e) {
            sendError(res, 403, e.what(), "output");
        }
    });
    http.Get("/api/render", [this](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> jobLock(jobMutex_);
        sendJson(res, job_ ? job_->progress() : json{{"state", "idle"}});
    });
    http.Post("/api/render/cancel", [this](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> jobLock(jobMutex_);
        if (!job_) return sendError(res, 409, "no render to cancel");
        job_->cancel();
        sendJson(res, job_->progress());
    });
}

} // namespace veltrix_studio
