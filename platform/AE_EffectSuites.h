// Stand-in for the host SDK's effect suites: parameter UI updates and path
// queries.
#pragma once

#include "AE_Effect.h"

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion2 2

typedef struct PF_ParamUtilsSuite2 {
    // Hands the host a changed definition (flags, ui_flags, name) of parameter index.
    SPAPI PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                     const PF_ParamDef *defP);
} PF_ParamUtilsSuite2;

#define kPFPathQuerySuite "PF Path Query Suite"
#define kPFPathQuerySuiteVersion1 1

typedef A_u_long PF_PathID;
typedef struct PF_PathQuerySuite1 {
    SPAPI PF_Err (*PF_NumPaths)(PF_ProgPtr effect_ref, A_long *num_pathsPL);
} PF_PathQuerySuite1;
