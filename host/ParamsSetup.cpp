// PF_Cmd_PARAMS_SETUP: registers the effect's 58 parameters with the host.
//
// The host appends each parameter to its array in call order, so the order of
// the calls below is the order of ParamIds.h. The disk ids are what saved
// projects refer to; they are not a running count and must never change. Two
// of them are deliberately shared: the end of "Open Hyperboloid" carries the
// id of its start, and "Reflection Rolloff" carries the id of "Reflection
// Intensity". Projects saved with these ids exist, so they stay as they are.
#include "host/Handlers.h"
#include "host/ParamIds.h"
#include "host/SDK.h"

#include <cstring>
#include <limits>

namespace {

// 16.16 fixed point of a whole number. Fractional values are written below as
// their raw 16.16 integers, exactly as the saved projects hold them.
constexpr PF_Fixed Whole(A_long v) { return v * PF_Fixed_ONE; }

constexpr PF_Fixed kRaw0_5 = 32768;     // 0.5
constexpr PF_Fixed kRaw0_999 = 65470;   // 0.999
constexpr PF_Fixed kRaw0_01 = 655;      // 0.01
constexpr PF_Fixed kRaw0_001 = 65;      // 0.001

struct FixedRange {
    PF_Fixed validMin, validMax;
    PF_Fixed sliderMin, sliderMax;
};

PF_ParamDef Cleared(PF_ParamType type, A_long diskId, PF_ParamFlags flags = 0,
                    PF_ParamUIFlags uiFlags = 0) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = type;
    def.uu.id = diskId;
    def.flags = flags;
    def.ui_flags = uiFlags;
    return def;
}

PF_ParamDef Layer(A_long diskId, PF_ParamFlags flags = 0) {
    PF_ParamDef def = Cleared(PF_Param_LAYER, diskId, flags);
    def.u.ld.dephault = PF_LayerDefault_NONE;
    return def;
}

PF_ParamDef GroupStart(A_long diskId) { return Cleared(PF_Param_GROUP_START, diskId); }
PF_ParamDef GroupEnd(A_long diskId) { return Cleared(PF_Param_GROUP_END, diskId); }

PF_ParamDef FixedSlider(A_long diskId, PF_Fixed dephault, FixedRange range, A_short precision,
                        PF_ParamFlags flags = 0, PF_ParamUIFlags uiFlags = 0) {
    PF_ParamDef def = Cleared(PF_Param_FIX_SLIDER, diskId, flags, uiFlags);
    PF_FixedSliderDef &fd = def.u.fd;
    fd.value = dephault;
    fd.dephault = dephault;
    fd.valid_min = range.validMin;
    fd.valid_max = range.validMax;
    fd.slider_min = range.sliderMin;
    fd.slider_max = range.sliderMax;
    fd.precision = precision;
    return def;
}

PF_ParamDef IntegerSlider(A_long diskId, PF_ParamValue dephault, PF_ParamValue validMin,
                          PF_ParamValue validMax, PF_ParamValue sliderMin,
                          PF_ParamValue sliderMax) {
    PF_ParamDef def = Cleared(PF_Param_SLIDER, diskId);
    PF_SliderDef &sd = def.u.sd;
    sd.value = dephault;
    sd.dephault = dephault;
    sd.valid_min = validMin;
    sd.valid_max = validMax;
    sd.slider_min = sliderMin;
    sd.slider_max = sliderMax;
    return def;
}

PF_ParamDef FloatSlider(A_long diskId, PF_FpShort dephault, PF_FpShort validMin,
                        PF_FpShort validMax, PF_FpShort sliderMin, PF_FpShort sliderMax,
                        A_short precision, PF_ParamFlags flags) {
    PF_ParamDef def = Cleared(PF_Param_FLOAT_SLIDER, diskId, flags);
    PF_FloatSliderDef &fs = def.u.fs_d;
    fs.value = dephault;
    fs.phase = 0.0;
    fs.dephault = dephault;
    fs.valid_min = validMin;
    fs.valid_max = validMax;
    fs.slider_min = sliderMin;
    fs.slider_max = sliderMax;
    fs.precision = precision;
    fs.fs_flags = 0;
    fs.curve_tolerance = 0.05f;
    fs.useExponent = false;
    return def;
}

PF_ParamDef Angle(A_long diskId, A_long degrees) {
    PF_ParamDef def = Cleared(PF_Param_ANGLE, diskId);
    def.u.ad.value = Whole(degrees);
    def.u.ad.dephault = Whole(degrees);
    return def;
}

// Check boxes show no label of their own beside the box.
PF_ParamDef Checkbox(A_long diskId, bool on) {
    PF_ParamDef def = Cleared(PF_Param_CHECKBOX, diskId);
    def.u.bd.value = on ? 1 : 0;
    def.u.bd.dephault = on ? 1 : 0;
    def.u.bd.u.nameptr = "";
    return def;
}

// `choices` must outlive the call: the host reads the labels through the pointer.
PF_ParamDef Popup(A_long diskId, const char *choices, A_short dephault,
                  PF_ParamFlags flags = 0) {
    PF_ParamDef def = Cleared(PF_Param_POPUP, diskId, flags);
    def.u.pd.value = dephault;
    def.u.pd.num_choices = kPopupChoiceCount;
    def.u.pd.dephault = dephault;
    def.u.pd.u.namesptr = choices;
    return def;
}

// Point defaults are percentages of the layer size.
PF_ParamDef Point(A_long diskId, A_long xPercent, A_long yPercent) {
    PF_ParamDef def = Cleared(PF_Param_POINT, diskId);
    def.u.td.x_value = Whole(xPercent);
    def.u.td.y_value = Whole(yPercent);
    def.u.td.x_dephault = Whole(xPercent);
    def.u.td.y_dephault = Whole(yPercent);
    def.u.td.restrict_bounds = false;
    return def;
}

PF_ParamDef Color(A_long diskId, PF_Pixel dephault) {
    PF_ParamDef def = Cleared(PF_Param_COLOR, diskId);
    def.u.cd.value = dephault;
    def.u.cd.dephault = dephault;
    return def;
}

// Hands parameters to the host one by one and remembers the first refusal;
// once the host has refused one, nothing more is sent, since every later
// parameter would land at the wrong index.
class ParamRegistrar {
public:
    explicit ParamRegistrar(PF_InData *in_data) : in_(in_data) {}

    void add(const char *name, PF_ParamDef def) {
        if (err_ != PF_Err_NONE) return;
        in_->utils->ansi.strcpy(def.name, name);
        err_ = in_->inter.add_param(in_->effect_ref, -1, &def);
    }

    PF_Err err() const { return err_; }

private:
    PF_InData *in_;
    PF_Err err_ = PF_Err_NONE;
};

constexpr const char *kSideChoices = "Head Side|Tail Side|Both Sides";
constexpr const char *kFalloffChoices = "None|Smooth|Inverse Square Clamped";
constexpr const char *kRenderFaceChoices = "Full|Inside|Outside";
constexpr const char *kDepthOfFieldChoices = "Off|Camera Settings|On";
constexpr const char *kDepthCompositeChoices = "Off|Fog|Fade Out";

constexpr PF_ParamFlags kTwirly = PF_ParamFlag_COLLAPSE_TWIRLY;
constexpr PF_ParamFlags kSupervise = PF_ParamFlag_SUPERVISE;

// Ranges that several sliders share.
constexpr FixedRange kPercent = {0, Whole(100), 0, Whole(100)};
constexpr FixedRange kUnit = {0, Whole(1), 0, Whole(1)};
constexpr FixedRange kDepth = {0, Whole(32767), 0, Whole(1000)};
constexpr FixedRange kFalloffLength = {Whole(1), Whole(32767), Whole(1), Whole(1000)};
constexpr FixedRange kAxisScale = {0, Whole(32767), 0, Whole(255)};

void AddTransformGroup(ParamRegistrar &r) {
    r.add("Transform", GroupStart(2));
    r.add("Slide Texture", Angle(43, 0));
    r.add("Control Layer", Layer(3, kSupervise));
    r.add("Ellipse X/Y", FixedSlider(5, 0, {-kRaw0_999, kRaw0_999, -kRaw0_999, kRaw0_999}, 2, kTwirly));
    r.add("Dist. from Center",
          FloatSlider(6, 100.0f, 0.0001f, std::numeric_limits<float>::max(), 0.0001f, 1000.0f, 1,
                      kTwirly));
    r.add("Radius Scale", FixedSlider(44, Whole(100), kAxisScale, 1, kTwirly));
    r.add("Height Scale", FixedSlider(45, Whole(100), kAxisScale, 1, kTwirly));
    r.add("Position XY", Point(7, 50, 50));
    r.add("Position Z",
          FixedSlider(8, 0, {Whole(-32767), Whole(32767), Whole(-1000), Whole(1000)}, 1, kTwirly));
    r.add("Rotation X", Angle(9, -90));
    r.add("Rotation Y", Angle(10, 0));
    r.add("Rotation Z", Angle(11, -90));
    r.add("", GroupEnd(12));
}

void AddOpenGroup(ParamRegistrar &r) {
    r.add("Open Hyperboloid", GroupStart(13));
    r.add("Show Pivot", Checkbox(14, false));
    r.add("Fixed Point U", FixedSlider(15, kRaw0_5, kUnit, 2, kTwirly));
    r.add("Fixed Point V",
          FixedSlider(16, kRaw0_5, {kRaw0_001, kRaw0_999, kRaw0_001, kRaw0_999}, 2, kTwirly));
    r.add("Open Parameter", FixedSlider(17, 0, {0, Whole(2), 0, Whole(2)}, 2));
    r.add("", GroupEnd(13)); // shares the start's id; saved projects depend on it
}

void AddExtendGroup(ParamRegistrar &r) {
    r.add("Extend Hyperboloid", GroupStart(46));
    r.add("Extension Side", Popup(47, kSideChoices, SIDE_BOTH));
    r.add("Extensions", IntegerSlider(48, 0, 0, 32767, 0, 254));
    r.add("Flip Vertical", Checkbox(49, false));
    r.add("Screw", Angle(50, 0));
    r.add("Interval", FixedSlider(51, 0, {0, Whole(32767), 0, Whole(1000)}, 1));
    r.add("", GroupEnd(52));
}

void AddShadingGroup(ParamRegistrar &r) {
    r.add("Shading", GroupStart(19));
    r.add("Falloff", Popup(20, kFalloffChoices, FALLOFF_NONE, kSupervise));
    // Greyed until "Falloff" asks for them.
    r.add("Falloff Radius", FixedSlider(21, Whole(200), kFalloffLength, 1, kTwirly, PF_PUI_DISABLED));
    r.add("Falloff Distance",
          FixedSlider(22, Whole(200), kFalloffLength, 1, kTwirly, PF_PUI_DISABLED));
    r.add("Self Shadow", Checkbox(23, false));
    r.add("Light Transmission", FixedSlider(24, 0, kPercent, 1));
    r.add("Emit", FixedSlider(25, Whole(100), kPercent, 1));
    r.add("Ambient", FixedSlider(26, Whole(100), kPercent, 1));
    r.add("Diffuse", FixedSlider(27, Whole(50), kPercent, 1));
    r.add("Specular", FixedSlider(28, Whole(50), kPercent, 1));
    r.add("Roughness", FixedSlider(29, kRaw0_01, {0, kRaw0_999, 0, kRaw0_999}, 3));
    r.add("Metal", FixedSlider(30, 0, kPercent, 1));
    r.add("Reflection Map", Layer(31));
    r.add("Reflection Intensity", FixedSlider(32, Whole(100), kPercent, 1));
    r.add("Reflection Rolloff", FixedSlider(32, Whole(10), kPercent, 1)); // shares id 32, see top
    r.add("", GroupEnd(34));
}

void AddRenderingGroup(ParamRegistrar &r) {
    r.add("Rendering", GroupStart(35));
    r.add("Render Side", Popup(36, kRenderFaceChoices, RENDER_FACE_FULL));
    r.add("Render Side2", Popup(60, kSideChoices, SIDE_BOTH));
    r.add("Use Composition Camera", Checkbox(37, true));
    r.add("Depth Of Field", Popup(38, kDepthOfFieldChoices, DOF_OFF));
    r.add("Boost DOF Blur", FixedSlider(39, Whole(100), {0, Whole(2000), 0, Whole(1000)}, 1));
    r.add("Sharpness", FixedSlider(40, kRaw0_5, kUnit, 2));

    r.add("Depth Composite", GroupStart(53));
    r.add("Mode", Popup(54, kDepthCompositeChoices, DEPTH_COMPOSITE_OFF));
    r.add("Start depth", FixedSlider(55, 0, kDepth, 1));
    r.add("End depth", FixedSlider(56, Whole(1000), kDepth, 1));
    r.add("Fog Color", Color(57, PF_Pixel{255, 255, 255, 255}));
    r.add("", GroupEnd(58));

    r.add("", GroupEnd(41));
}

} // namespace

PF_Err ParamsSetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef * /*params*/[],
                   PF_LayerDef * /*output*/) {
    if (!in_data || !out_data) return PF_Err_BAD_CALLBACK_PARAM;
    if (!in_data->inter.add_param || !in_data->utils || !in_data->utils->ansi.strcpy)
        return PF_Err_INVALID_CALLBACK;

    ParamRegistrar r(in_data);
    r.add("Texture", Layer(1));
    AddTransformGroup(r);
    AddOpenGroup(r);
    AddExtendGroup(r);
    AddShadingGroup(r);
    AddRenderingGroup(r);
    // Never shown and never read by the renderer: it carries the expression
    // that makes the host re-render when the control layer moves.
    r.add("dammy", FixedSlider(42, 0, {Whole(-32767), Whole(32767), Whole(-32767), Whole(32767)}, 1,
                               0, PF_PUI_INVISIBLE));

    if (r.err() != PF_Err_NONE) return r.err();
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}
