// The corner-lane kernel for x86-64-v3, built with that instruction set where
// the build asks for it; run only where the processor has it.
#include "tracer/CornerLanes.h"

#if defined(VELTRIX_CORNER_LANES_V3)
#define CORNER_LANES_NAMESPACE corner_lanes_v3
#include "tracer/CornerLanesKernel.inl"
#undef CORNER_LANES_NAMESPACE
#endif
