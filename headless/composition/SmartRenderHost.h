// The host's side of the smart-render protocol, and the one call that renders
// a frame of the effect:
//
//     headless::Host host(plugin);
//     headless::EffectInstance effect(host, comp, 0);
//     host.globalSetup(); host.paramsSetup();
//     headless::RenderResult frame = headless::renderFrame(effect, 0.5, 32, 2);
//     if (frame.ok()) ... frame.pixel(x, y) ...
//
// A frame is two commands, as the host sends them:
//   - PF_Cmd_SMART_PRE_RENDER with a PF_PreRenderExtra: the output request
//     covers the whole output, the output rectangles start empty, and the
//     effect may call checkout_layer for any layer parameter. A checkout
//     answers with the chosen layer's rectangle at the render's downsample
//     ({0, 0, ceil(w * sx), ceil(h * sy)} for a w x h source; empty when no
//     layer with pixels is chosen) as both result and maximum result, and is
//     remembered under its checkout id until the frame ends.
//   - PF_Cmd_SMART_RENDER with a PF_SmartRenderExtra, sent only when
//     pre-render succeeded: checkout_layer_pixels hands out the pixels of a
//     layer checked out in pre-render (the layer's source image, at the
//     render's depth and downsample, as a layer parameter checkout gives it,
//     CompositionEffect.h); checkin_layer_pixels gives them back early;
//     checkout_output hands out the output world: the render's depth, the
//     size of the effect layer's source at the downsample, filled with
//     garbage (HostWorld.h), so a pixel the effect does not write shows.
//     Asking again for the same pixels or the output returns the same world.
// What the effect checked out stays valid until the frame ends; then the
// host takes it all back (the effect never has to check anything in).
//
// Ledger: Ledger::kLayerCheckouts counts layer pixels handed out and not yet
// taken back, kOutputCheckouts the output. Both are zero again when a frame
// has ended. Misuse (a checkout outside its command, an unknown or repeated
// checkout id, a parameter that is not a layer) is a problem in the ledger
// and PF_Err_BAD_CALLBACK_PARAM.
//
// Faults: service::kCheckoutLayer, kCheckoutLayerPixels and kCheckoutOutput
// fail the matching callback with the armed error, handing out nothing.
//
// Thread safety: a SmartRenderHost belongs to the thread that drives its
// Host; one frame per Host at a time. The callbacks may come from any thread
// while the frame's commands run.
#pragma once

#include "headless/images/HostWorld.h"
#include "headless/SdkHeaders.h"
#include "headless/boundary/Worlds.h"

#include <map>
#include <memory>
#include <string_view>

namespace headless {

class EffectInstance;
class Host;

// One rendered frame.
struct RenderResult {
    // The pre-render's error if it failed (smart render is then not sent),
    // else the smart render's; PF_Err_BAD_CALLBACK_PARAM for settings the
    // host cannot render (then no command is sent).
    PF_Err err = PF_Err_NONE;
    bool smartRenderSent = false;
    // The effect's output rectangles after pre-render.
    PF_LRect resultRect{};
    PF_LRect maxResultRect{};
    // The output world the effect checked out (null when it checked out
    // none), as the effect left it.
    std::unique_ptr<HostWorld> output;

    bool ok() const { return err == PF_Err_NONE && output != nullptr; }
    // Output pixel (x, y) in float (8 bits / 255, 16 bits / 32768);
    // transparent black outside the output or without one.
    PF_PixelFloat pixel(A_long x, A_long y) const;
};

// Renders the effect of `effect`'s layer at composition second `compTime`,
// in `depth` bits per channel (8, 16 or 32) at a downsample of 1/`downsample`
// in both directions (downsample >= 1). Moves the host's current time, the
// render depth and the downsample to these settings and leaves them there.
RenderResult renderFrame(EffectInstance &effect, double compTime, int depth, int downsample);

// One frame of the protocol, command by command, for callers that need to
// look between the commands or hand the effect their own rectangles.
class SmartRenderHost {
public:
    // Ledger counter of output worlds handed to the effect in this frame.
    static constexpr std::string_view kOutputCheckouts = "output checkouts";

    // A frame of `effect` at `depth` (8, 16 or 32) bits per channel; the
    // time and downsample are the host's current ones. Sets the depth at
    // which layer parameters are checked out. std::invalid_argument for
    // another depth or when the host already renders a frame.
    SmartRenderHost(EffectInstance &effect, int depth);
    // Ends the frame (endFrame).
    ~SmartRenderHost();
    SmartRenderHost(const SmartRenderHost &) = delete;
    SmartRenderHost &operator=(const SmartRenderHost &) = delete;

    // The request for the whole output: {0, 0, width, height}, all channels.
    PF_RenderRequest fullRequest() const;
    // Sends PF_Cmd_SMART_PRE_RENDER with `request` and `output` as the
    // effect's output record (which the effect updates).
    PF_Err preRender(const PF_RenderRequest &request, PF_PreRenderOutput &output);
    // Sends PF_Cmd_SMART_RENDER for the request and pre-render data of the
    // last preRender.
    PF_Err smartRender();

    // The output world, once the effect has checked it out; null before.
    const HostWorld *output() const { return output_.get(); }
    // Ends the frame and takes the output world from it (null when the
    // effect checked out none).
    std::unique_ptr<HostWorld> takeOutput();

    // Takes back everything the effect checked out and deletes its
    // pre-render data. Idempotent.
    void endFrame();

    // Output size: the effect layer's source at the host's downsample.
    A_long outputWidth() const { return width_; }
    A_long outputHeight() const { return height_; }

    // The frame the host with effect reference `ref` is rendering, or null.
    static SmartRenderHost *of(PF_ProgPtr ref);

private:
    struct LayerCheckout {
        PF_ParamIndex index;
        A_long time;
        A_long timeStep;
        A_u_long timeScale;
        std::unique_ptr<PF_ParamDef> pixels; // once checked out in smart render
    };

    friend struct SmartRenderCallbacks;
    PF_Err checkoutLayer(PF_ParamIndex index, A_long id, const PF_RenderRequest *request,
                         A_long time, A_long timeStep, A_u_long timeScale,
                         PF_CheckoutResult *result);
    PF_Err checkoutLayerPixels(A_long id, PF_EffectWorld **pixels);
    PF_Err checkinLayerPixels(A_long id);
    PF_Err checkoutOutput(PF_EffectWorld **output);
    // Whether the host is inside `cmd`; a problem of `callback` otherwise.
    bool inCommand(PF_Cmd cmd, const char *callback);
    void returnPixels(LayerCheckout &checkout);
    PF_Err misuse(const std::string &text);

    EffectInstance &effect_;
    Host &host_;
    PixelDepth depth_;
    A_long width_ = 0;
    A_long height_ = 0;

    PF_RenderRequest request_{};
    void *preRenderData_ = nullptr;
    PF_DeletePreRenderDataFunc deletePreRenderData_ = nullptr;
    std::map<A_long, LayerCheckout> checkouts_;

    std::unique_ptr<HostWorld> output_;
    PF_EffectWorld outputDesc_{};
    Worlds::Publication outputPublication_;
    bool outputHeld_ = false;
    bool ended_ = false; // endFrame ran (the effect instance heard of it once)
};

} // namespace headless
