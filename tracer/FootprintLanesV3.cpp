// The footprint-lane kernel for x86-64-v3, built with that instruction set
// where the build asks for it; run only where the processor has it.
#include "tracer/FootprintLanes.h"

#include "imaging/TextureSampling.h"

#if defined(VELTRIX_CORNER_LANES_V3)
#define FOOTPRINT_LANES_NAMESPACE footprint_lanes_v3
#include "tracer/FootprintLanesKernel.inl"
#undef FOOTPRINT_LANES_NAMESPACE
#endif
