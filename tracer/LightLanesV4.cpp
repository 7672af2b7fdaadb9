// The light-lane kernel for x86-64-v4 with 512-bit vectors, built so where the
// build asks for it; run only where the processor has it.
#include "tracer/LightLanes.h"

#include <cstdint>

#include "tracer/ArctangentBounds.h"

#if defined(VELTRIX_LANES_V4)
#define LIGHT_LANES_NAMESPACE light_lanes_v4
#include "tracer/LightLanesKernel.inl"
#undef LIGHT_LANES_NAMESPACE
#endif
