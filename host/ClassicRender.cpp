// The classic render command. The effect renders only through smart render
// (SmartRender.cpp); the classic command is answered without touching the
// output.

#include "host/Handlers.h"

// Empty on purpose: the effect declares smart rendering in its global set-up,
// so the host draws every frame through PreRender and SmartRender and this
// command only needs a successful answer; drawing here would be a second,
// unused copy of the smart path.
PF_Err Render(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) { return PF_Err_NONE; }
