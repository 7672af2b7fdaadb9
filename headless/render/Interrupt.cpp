// Signal handlers for a clean stop (see Interrupt.h). The handler may only
// use async-signal-safe calls: it stores the signal number, and on a second
// signal unlinks the pending temporary file and leaves with _Exit.
#include "headless/render/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define VELTRIX_UNLINK _unlink
#else
#include <unistd.h>
#define VELTRIX_UNLINK unlink
#endif

namespace veltrix_render {

namespace {

std::atomic<int> gSignal{0};
// The pending temporary file: written only while gPendingSet is false, so
// the handler never reads a half-written name.
char gPending[4096];
std::atomic<bool> gPendingSet{false};

using Handler = void (*)(int);
Handler gPreviousInt = SIG_DFL, gPreviousTerm = SIG_DFL;

extern "C" void onStopSignal(int signal) {
    int none = 0;
    if (gSignal.compare_exchange_strong(none, signal)) return; // the first: stop after this frame
    if (gPendingSet.load()) VELTRIX_UNLINK(gPending);
    std::_Exit(interruptedExitCode(signal));
}

} // namespace

// A signal the parent set to be ignored (a background job's SIGINT, nohup)
// stays ignored, as the parent meant.
Handler catchUnlessIgnored(int signal) {
    const Handler previous = std::signal(signal, onStopSignal);
    if (previous == SIG_IGN) std::signal(signal, SIG_IGN);
    return previous;
}

InterruptGuard::InterruptGuard() {
    gSignal = 0;
    gPreviousInt = catchUnlessIgnored(SIGINT);
    gPreviousTerm = catchUnlessIgnored(SIGTERM);
}

InterruptGuard::~InterruptGuard() {
    std::signal(SIGINT, gPreviousInt == SIG_ERR ? SIG_DFL : gPreviousInt);
    std::signal(SIGTERM, gPreviousTerm == SIG_ERR ? SIG_DFL : gPreviousTerm);
}

int interruptSignal() { return gSignal.load(); }

const char *signalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
    }
}

int interruptedExitCode(int signal) { return 128 + signal; }

void setPendingTemporary(const std::string &path) {
    gPendingSet = false;
    if (path.empty() || path.size() >= sizeof gPending) return;
    std::memcpy(gPending, path.c_str(), path.size() + 1);
    gPendingSet = true;
}

} // namespace veltrix_render
