// Every host SDK header the effect uses, by the SDK's own header names. The
// build points the include path at our stand-in headers or at a real SDK.
#pragma once

#include "A.h"
#include "SPBasic.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
