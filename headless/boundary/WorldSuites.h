// The world suites the host offers the effect: "AEGP World Suite" 3
// (AEGP_New, AEGP_Dispose, AEGP_GetType, AEGP_GetSize,
// AEGP_FillOutPFEffectWorld) and "PF World Suite" 2 (PF_NewWorld,
// PF_DisposeWorld, PF_GetPixelFormat). Every Host registers them when it is
// constructed; the worlds live in the Host's register (Worlds.h), counted in
// the ledger under Ledger::kHostWorlds.
//
// Which Host a call acts on: PF_NewWorld and PF_DisposeWorld carry the effect
// reference (Host::fromEffectRef); the other functions carry none and act on
// Host::current(). Without a host a call fails and does nothing.
//
// Worlds made by AEGP_New and by PF_NewWorld without clear_pixB start out as
// garbage (HostWorld.h): the effect has to write what it reads.
//
// Errors: a fault armed on service::kNewWorld (detail: "AEGP_New" or
// "PF_NewWorld") or service::kGetPixelFormat fails that call with the armed
// error. A bad type, pixel format or size is A_Err_PARAMETER (AEGP) or
// PF_Err_BAD_CALLBACK_PARAM (PF); no memory is A_Err_ALLOC or
// PF_Err_OUT_OF_MEMORY. An unknown or disposed world and a null pointer where
// the call needs one are problems in the ledger as well as errors. Outputs are
// reset on failure (null handle, zeroed description, AEGP_WorldType_NONE,
// size 0 x 0, PF_PixelFormat_INVALID).
//
// Thread safety: as the register's; any thread may call.
#pragma once

#include "headless/SdkHeaders.h"

namespace headless {

class SuiteRegistry;

const AEGP_WorldSuite3 &aegpWorldSuite3();
const PF_WorldSuite2 &pfWorldSuite2();

// Offers both suites in `suites`.
void installWorldSuites(SuiteRegistry &suites);

} // namespace headless
