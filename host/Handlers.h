// The effect's command handlers, one free function per host command. The entry
// point (EntryPoint.cpp) routes each command code to one of them inside an
// open command context. Every handler returns a PF_Err (0 for success) and may
// also throw a PF_Err as an integer; the entry point returns either as the
// command's result.
//
// Thread safety: called only on the thread inside the entry point, one
// command at a time.
#pragma once

#include "host/SDK.h"

// The plug-in's exported entry point (EntryPoint.cpp).
extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data,
                                 PF_ParamDef *params[], PF_LayerDef *output, void *extra);

// Global data (GlobalData.cpp).
PF_Err GlobalSetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                   PF_LayerDef *output);
PF_Err GlobalSetdown(PF_InData *in_data);

// Sequence data: the effect keeps none (GlobalData.cpp).
PF_Err SequenceSetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                     PF_LayerDef *output);
PF_Err SequenceResetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                       PF_LayerDef *output);
PF_Err SequenceFlatten(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                       PF_LayerDef *output);
PF_Err SequenceSetdown(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                       PF_LayerDef *output);

// The parameter set.
PF_Err ParamsSetup(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                   PF_LayerDef *output);

// Parameter user-interface behaviour.
PF_Err HandleChangedParam(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                          PF_LayerDef *output, PF_UserChangedParamExtra *extra);
PF_Err UpdataParamsUI(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
                      PF_LayerDef *output);

// Rendering: the smart-render pair does the work (SmartRender.cpp); the classic
// render draws nothing (ClassicRender.cpp).
PF_Err PreRender(PF_InData *in_data, PF_OutData *out_data, PF_PreRenderExtra *extra);
PF_Err SmartRender(PF_InData *in_data, PF_OutData *out_data, PF_SmartRenderExtra *extra);
PF_Err Render(PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
              PF_LayerDef *output);
