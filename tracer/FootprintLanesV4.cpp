// The footprint-lane kernel for x86-64-v4 with 512-bit vectors, built so where the
// build asks for it; run only where the processor has it.
#include "tracer/FootprintLanes.h"

#include "imaging/TextureSampling.h"

#if defined(VELTRIX_LANES_V4)
#define FOOTPRINT_LANES_NAMESPACE footprint_lanes_v4
#include "tracer/FootprintLanesKernel.inl"
#undef FOOTPRINT_LANES_NAMESPACE
#endif
