// Parameter user-interface behaviour: keeps the Effect Controls consistent
// with the chosen options.
//
// Following a control layer. The effect takes the control layer's transform
// from the host when it renders, but the host only renders again when one of
// the effect's own parameters changes. So when the user picks a control
// layer, the hidden slider "dammy" gets an expression that reads that layer's
// world transform: whenever the layer moves, rotates or scales, the slider's
// value changes and the host renders the effect again. The value itself is
// never read.
//
// Greying out. With a control layer the placement parameters mean nothing
// and are disabled; "Falloff" enables the falloff settings it uses.
//
// Errors of the AEGP calls are absorbed by the host-object wrappers: the
// expression may then be missing, and the command still succeeds.
//
// Thread safety: command handlers, called on the thread inside the entry
// point, one command at a time.

#include "host/AEGP_SuiteHandler.h"
#include "host/Handlers.h"
#include "host/ParamIds.h"
#include "host/aeMemory.h"
#include "scene/AEO_Effect.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Layer.h"
#include "scene/AEO_Stream.h"

namespace {

// The hidden slider's expression for a control layer named `name`. The name
// goes into a string literal of the expression, so the two characters that
// could end that literal early (a double quote, a backslash) are escaped.
aeString ControlWatchExpression(const aeString &name) {
    aeString text("try{length(thisComp.layer(\"");
    for (const char ch : name) {
        if (ch == '"' || ch == '\\') text += '\\';
        text += ch;
    }
    text += "\").toWorld([1,1,1]));}catch(e){value;}\n";
    return text;
}

// Parameter `index` of the command's array, or null when the host sent none.
PF_ParamDef *Param(PF_ParamDef *params[], PF_ParamIndex index) {
    return params ? params[index] : nullptr;
}

// The control layer's host handle; null when "Control Layer" is none.
AEGP_LayerH ChosenControlLayer(PF_ParamDef *params[]) {
    const PF_ParamDef *control = Param(params, PARAM_CONTROL_LAYER);
    return control ? static_cast<AEGP_LayerH>(control->u.ld.reserved0) : nullptr;
}

// Writes the expression for `layer` (none: removes it) onto the hidden slider.
// Host errors are absorbed (the expression may then be missing), but a name
// that could not be copied for want of memory would put a wrong name into the
// expression: that is the command's PF_Err_OUT_OF_MEMORY.
PF_Err WatchControlLayer(AEGP_LayerH layer) {
    AEO::Interface effectInterface;
    AEO::Effect effect(effectInterface.GetNewEffectForEffect());
    AEO::Stream watch(effect.GetNewStreamByIndex(PARAM_CONTROL_WATCH));
    if (!layer) {
        watch.SetExpression("");
        return PF_Err_NONE;
    }

    AEO::Layer control(layer);
    // A layer that shows its source's name has no name of its own to look it
    // up by; give it that name.
    if (control.getLayerName().empty()) control.SetName(control.getSourceName());
    const aeString name = control.getLayerNameLocalized();
    if (control.err() == PF_Err_OUT_OF_MEMORY) return PF_Err_OUT_OF_MEMORY;
    const aeString expression = ControlWatchExpression(name);
    watch.SetExpression(expression.c_str());
    return PF_Err_NONE;
}

// Keeps the hidden slider out of the timeline of older hosts, which show it
// there even though the Effect Controls do not.
void HideControlWatch() {
    AEO::Interface effectInterface;
    AEO::Effect effect(effectInterface.GetNewEffectForEffect());
    AEO::Stream watch(effect.GetNewStreamByIndex(PARAM_CONTROL_WATCH));
    watch.SetDynamicsStreamFlag(AEGP_DynStreamFlag_HIDDEN, false, true);
}

// Hosts whose effect API version is 13.1 or older show invisible parameters in
// the timeline.
bool HostShowsInvisibleParams(const PF_InData *in_data) {
    return in_data->version.major * 100 + in_data->version.minor <= 1301;
}

// Hands changed definitions to the host, one at a time; after the first
// failure no definition is changed or handed over, and that error stays.
class ParamUIUpdater {
public:
    ParamUIUpdater(const PF_InData *in_data, PF_ParamDef *params[], AEGP_SuiteHandler &suites)
        : in_data_(in_data), params_(params), suites_(suites) {}

    void setDisabled(PF_ParamIndex index, bool disabled) {
        PF_ParamDef *def = Param(params_, index);
        if (err_ != PF_Err_NONE || !def) return;
        if (disabled)
            def->ui_flags |= PF_PUI_DISABLED;
        else
            def->ui_flags &= ~PF_PUI_DISABLED;
        const PF_ParamUtilsSuite2 *paramUtils = suites_.ParamUtilsSuite2();
        err_ = paramUtils->PF_UpdateParamUI
                   ? paramUtils->PF_UpdateParamUI(in_data_->effect_ref, index, def)
                   : PF_Err_BAD_CALLBACK_PARAM;
    }

    PF_Err err() const { return err_; }

private:
    const PF_InData *in_data_;
    PF_ParamDef **params_;
    AEGP_SuiteHandler &suites_;
    PF_Err err_ = PF_Err_NONE;
};

// The placement parameters that a control layer overrides.
constexpr PF_ParamIndex kPlacementParams[] = {
    PARAM_ELLIPSE_XY, PARAM_RADIUS_SCALE, PARAM_HEIGHT_SCALE, PARAM_POSITION_XY,
    PARAM_POSITION_Z, PARAM_ROTATION_X,   PARAM_ROTATION_Y,   PARAM_ROTATION_Z};

void UpdateFalloffControls(PF_ParamValue falloff, ParamUIUpdater &updater) {
    switch (falloff) {
    case FALLOFF_NONE:
        updater.setDisabled(PARAM_FALLOFF_RADIUS, true);
        updater.setDisabled(PARAM_FALLOFF_DISTANCE, true);
        break;
    case FALLOFF_SMOOTH:
        updater.setDisabled(PARAM_FALLOFF_RADIUS, false);
        updater.setDisabled(PARAM_FALLOFF_DISTANCE, false);
        break;
    case FALLOFF_INVERSE_SQUARE_CLAMPED: // clamps at the radius, has no distance
        updater.setDisabled(PARAM_FALLOFF_RADIUS, false);
        updater.setDisabled(PARAM_FALLOFF_DISTANCE, true);
        break;
    default: // a value the popup cannot hold: leave the controls alone
        break;
    }
}

} // namespace

PF_Err HandleChangedParam(PF_InData *, PF_OutData *, PF_ParamDef *params[], PF_LayerDef *,
                          PF_UserChangedParamExtra *extra) {
    // "Falloff" is supervised too; the greying out follows in UpdataParamsUI.
    if (!extra || extra->param_index != PARAM_CONTROL_LAYER) return PF_Err_NONE;
    // Without the parameter's record there is no telling what was chosen.
    if (!Param(params, PARAM_CONTROL_LAYER)) return PF_Err_NONE;
    return WatchControlLayer(ChosenControlLayer(params));
}

PF_Err UpdataParamsUI(PF_InData *in_data, PF_OutData *, PF_ParamDef *params[], PF_LayerDef *) {
    if (!in_data) return PF_Err_BAD_CALLBACK_PARAM;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (HostShowsInvisibleParams(in_data)) HideControlWatch();

    ParamUIUpdater updater(in_data, params, suites);
    const bool controlled = ChosenControlLayer(params) != nullptr;
    for (const PF_ParamIndex index : kPlacementParams) updater.setDisabled(index, controlled);

    if (const PF_ParamDef *falloff = Param(params, PARAM_FALLOFF))
        UpdateFalloffControls(falloff->u.pd.value, updater);
    return updater.err();
}
