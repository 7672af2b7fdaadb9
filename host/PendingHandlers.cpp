// The classic render command. The effect renders only through smart render
// (SmartRender.cpp); the classic command is answered without touching the
// output.

#include "host/Handlers.h"

PF_Err Render(PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *) { return PF_Err_NONE; }
