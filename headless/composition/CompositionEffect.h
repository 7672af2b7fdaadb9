// The effect's place in a composition: which layer carries it, how its time
// relates to composition time, which camera it sees, and the values its
// parameters take over time. An EffectInstance joins a Host and a Composition:
//
//     headless::Host host(plugin);
//     headless::Composition comp = ...;            // see Composition.h
//     headless::EffectInstance effect(host, comp, 2); // layer 2 carries the effect
//     host.globalSetup(); host.paramsSetup();
//     effect.param(PARAM_RADIUS_SCALE).keys = {{0.0, {100}}, {1.0, {200}}};
//     effect.chooseLayer(PARAM_TEXTURE, 0);
//     effect.setCompTime(0.5);
//
// While it lives, the instance
//   - serves the AEGP suites the effect's wrappers acquire and "PF Param Utils
//     Suite" 2 (AegpSuites.h), on this host;
//   - is the host's parameter value source: checkouts return each parameter's
//     value at the requested time (below);
//   - before every command the host sends, writes the values at the host's
//     current time into the parameter records handed to the entry point
//     (`publishParams`), layer parameters carrying the chosen layer's
//     AEGP_LayerH in their first pointer field, and keeps in_data's layer size
//     and pixel aspect ratio equal to the effect layer's source.
// It must be destroyed before its Host. Construct it after the Host, change
// the model only while no command runs.
//
// Time. The effect's time is its layer's time, which starts at the layer's
// in point: effect time e (what_time / time_scale seconds) is composition
// time e + inPoint. The constructor sets in_data's time scale to the
// composition's (compositionTimeScale), one frame per time step, and the
// current time to the layer's start.
//
// Parameter values. Each parameter may have a track (`param(index)`): a
// ParamValue, plain or keyframed over composition seconds. Without a track a
// checkout returns the host's stored record as it stands (its default, or what
// a test stored there) - except for points and layers, below. Track values by
// parameter type (the four numbers of a ParamValue, unused ones ignored):
//   slider          [0] the integer value                       linear, rounded
//   fixed slider    [0] the value (raw 16.16 = value * 65536)     linear
//   float slider    [0] the value                                linear
//   angle           [0] degrees (raw 16.16)                       linear
//   colour          [0..3] alpha, red, green, blue, 0..255        linear, rounded
//   point           [0], [1] x, y in full-resolution layer pixels linear
//   checkbox        [0] 0 off, anything else on                   hold
//   popup           [0] the 1-based choice                        hold
//   layer           [0] the layer index, -1 for none              hold
// Points: without a track a point sits at its default, which is a percentage
// of the effect layer's source size (x_dephault, y_dephault in 16.16
// percent); the stored x_value and y_value are never read, since the host
// rewrites them for the current downsample. The effect receives points in
// downsampled layer pixels: raw 16.16 = value * downsample * 65536.
// Publishing writes a tracked parameter's current value into its stored
// record; dropping the track later leaves that last value there.
// Layers: without a track, parameter 0 (the input) is the effect's own layer,
// and any layer parameter whose default is PF_LayerDefault_MYSELF too; all
// others are "none". A checked-out layer parameter holds the chosen layer's
// source image (its own pixels at its own size, without its transform, also
// when its video switch is off) scaled by the in_data downsample and stored at
// the render depth (setRenderDepth), with `reserved0` the layer's
// AEGP_LayerH; with no layer chosen (or a camera or light chosen) every field
// is zero but the default, and `reserved0` is null. The pixels stay valid
// until the parameter is checked in; the ledger counts them as
// kLayerParamPixels. Checkouts of the same layer at the same depth and
// downsample while one is out share one read-only copy of its pixels (the
// effect's parameter readers check out the input layer beside the input
// checkout itself). Layer pixels do not change with time here, so the host
// keeps the copies a frame used, with their area tables, for the next frame
// (as a host's image cache would): after the frame ends, what that frame did
// not use goes; editComposition() lets every kept copy go, since the layers
// may change.
//
// Expressions. AEGP_SetExpression stores the text on the parameter's stream
// (the empty text removes it); the host keeps it for tests to read and does
// not evaluate it.
//
// Thread safety: set-up members (constructor, editComposition(), param(),
// setEffectLayer, setRenderDepth, setDownsample, setCompTime) belong to the
// thread that drives the host, while no command runs. The members the host's
// callbacks reach (checkouts, handles, expressions, flags, counters) may be
// called from any thread.
#pragma once

#include "headless/composition/AegpHandles.h"
#include "headless/composition/Composition.h"
#include "headless/composition/CompositionPixels.h"
#include "headless/SdkHeaders.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace headless {

class Host;

using ParamValue = std::array<double, 4>;

class EffectInstance {
public:
    // Ledger counter of layer-parameter pixels handed out and not yet checked in.
    static constexpr std::string_view kLayerParamPixels = "layer parameter pixels";

    EffectInstance(Host &host, Composition comp, int effectLayer);
    ~EffectInstance();
    EffectInstance(const EffectInstance &) = delete;
    EffectInstance &operator=(const EffectInstance &) = delete;

    // The instance serving `host`, or null.
    static EffectInstance *of(const Host *host);

    Host &host() const { return host_; }
    // The composition to change between frames: lets the layer pixels kept
    // from earlier frames go (those out now go when checked in).
    Composition &editComposition();
    const Composition &composition() const { return comp_; }
    AegpHandles &handles() { return handles_; }

    int effectLayer() const { return effectLayer_; }
    void setEffectLayer(int index);

    // ---- time ---------------------------------------------------------------
    // Composition seconds of effect time what_time / time_scale (0 for a zero scale).
    double compSeconds(A_long effectTime, A_u_long timeScale) const;
    // The same as the host reports it: {what_time + inPoint * time_scale, time_scale}.
    // False when the scale is 0 or the result does not fit.
    bool effectToCompTime(A_long effectTime, A_u_long timeScale, A_Time &out) const;
    // Moves the host's current time to composition second `t` (to the nearest tick).
    void setCompTime(double t);
    // Composition seconds of the host's current time.
    double currentCompTime() const;

    // ---- render settings -------------------------------------------------------
    // Depth of checked-out layer pixels: 8, 16 or 32 (anything else is ignored).
    void setRenderDepth(int bitsPerChannel);
    int renderDepth() const { return renderDepth_; }
    // Sets in_data's downsample factors.
    void setDownsample(PF_RationalScale x, PF_RationalScale y);

    // ---- camera ---------------------------------------------------------------
    // The camera layer the effect sees at composition time t: the topmost
    // camera whose video switch is on and that is active at t; -1 when none.
    int effectCamera(double t) const { return activeCamera(comp_, t); }

    // ---- parameters -------------------------------------------------------------
    // The track of parameter `index`, made on first use (see above).
    Animated<ParamValue> &param(PF_ParamIndex index);
    void setParam(PF_ParamIndex index, const ParamValue &value) { param(index) = value; }
    // Chooses `layer` (-1 for none) for a layer parameter, at every time.
    void chooseLayer(PF_ParamIndex index, int layer) { param(index) = ParamValue{double(layer)}; }
    // Drops the track: the parameter reads its stored record (or default) again.
    void clearParam(PF_ParamIndex index) { tracks_.erase(index); }
    bool hasTrack(PF_ParamIndex index) const { return tracks_.count(index) != 0; }

    // The layer a layer parameter chooses at composition time t (-1: none).
    int chosenLayer(PF_ParamIndex index, double t, A_long dephault) const;
    // Parameter `index` as a checkout at effect time what_time / time_scale
    // returns it; `value` holds the stored record on entry. The parameter
    // value source of the host.
    PF_Err checkoutValue(PF_ParamIndex index, A_long what_time, A_u_long time_scale,
                         PF_ParamDef &value);
    // Gives back the pixels of a checked-out layer record.
    void checkinValue(const PF_ParamDef &value);
    // A frame is over: the layer pixels it did not use go (called between
    // frames, where no pass runs).
    void frameEnded();
    // Writes the values at the host's current time into the stored records.
    void publishParams();

    // ---- the effect's parameter streams ------------------------------------------
    // The expression on parameter `index`'s stream, if any.
    std::optional<std::string> expression(PF_ParamIndex index) const;
    void setExpression(PF_ParamIndex index, std::string text); // empty removes
    A_long streamFlags(PF_ParamIndex index) const;             // AEGP_DynStreamFlags
    void setStreamFlag(PF_ParamIndex index, A_long flag, bool on);
    // PF_UpdateParamUI calls that changed a record.
    long paramUIUpdates() const;
    void countParamUIUpdate();

    // ---- AEGP plug-in ids and handles ----------------------------------------------
    // Hands out a new plug-in id (AEGP_RegisterWithAEGP).
    A_long registerPlugin(const std::string &name);
    bool isRegistered(A_long pluginId) const;
    // The name a plug-in id was registered under ("" when unknown).
    std::string pluginName(A_long pluginId) const;

    AEGP_LayerH layerHandle(int index);
    AEGP_CompH compHandle();
    // The composition's item (index -1) or a layer's source item.
    AEGP_ItemH itemHandle(int index);
    // The layer a handle names, -1 when it names none of this instance's layers.
    int layerIndex(AEGP_LayerH layer) const;

private:
    // What a layer's checked-out pixels depend on.
    struct LayerPixelsKey {
        int layer = -1;
        int depth = 0;
        PF_RationalScale downsampleX{1, 1}, downsampleY{1, 1};
        bool operator==(const LayerPixelsKey &o) const {
            return layer == o.layer && depth == o.depth && downsampleX.num == o.downsampleX.num &&
                   downsampleX.den == o.downsampleX.den && downsampleY.num == o.downsampleY.num &&
                   downsampleY.den == o.downsampleY.den;
        }
    };
    // One copy of a layer's pixels and the number of checkouts holding it.
    struct SharedLayerPixels {
        LayerPixelsKey key;
        std::unique_ptr<LayerImage> image;
        PF_LayerDef world{};
        int holders = 0;
        bool usedThisFrame = true; // checked out since the last frame ended
        bool stale = false;        // the composition may have changed since it was made
    };

    void syncInData();
    void fillLayer(PF_ParamIndex index, double t, PF_ParamDef &value);
    // The pixels of layer `chosen` for one more checkout (shared with those
    // out already); null for a layer without pixels. Throws std::bad_alloc.
    const PF_LayerDef *sharedPixels(int chosen);
    void fillPoint(PF_ParamIndex index, double t, const PF_RationalScale &dsx,
                   const PF_RationalScale &dsy, PF_ParamDef &value) const;
    ParamValue trackValue(PF_ParamIndex index, double t, Interpolation how) const;
    // Full-resolution size of the effect layer's source (0 x 0 without one).
    void effectLayerSize(int &width, int &height) const;

    Host &host_;
    Composition comp_;
    int effectLayer_;
    int renderDepth_ = 8;
    std::map<PF_ParamIndex, Animated<ParamValue>> tracks_;
    AegpHandles handles_;

    mutable std::mutex mutex_; // guards everything below
    std::map<PF_ParamIndex, std::string> expressions_;
    std::map<PF_ParamIndex, A_long> streamFlags_;
    std::map<const void *, SharedLayerPixels> layerPixels_; // by data address
    std::map<A_long, std::string> plugins_;
    A_long nextPluginId_ = 0x5645; // any non-zero start will do
    long paramUIUpdates_ = 0;
};

} // namespace headless
