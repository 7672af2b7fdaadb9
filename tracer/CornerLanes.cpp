#include "tracer/CornerLanes.h"

#define CORNER_LANES_NAMESPACE corner_lanes_baseline
#include "tracer/CornerLanesKernel.inl"
#undef CORNER_LANES_NAMESPACE

#if defined(VELTRIX_CORNER_LANES_V3)
namespace corner_lanes_v3 {
void Trace(const CornerLaneCamera &, const float (&)[kCornerLanes], const float (&)[kCornerLanes],
           CornerLanes &);
}

namespace {
bool ProcessorRunsV3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
}
} // namespace
#endif

void TraceCornerLanesBaseline(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                              const float (&py)[kCornerLanes], CornerLanes &out)
{
    corner_lanes_baseline::Trace(camera, px, py, out);
}

bool TraceCornerLanesV3(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                        const float (&py)[kCornerLanes], CornerLanes &out)
{
#if defined(VELTRIX_CORNER_LANES_V3)
    static const bool runs = ProcessorRunsV3();
    if (!runs) return false;
    corner_lanes_v3::Trace(camera, px, py, out);
    return true;
#else
    (void)camera, (void)px, (void)py, (void)out;
    return false;
#endif
}

void TraceCornerLanes(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                      const float (&py)[kCornerLanes], CornerLanes &out)
{
    if (!TraceCornerLanesV3(camera, px, py, out)) TraceCornerLanesBaseline(camera, px, py, out);
}
