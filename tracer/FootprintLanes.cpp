#include "tracer/FootprintLanes.h"
#include "tracer/ProcessorLevel.h"

#include "imaging/TextureSampling.h"

#define FOOTPRINT_LANES_NAMESPACE footprint_lanes_baseline
#include "tracer/FootprintLanesKernel.inl"
#undef FOOTPRINT_LANES_NAMESPACE

#if defined(VELTRIX_CORNER_LANES_V3)
namespace footprint_lanes_v3 {
void Measure(const FootprintLaneScene &, const FootprintLaneHits &, FootprintLaneRadii &);
}
#endif

#if defined(VELTRIX_LANES_V4)
namespace footprint_lanes_v4 {
void Measure(const FootprintLaneScene &, const FootprintLaneHits &, FootprintLaneRadii &);
}
#endif

FootprintLaneScene FootprintScene(const RenderInfoTemplate<Hyperboloid> &info)
{
    const Hyperboloid &shape = info.shape;
    const double k = info.openFactor;
    // The surface metric's quotients, as it takes them.
    const SurfaceQuotients::Metric q =
        info.quotients.metricFor(k, info.textureHeight, shape.radii.getZ(), info.textureLayer.height);
    FootprintLaneScene s{};
    for (int i = 0; i < 3; ++i) {
        s.invRadii[i] = shape.invRadii[i];
        s.invRadiiSquared[i] = shape.invRadiiSquared[i];
    }
    s.radiiX = shape.radii.getX();
    s.radiiY = shape.radii.getY();
    s.a = shape.radii.getX();
    s.b = shape.radii.getY();
    s.c = shape.radii.getZ();
    s.inverseOpen = q.inverseOpen;
    s.openBlend = q.openBlend;
    s.axialScale = q.axialPerC;
    s.perspective = info.perspective;
    s.zoom = static_cast<double>(info.imagePlane.getZ());
    s.widthK = static_cast<double>(info.textureLayer.width) * k;
    s.heightK = static_cast<double>(info.textureLayer.height) * k;
    s.blur = info.textureBlur;
    return s;
}

void MeasureFootprintLanesBaseline(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                                   FootprintLaneRadii &out)
{
    footprint_lanes_baseline::Measure(scene, hits, out);
}

bool MeasureFootprintLanesV3(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                             FootprintLaneRadii &out)
{
#if defined(VELTRIX_CORNER_LANES_V3)
    if (!ProcessorRunsX86V3()) return false;
    footprint_lanes_v3::Measure(scene, hits, out);
    return true;
#else
    (void)scene, (void)hits, (void)out;
    return false;
#endif
}

bool MeasureFootprintLanesV4(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                             FootprintLaneRadii &out)
{
#if defined(VELTRIX_LANES_V4)
    if (!ProcessorRunsX86V4()) return false;
    footprint_lanes_v4::Measure(scene, hits, out);
    return true;
#else
    (void)scene, (void)hits, (void)out;
    return false;
#endif
}

void MeasureFootprintLanes(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                           FootprintLaneRadii &out)
{
    if (!MeasureFootprintLanesV4(scene, hits, out) && !MeasureFootprintLanesV3(scene, hits, out))
        MeasureFootprintLanesBaseline(scene, hits, out);
}
