// Stand-in for the host SDK's callback header: the utility callbacks (host
// memory handles, the generic parallel iterator, the ANSI helpers).
#pragma once

#include "AE_Effect.h"

typedef struct {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char *, const A_char *, ...);
    A_char *(*strcpy)(A_char *, const A_char *);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
    A_long ansi_procs[1];
} PF_ANSICallbacks;

typedef size_t A_HandleSize;

typedef PF_Err (*PF_IterateGenericFunc)(void *refconPV, A_long thread_indexL, A_long i,
                                        A_long iterationsL);

typedef struct _PF_UtilCallbacks {
    PF_Handle (*host_new_handle)(A_HandleSize size);
    void *(*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
    PF_ANSICallbacks ansi;
    // Runs fn_func once for every i in [0, iterationsL), possibly on several
    // threads at once; returns the first error a call returned.
    PF_Err (*iterate_generic)(A_long iterationsL, void *refconPV, PF_IterateGenericFunc fn_func);
} PF_UtilCallbacks;
