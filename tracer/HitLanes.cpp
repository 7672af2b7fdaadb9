#include "tracer/HitLanes.h"

#include <cmath>
#include <cstdint>
#include "tracer/ProcessorLevel.h"

#include "imaging/TextureSampling.h"
#include "tracer/ArctangentBounds.h"
#include "tracer/Shading.h"

#define HIT_LANES_NAMESPACE hit_lanes_baseline
#include "tracer/HitLanesKernel.inl"
#undef HIT_LANES_NAMESPACE

#if defined(VELTRIX_CORNER_LANES_V3)
namespace hit_lanes_v3 {
void Locate(const HitLaneScene &, const FootprintLaneHits &, HitLaneValues &);
void PlaceLookups(const HitLaneScene &, const FootprintLaneRadii &, HitLaneValues &);
}
#endif

#if defined(VELTRIX_LANES_V4)
namespace hit_lanes_v4 {
void Locate(const HitLaneScene &, const FootprintLaneHits &, HitLaneValues &);
void PlaceLookups(const HitLaneScene &, const FootprintLaneRadii &, HitLaneValues &);
}
#endif

HitLaneScene MakeHitLaneScene(const RenderInfoTemplate<Hyperboloid> &info)
{
    const Hyperboloid &shape = info.shape;
    const auto &extension = info.extension;
    const PF_LayerDef &texture = info.textureLayer;
    HitLaneScene s{};
    for (int i = 0; i < 3; ++i) {
        s.invRadii[i] = shape.invRadii[i];
        s.invRadiiSquared[i] = shape.invRadiiSquared[i];
    }
    s.c = shape.radii.getZ();
    s.axialScale = info.textureHeight * info.openFactor;
    s.rawVLimit = 1e149 * std::fabs(static_cast<double>(s.c)) / std::fabs(s.axialScale);
    // The head sheet's offset of one row: the pass's quotient where it holds
    // for these rows, and that quotient is 1 / rows to the bit.
    s.hasRows = texture.height != 0;
    s.rowHeight = s.hasRows ? 1.0 / texture.height : 0.0;
    s.v0 = info.fixedPointV;
    s.openFactor = info.openFactor;
    s.hasTexture = texture.width > 0 && texture.height > 0;
    s.gap = extension.interval;
    s.rows = static_cast<double>(texture.height);
    const auto copies = [&](float z) { return extension.copiesOn(Vectormath::Aos::Vector3(0.0f, 0.0f, z)); };
    const auto tail = copies(1.0f), head = copies(-1.0f);
    s.tailFirst = static_cast<double>(tail.first);
    s.tailLast = static_cast<double>(tail.last);
    s.headFirst = static_cast<double>(head.first);
    s.headLast = static_cast<double>(head.last);
    s.skipsOutOfReach = !info.showPivot && IsLayerChosen(texture);
    s.fetchesAlways = info.showPivot;
    s.footprintBound = info.footprintBound;
    s.perspective = info.perspective;
    s.blur = info.textureBlur;
    s.u0 = info.fixedPointU;
    s.slide = info.textureSlide;
    s.screw = extension.screwTurns;
    s.width = static_cast<double>(texture.width);
    s.flip = extension.flipVertical;
    s.flipTop = s.hasRows ? 1.0 - 1.0 / s.rows : 0.0;
    return s;
}

void LocateHitLanesBaseline(const HitLaneScene &scene, const FootprintLaneHits &hits,
                            HitLaneValues &out)
{
    hit_lanes_baseline::Locate(scene, hits, out);
}

bool LocateHitLanesV3(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out)
{
#if defined(VELTRIX_CORNER_LANES_V3)
    if (!ProcessorRunsX86V3()) return false;
    hit_lanes_v3::Locate(scene, hits, out);
    return true;
#else
    (void)scene, (void)hits, (void)out;
    return false;
#endif
}

bool LocateHitLanesV4(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out)
{
#if defined(VELTRIX_LANES_V4)
    if (!ProcessorRunsX86V4()) return false;
    hit_lanes_v4::Locate(scene, hits, out);
    return true;
#else
    (void)scene, (void)hits, (void)out;
    return false;
#endif
}

void LocateHitLanes(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out)
{
    if (!LocateHitLanesV4(scene, hits, out) && !LocateHitLanesV3(scene, hits, out))
        LocateHitLanesBaseline(scene, hits, out);
}

void PlaceLookupLanesBaseline(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                              HitLaneValues &values)
{
    hit_lanes_baseline::PlaceLookups(scene, radii, values);
}

bool PlaceLookupLanesV3(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                        HitLaneValues &values)
{
#if defined(VELTRIX_CORNER_LANES_V3)
    if (!ProcessorRunsX86V3()) return false;
    hit_lanes_v3::PlaceLookups(scene, radii, values);
    return true;
#else
    (void)scene, (void)radii, (void)values;
    return false;
#endif
}

bool PlaceLookupLanesV4(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                        HitLaneValues &values)
{
#if defined(VELTRIX_LANES_V4)
    if (!ProcessorRunsX86V4()) return false;
    hit_lanes_v4::PlaceLookups(scene, radii, values);
    return true;
#else
    (void)scene, (void)radii, (void)values;
    return false;
#endif
}

void PlaceLookupLanes(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                      HitLaneValues &values)
{
    if (!PlaceLookupLanesV4(scene, radii, values) && !PlaceLookupLanesV3(scene, radii, values))
        PlaceLookupLanesBaseline(scene, radii, values);
}
