// Handlers whose real work is built in their own files later. Until then each
// answers its command with PF_Err_NONE, so that the entry point routes every
// command and the host sees a well-behaved effect that draws nothing.

#include "host/Handlers.h"

PF_Err HandleChangedParam(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *,
                          PF_UserChangedParamExtra *) {
    return PF_Err_NONE; // built later: follows the control layer's transform
}

PF_Err UpdataParamsUI(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) {
    return PF_Err_NONE; // built later: greys out the dependent controls
}

// The effect renders only through smart render (SmartRender.cpp); the classic
// render command is answered without touching the output.
PF_Err Render(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) { return PF_Err_NONE; }
