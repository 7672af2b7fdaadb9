// The plug-in's one exported function. The host calls it once per command;
// each call opens a command context, routes the command to its handler and
// closes the context again on every path.

#include "host/GlobalData.h"
#include "host/Handlers.h"
#include "host/SDK.h"
#include "host/aeLibInit.h"

#include <new>

#if defined(_WIN32)
#define VELTRIX_EXPORT __declspec(dllexport)
#else
#define VELTRIX_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The registered plug-in id, kept in the global data; 0 before global set-up
// has made it.
AEGP_PluginID pluginIDOf(const PF_InData *in_data) {
    const GlobalData *global = in_data ? GlobalData::fromHandle(in_data->global_data) : nullptr;
    return global ? global->pluginID : 0;
}

// Commands whose handlers reach the host through the context's block: host
// memory, the AEGP wrappers (which take the basic suite from it) and the
// shared suite cache. When the host cannot give the block they would run on
// the wrappers' defaults and report success for a result nobody asked for
// (a render without its camera, lights or control layer), so they report
// that the host is out of memory instead. Global set-down runs regardless:
// it must still give the global data back.
bool needsContextBlock(PF_Cmd cmd) {
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
    case PF_Cmd_USER_CHANGED_PARAM:
    case PF_Cmd_UPDATE_PARAMS_UI:
    case PF_Cmd_SMART_RENDER:
        return true;
    default:
        return false;
    }
}

PF_Err routeCommand(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                    PF_LayerDef *output, void *extra) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
    case PF_Cmd_UNUSED_0:
    case PF_Cmd_DO_DIALOG: // never sent: the effect asks for no dialog
    case PF_Cmd_FRAME_SETUP:
    case PF_Cmd_FRAME_SETDOWN:
        return PF_Err_NONE;
    case PF_Cmd_GLOBAL_SETUP:
        return GlobalSetup(in_data, out_data, params, output);
    case PF_Cmd_GLOBAL_SETDOWN:
        return GlobalSetdown(in_data);
    case PF_Cmd_PARAMS_SETUP:
        return ParamsSetup(in_data, out_data, params, output);
    case PF_Cmd_SEQUENCE_SETUP:
        return SequenceSetup(in_data, out_data, params, output);
    case PF_Cmd_SEQUENCE_RESETUP:
        return SequenceResetup(in_data, out_data, params, output);
    case PF_Cmd_SEQUENCE_FLATTEN:
        return SequenceFlatten(in_data, out_data, params, output);
    case PF_Cmd_SEQUENCE_SETDOWN:
        return SequenceSetdown(in_data, out_data, params, output);
    case PF_Cmd_RENDER:
        return Render(in_data, out_data, params, output);
    case PF_Cmd_USER_CHANGED_PARAM:
        return HandleChangedParam(in_data, out_data, params, output,
                                  static_cast<PF_UserChangedParamExtra *>(extra));
    case PF_Cmd_UPDATE_PARAMS_UI:
        return UpdataParamsUI(in_data, out_data, params, output);
    case PF_Cmd_SMART_PRE_RENDER:
        return PreRender(in_data, out_data, static_cast<PF_PreRenderExtra *>(extra));
    case PF_Cmd_SMART_RENDER:
        return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra *>(extra));
    default:
        // Events, the other optional commands and any unknown code.
        return PF_Err_NONE;
    }
}

} // namespace

extern "C" VELTRIX_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData *in_data,
                                                PF_OutData *out_data, PF_ParamDef *params[],
                                                PF_LayerDef *output, void *extra) {
    // Nothing may leave this function as an exception: the host is C. A
    // handler's integer exception is the command's result; anything else is
    // mapped to the nearest host error. The context closes while unwinding,
    // before any of these results is returned.
    try {
        aeLibInit context(cmd, pluginIDOf(in_data), in_data);
        if (in_data && !context.getInData() && needsContextBlock(cmd)) return PF_Err_OUT_OF_MEMORY;
        return routeCommand(cmd, in_data, out_data, params, output, extra);
    } catch (PF_Err err) {
        return err;
    } catch (const std::bad_alloc &) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
