// The ANSI helpers of PF_UtilCallbacks: the C library's math functions,
// sprintf and strcpy, passed through unchanged.
#pragma once

#include "headless/SdkHeaders.h"

namespace headless {

// Fills every function of `ansi` (ansi_procs is zeroed).
void fillAnsiCallbacks(PF_ANSICallbacks &ansi);

} // namespace headless
