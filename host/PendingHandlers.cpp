// Handlers whose real work is built in their own files later. Until then each
// answers its command with PF_Err_NONE, so that the entry point routes every
// command and the host sees a well-behaved effect that draws nothing.

#include "host/Handlers.h"

PF_Err PreRender(PF_InData *, PF_OutData *, PF_PreRenderExtra *) {
    return PF_Err_NONE; // built later: checks out the input, reports the result rectangles
}

PF_Err SmartRender(PF_InData *, PF_OutData *, PF_SmartRenderExtra *) {
    return PF_Err_NONE; // built later: builds the render record and traces the frame
}

// The effect renders only through smart render; the classic render command is
// answered without touching the output. This is its final form, kept here
// beside the render pair until that pair has a file of its own.
PF_Err Render(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) { return PF_Err_NONE; }
