#include "tracer/CornerLanes.h"
#include "tracer/ProcessorLevel.h"

#define CORNER_LANES_NAMESPACE corner_lanes_baseline
#include "tracer/CornerLanesKernel.inl"
#undef CORNER_LANES_NAMESPACE

#if defined(VELTRIX_CORNER_LANES_V3)
namespace corner_lanes_v3 {
void Trace(const CornerLaneCamera &, const float (&)[kCornerLanes], const float (&)[kCornerLanes],
           CornerLanes &);
}
#endif

#if defined(VELTRIX_LANES_V4)
namespace corner_lanes_v4 {
void Trace(const CornerLaneCamera &, const float (&)[kCornerLanes], const float (&)[kCornerLanes],
           CornerLanes &);
}
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
    if (!ProcessorRunsX86V3()) return false;
    corner_lanes_v3::Trace(camera, px, py, out);
    return true;
#else
    (void)camera, (void)px, (void)py, (void)out;
    return false;
#endif
}

bool TraceCornerLanesV4(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                        const float (&py)[kCornerLanes], CornerLanes &out)
{
#if defined(VELTRIX_LANES_V4)
    if (!ProcessorRunsX86V4()) return false;
    corner_lanes_v4::Trace(camera, px, py, out);
    return true;
#else
    (void)camera, (void)px, (void)py, (void)out;
    return false;
#endif
}

void TraceCornerLanes(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                      const float (&py)[kCornerLanes], CornerLanes &out)
{
    if (!TraceCornerLanesV4(camera, px, py, out) && !TraceCornerLanesV3(camera, px, py, out))
        TraceCornerLanesBaseline(camera, px, py, out);
}
