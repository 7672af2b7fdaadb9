// Stopping a run cleanly when it is asked to stop (Ctrl-C, a render farm's
// SIGTERM): the first SIGINT or SIGTERM is noted, the frame being rendered
// is finished and written, and the run then ends, leaving every finished
// frame in place and no temporary file. A second signal ends the process at
// once, removing the temporary file being written, if any, first.
//
// Thread safety: the handler only touches lock-free atomics and a fixed
// buffer; set and clear the pending temporary file from the thread that
// writes frames.
#pragma once

#include <string>

namespace veltrix_render {

// Installs the handlers for its lifetime; the previous ones come back after.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;
};

// The signal that asked the run to stop; 0 while none has.
int interruptSignal();

// "SIGINT", "SIGTERM".
const char *signalName(int signal);

// The exit code of a run stopped by `signal`: 128 + its number, as shells
// report it (130 for SIGINT, 143 for SIGTERM).
int interruptedExitCode(int signal);

// The temporary file being written now, for a second signal to remove;
// empty to clear. Paths longer than the handler's buffer are not kept.
void setPendingTemporary(const std::string &path);

} // namespace veltrix_render
