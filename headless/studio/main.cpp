// veltrix-studio: serves the studio page for one scene on 127.0.0.1.
//
//   veltrix-studio SCENE.json [--port N] [--plugin PATH] [--web DIR] [--threads N]
//
// Prints the page's address on the first line of stdout once it listens;
// SIGINT or SIGTERM ends it cleanly (the effect set down, the ledger checked).
//
// Thread safety: main() owns the server; one thread waits for the signals.

#include "headless/boundary/Plugin.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/Options.h"
#include "headless/studio/StudioServer.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

constexpr const char *kUsage =
    "usage: veltrix-studio SCENE.json [--port N] [--plugin PATH] [--web DIR] [--threads N]\n";

struct StudioOptions {
    std::string scene;
    std::string plugin;
    std::string web = VELTRIX_STUDIO_WEB_DIR;
    int port = 0;
    int threads = 0;
};

bool wholeNumber(const std::string &text, int lo, int hi, int &out) {
    try {
        std::size_t used = 0;
        const long value = std::stol(text, &used);
        if (used != text.size() || value < lo || value > hi) return false;
        out = int(value);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool parseArgs(int argc, char **argv, StudioOptions &options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            if (!wholeNumber(argv[++i], 0, 65535, options.port)) return false;
        } else if (arg == "--threads" && hasValue) {
            if (!wholeNumber(argv[++i], 0, 256, options.threads)) return false;
        } else if (arg == "--plugin" && hasValue) {
            options.plugin = argv[++i];
        } else if (arg == "--web" && hasValue) {
            options.web = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && options.scene.empty()) {
            options.scene = arg;
        } else {
            return false;
        }
    }
    return !options.scene.empty();
}

} // namespace

int main(int argc, char **argv) {
    StudioOptions options;
    if (!parseArgs(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    // The signals are taken by one thread (sigwait) rather than a handler,
    // which could not stop the server safely.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    veltrix_render::Options renderOptions;
    renderOptions.plugin = options.plugin;
    std::string loadError;
    auto plugin = headless::Plugin::tryLoad(veltrix_render::pluginPath(renderOptions), loadError);
    if (!plugin) {
        std::cerr << "veltrix-studio: cannot load the plug-in: " << loadError << "\n";
        return 1;
    }
    try {
        headless::ParamCatalog catalog = veltrix_render::readParamCatalog(*plugin);
        auto session = std::make_unique<veltrix_studio::StudioSession>(*plugin, catalog,
                                                                       options.scene, options.threads);
        veltrix_studio::StudioServer server(*plugin, std::move(catalog), std::move(session),
                                            options.web, options.threads);
        const int port = server.bind(options.port);
        if (port < 0) {
            std::cerr << "veltrix-studio: cannot listen on 127.0.0.1:" << options.port << "\n";
            return 1;
        }
        std::thread waiter([&server, signals] {
            int received = 0;
            sigwait(&signals, &received);
            server.stop();
        });
        std::cout << "http://127.0.0.1:" << port << "/" << std::endl;
        const bool listened = server.listen();
        if (!listened) std::cerr << "veltrix-studio: the server stopped with an error\n";
        // Wake the waiter when the server ended without a signal.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        return listened ? 0 : 1;
    } catch (const headless::SceneError &e) {
        std::cerr << "veltrix-studio: " << e.what() << "\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "veltrix-studio: " << e.what() << "\n";
        return 1;
    }
}
