// The light-lane kernel for x86-64-v3, built with that instruction set where
// the build asks for it; run only where the processor has it.
#include "tracer/LightLanes.h"

#include <cstdint>

#include "tracer/ArctangentBounds.h"

#if defined(VELTRIX_CORNER_LANES_V3)
#define LIGHT_LANES_NAMESPACE light_lanes_v3
#include "tracer/LightLanesKernel.inl"
#undef LIGHT_LANES_NAMESPACE
#endif
