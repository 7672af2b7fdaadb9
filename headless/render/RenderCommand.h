// The work of one veltrix-render run once its options are parsed: load the
// plug-in, read its parameters, load and check the scene, plan and check the
// outputs, then render and write each frame.
//
// Everything that can be checked before rendering is: a bad scene or option
// ends the run with kExitBadInput before the first frame, so nothing is
// written. A failure while rendering or writing ends it with kExitFailed;
// frames finished before it stay written (each file is complete), and the
// file being written is left as it was. SIGINT or SIGTERM ends it after the
// frame being rendered is written (Interrupt.h), with 128 + the signal's
// number (130, 143) and a line saying which frame it stopped at.
//
// Thread safety: one run at a time per process (see FrameRenderer.h).
#pragma once

#include "headless/render/FileDescription.h"
#include "headless/render/FramePlan.h"
#include "headless/render/FrameRenderer.h"
#include "headless/render/Options.h"

#include <iosfwd>

namespace veltrix_render {

// Runs the render that `options` asks for. Results and statistics go to
// `out`; progress and messages to `err` (a terminal when `errIsTerminal`).
// Returns the exit code.
int runRender(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

// The two steps of writing one frame, shared with the studio's renders to
// files so that both write the same files: what the file of `job` says (the
// run's description, the frame's number, time and camera; needs the renderer,
// so on its thread), then the frame converted into the file's colour space and
// written whole (any thread). False with the reason in `error`.
WriteSettings frameSettings(const FileDescription &files, const FrameRenderer &renderer,
                            const FrameJob &job, bool useCompositionCamera);
bool writeFrame(Image image, const FrameJob &job, const FileDescription &files,
                const WriteSettings &settings, std::string &error);

} // namespace veltrix_render
