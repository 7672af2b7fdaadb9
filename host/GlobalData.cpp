#include "host/GlobalData.h"

#include "host/AEGP_SuiteHandler.h"
#include "host/Handlers.h"
#include "host/aeLibInit.h"

GlobalData::GlobalData(const PF_InData *in_data) {
    // A cache of its own, so that the utility suite is released as soon as
    // the registration is done.
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const AEGP_UtilitySuite6 *utility = suites.UtilitySuite6();
    if (!utility->AEGP_RegisterWithAEGP ||
        utility->AEGP_RegisterWithAEGP(nullptr, "Veltrix", &pluginID) != A_Err_NONE)
        pluginID = 0; // unregistered: AEGP calls then go out under id 0
}

GlobalData *GlobalData::fromHandle(PF_Handle handle) {
    if (!handle || !*handle) return nullptr;
    return reinterpret_cast<GlobalData *>(static_cast<char *>(*handle) + kAEBlockHeaderSize);
}

PF_Err GlobalSetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *[], PF_LayerDef *) {
    if (!in_data || !out_data) return PF_Err_BAD_CALLBACK_PARAM;

    out_data->my_version = kVeltrixVersion;
    out_data->out_flags = kVeltrixOutFlags;
    out_data->out_flags2 = kVeltrixOutFlags2;

    // A missing utility suite throws out of the constructor; the new-expression
    // then returns the block before the error reaches the entry point.
    GlobalData *global = new GlobalData(in_data);
    if (!global) {
        // Without global data every later command would run unregistered:
        // tell the host instead of reporting success.
        out_data->global_data = nullptr;
        return PF_Err_OUT_OF_MEMORY;
    }
    out_data->global_data = getHandle(global);
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData *in_data) {
    if (!in_data) return PF_Err_NONE;
    GlobalData *global = GlobalData::fromHandle(in_data->global_data);
    if (!global) return PF_Err_NONE;
    const aeLibInit *context = aeLibInit::_current;
    if (context && context->getInData()) {
        // The virtual deleting destructor frees the block, disposing of the
        // very handle the host passed in.
        delete global;
        return PF_Err_NONE;
    }
    // The host could not give this command its context block, so host memory
    // cannot be freed the usual way; this is the last chance to give the
    // global data's handle back, so do it through the in-data directly.
    global->~GlobalData();
    const PF_UtilCallbacks *utils = in_data->utils;
    if (utils && utils->host_unlock_handle) utils->host_unlock_handle(in_data->global_data);
    if (utils && utils->host_dispose_handle) utils->host_dispose_handle(in_data->global_data);
    return PF_Err_NONE;
}

// The effect keeps no per-instance data: nothing is allocated, nothing is
// stored with the project beyond the parameters.
PF_Err SequenceSetup(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) {
    return PF_Err_NONE;
}

PF_Err SequenceResetup(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) {
    return PF_Err_NONE;
}

PF_Err SequenceFlatten(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) {
    return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) {
    return PF_Err_NONE;
}
