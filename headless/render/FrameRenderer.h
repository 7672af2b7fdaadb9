// Renders frames of one scene effect through the loaded plug-in, the way the
// host would: one headless Host with the scene's composition, the effect on
// its layer with the scene's parameter tracks, global and parameter set-up
// once, then a smart render per frame at the requested depth and downsample.
//
// Only one Host runs commands at a time in a process: the effect keeps its
// command context in process-wide state and declares itself unsafe for
// concurrent commands, so frames of a range render one after another (each
// frame uses every render thread).
//
// Thread safety: a FrameRenderer belongs to one thread.
#pragma once

#include "headless/boundary/Host.h"
#include "headless/boundary/ParamCatalog.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/ImageIO.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace headless {
class Host;
class EffectInstance;
class Plugin;
} // namespace headless

namespace veltrix_render {

// The plug-in failed to set up or render (exit code 1).
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The plug-in's parameters as it registers them (a Host of its own runs
// global set-up, parameter set-up and set-down). Throws RenderError.
headless::ParamCatalog readParamCatalog(const headless::Plugin &plugin);

// The host's output buffer as a file image: ARGB to RGBA; 8-bit and float
// samples unchanged; 16-bit samples scaled by fileSample16. `bits` is the
// buffer's depth (8, 16, 32).
Image imageFromWorld(const PF_LayerDef &world, int bits);

class FrameRenderer {
public:
    // Sets up the effect of `effect` (a layer of `composition`); throws
    // RenderError. The composition is taken, not copied: its footage pixels
    // may be the largest thing a render holds.
    FrameRenderer(const headless::Plugin &plugin, headless::Composition composition,
                  const headless::SceneEffect &effect, int threads, int depth, int downsample);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer &) = delete;
    FrameRenderer &operator=(const FrameRenderer &) = delete;

    // Whether another frame follows the one rendered: the layer pixels a
    // frame checked out are kept for the next (a still texture is made once
    // for a whole sequence), and after the last they go before its output is
    // copied into the file image, so that a still holds the output, its
    // copy or the layers, not all three.
    enum class NextFrame { Follows, None };

    // The effect's output at composition time `t`. When the effect's layer is
    // not visible then (outside its in and out points, or switched off) the
    // frame is transparent, as the composition shows it. Throws RenderError.
    Image render(double t, NextFrame next = NextFrame::Follows);

    // The host's record of the smart render the last render() sent (its time
    // and the times of its pixel passes); null when that call sent none.
    const headless::CommandRecord *lastSmartRender() const;

    // Later frames at `depth` bits per channel (8, 16, 32) and 1/`downsample`
    // of the full size (values below 1 mean 1).
    void setOutput(int depth, int downsample);
    int depth() const { return depth_; }
    int downsample() const { return downsample_; }

    // The effect instance the frames come from, for a caller that changes its
    // parameters or composition between frames, or sends it the host's other
    // commands (on the thread that renders).
    headless::EffectInstance &effect() { return *effect_; }

    // Runs the plug-in's global set-down now (the destructor then does not)
    // and returns the host's ledger as it stands after it: what the effect
    // still holds from the host and any misuse, "ledger empty" when nothing.
    // No frame renders afterwards.
    std::string setDown();

    // Size of a frame: the layer's size divided by the downsample, rounded up.
    int width() const { return width_; }
    int height() const { return height_; }
    // The composition the frames are rendered in.
    const headless::Composition &composition() const;

private:
    std::unique_ptr<headless::Host> host_;
    std::unique_ptr<headless::EffectInstance> effect_;
    int depth_;
    int downsample_;
    int width_ = 0, height_ = 0;
    bool setUp_ = false;
    bool rendered_ = false; // the last render() sent the smart render
};

} // namespace veltrix_render
