// The host SDK headers the headless host serves, by the SDK's own names. The
// SDK headers use size_t without declaring it, so it comes first.
#pragma once

#include <cstddef>

#include "A.h"
#include "SPBasic.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
