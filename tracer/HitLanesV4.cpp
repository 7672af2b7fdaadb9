// The hit-lane kernel for x86-64-v4 with 512-bit vectors, built so where the
// build asks for it; run only where the processor has it.
#include "tracer/HitLanes.h"

#include <cstdint>

#include "imaging/TextureSampling.h"
#include "tracer/ArctangentBounds.h"

#if defined(VELTRIX_LANES_V4)
#define HIT_LANES_NAMESPACE hit_lanes_v4
#include "tracer/HitLanesKernel.inl"
#undef HIT_LANES_NAMESPACE
#endif
