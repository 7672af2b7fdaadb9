// The corner-lane kernel for x86-64-v4 with 512-bit vectors, built so where the
// build asks for it; run only where the processor has it.
#include "tracer/CornerLanes.h"

#if defined(VELTRIX_LANES_V4)
#define CORNER_LANES_NAMESPACE corner_lanes_v4
#include "tracer/CornerLanesKernel.inl"
#undef CORNER_LANES_NAMESPACE
#endif
