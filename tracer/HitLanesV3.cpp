// The hit-lane kernel for x86-64-v3, built with that instruction set where
// the build asks for it; run only where the processor has it.
#include "tracer/HitLanes.h"

#include <cstdint>

#include "imaging/TextureSampling.h"
#include "tracer/ArctangentBounds.h"

#if defined(VELTRIX_CORNER_LANES_V3)
#define HIT_LANES_NAMESPACE hit_lanes_v3
#include "tracer/HitLanesKernel.inl"
#undef HIT_LANES_NAMESPACE
#endif
