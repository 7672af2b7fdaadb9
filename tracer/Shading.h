// Shading of one surface hit: the colour a camera ray sees where it meets the
// surface.
//
// Ray_GetColor puts the pieces together, in this order:
// - the base colour: the texture, area-sampled over the ray's footprint, or
//   without a texture layer a u/v test ramp (red = u, green = v) on the
//   repetitions that exist ("Extend Hyperboloid", "Render Side2");
// - emission, then every light: diffuse (ambient for ambient lights) and
//   specular terms with the global falloff and spot cones, a metal tint on
//   the specular, self shadowing through the textured surface and light
//   transmission for light that arrives from behind the visible face;
// - the reflection map, an equirectangular image looked up in world space;
// - the depth composite (fog or fade-out);
// - the fixed-point marker of "Show Pivot".
// Colours are straight (not premultiplied) and not clamped; the texture's
// alpha is the hit's alpha.
//
// The templates are instantiated for the three output pixel types
// (PF_PixelFloat, PF_Pixel16, PF_Pixel). They compute in float alike and
// differ only in the host sampler that reads the texture and the reflection
// map, which hold pixels of the output's depth.
//
// Thread safety: called from the host's per-pixel iteration on many threads
// at once. The render record, its lights and the layer pixels are only read;
// every working value lives on the stack; nothing is allocated and no lock is
// taken, apart from the first fill of a sampling-suite slot in the record's
// suite cache (AEGP_SuiteHandler makes that safe). Host sampling errors leave
// the sample transparent and are not reported; nothing is thrown.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "imaging/DepthComposite.h"
#include "imaging/TextureSampling.h"
#include "scene/Light.h"
#include "scene/RenderInfo.h"
#include "scene/Vectormath.h"
#include "tracer/FootprintLanes.h"
#include "tracer/HitLanes.h"
#include "tracer/LightLanes.h"
#include "tracer/Ray.h"

// Whether a layer description copied from a layer parameter refers to a
// layer: its first pointer is set only when one is chosen.
inline bool IsLayerChosen(const PF_LayerDef &layer) { return layer.reserved0 != nullptr; }

struct RunReflections; // below

// What shading works out first for a hit, worked out ahead of it with the
// hits of a run of neighbouring pixels: its row before and after opening,
// its place among the texture's repetitions, its normal and whether any
// texture lookup reaches it (the run's hit lanes, HitLanes.h), and its
// footprint (the run's footprint lanes, FootprintLanes.h, where measured),
// and the lights' terms on it (the run's light lanes, LightLanes.h), and
// its texel (TexelAhead, where its footprint and u were worked out ahead).
// The pixel pass works a run out as it covers it, so that the chains of
// divisions of eight hits overlap instead of waiting on one another, and
// most hits beyond the texture's reach are settled without shading them at
// all (ShadeHit). A view of one lane: the run's values stay where they are.
struct HitAhead {
    double t;                        // the hit's ray parameter
    const HitLaneValues *values;     // the run's hit lanes; null: not worked out
    const FootprintLaneRadii *radii; // the run's footprints; null: not measured
    const LightLaneValues *lights;   // the lights on the run's hits; null: none
    const double *u;                 // the run's hits' u (HitU); null: not worked out;
                                     // NaN where its texel was looked up from bounds
                                     // of its angle (TexelAheadFromAngle)
    int lane;
    // Every hit of the pixel lies beyond the texture's reach: its pixel lies
    // outside the pass's reach window (ReachWindow.h).
    bool beyondReach = false;
    // The run's hits' texels (TexelAhead), for hits in the texture's reach;
    // null: not looked up.
    const PF_PixelFloat *texels = nullptr;
    // The run's reflection terms and the texels that hide its reflections,
    // worked out ahead (ReflectRunAhead); null: none, shading works them out.
    const RunReflections *reflections = nullptr;
    // The hit's colour as shading gives it, shaded ahead in lanes
    // (ShadeRunAhead); null: not shaded ahead. Read by the depth pass, which
    // writes the hit as a layer of its own.
    const PF_PixelFloat *shaded = nullptr;

    bool located() const { return values != nullptr; }
    bool outOfReach() const { return values && values->outOfReach[lane] != 0.0; }
    Vectormath::Aos::Vector3 normal() const
    {
        return Vectormath::Aos::Vector3(values->nx[lane], values->ny[lane], values->nz[lane]);
    }
    RowReach reach() const
    {
        const HitLaneValues &h = *values;
        return RowReach(RowReach::Parts{h.hasTexture, static_cast<int>(h.repetition[lane]),
                                        h.onRepetition[lane] != 0.0, h.nextExists[lane] != 0.0,
                                        h.previousExists[lane] != 0.0, h.rowsToNext[lane],
                                        h.rowsPastPrevious[lane]});
    }
};

// Works out lane `lane` of `values` (all but its footprint) for the hit at
// ray parameter t of a camera ray, one hit at a time: the same values, by the
// same steps, that Ray_GetColor works out for it. The lanes' reference.
void LookAhead(const Ray &ray, double t, const RenderInfoTemplate<Hyperboloid> &info,
               HitLaneValues &values, int lane);

// Whether the surface can shadow `light`: self shadowing is on and the light
// casts shadows (an ambient light never does).
bool CastsSelfShadow(const RenderInfoTemplate<Hyperboloid> &info, const vLight &light);

// Whether shading adds the reflection map: one is chosen and shows.
bool HasReflectionMap(const RenderInfoTemplate<Hyperboloid> &info);

// u at the hit point p whose v before opening is rawV: what shading takes as
// the hit's u (an arctangent, libm's, which has no lane form with its exact
// results). The pixel pass works it out, one hit after another, only where
// bounds of the angle (AngleBoundsAt) do not settle the hit's texel.
double HitU(const RenderInfoTemplate<Hyperboloid> &info, const Vectormath::Aos::Vector3 &p,
            double rawV);

// The colour Ray_GetColor gives a hit out of the texture's reach: transparent
// black, after the depth composite.
inline void OutOfReachColour(const RenderInfoTemplate<Hyperboloid> &info, double t,
                             PF_PixelFloat &out)
{
    out = PF_PixelFloat{};
    depthComposite(info.depthComposite, t, out);
}

// The colour of the hit at ray parameter t (> 0, finite) of a camera ray in
// object space, written to `out`. Always returns 0. What was worked out ahead
// for this ray and t (null, or for another t: not used) is not worked out
// again.
template <class P>
int Ray_GetColor(const Ray &ray, double t, const RenderInfoTemplate<Hyperboloid> &info,
                 PF_PixelFloat &out, const HitAhead *ahead = nullptr);

// The texture's colour at a hit located ahead and in the texture's reach
// (ahead.outOfReach() false), with its footprint and u worked out ahead
// (ahead.radii and ahead.u set): what Ray_GetColor's lookup gives it, or
// transparent where its footprint reaches no repetition. The pixel pass looks
// up a run's texels before it shades the run, so that the run can be shaded
// in lanes (ShadeRunAhead), and hands the texels of the hits shaded one at a
// time to Ray_GetColor through HitAhead::texels. `lookups` is the run's (or
// the pass's) TexelLookups.
template <class P>
PF_PixelFloat TexelAhead(const RenderInfoTemplate<Hyperboloid> &info, const HitAhead &ahead,
                         TexelLookups<P> &lookups);

// TexelAhead for a hit whose u is not worked out (ahead.u not read), only
// bounds of its angle and where they place its lookup (the hit lanes'
// angleBounded, placed, column, unLo and unHi): true, with its texel, where
// the placement settles the lookup (TexelLookups::fromPlacement) or no
// lookup is made; false, with nothing looked up, where the hit's u is needed.
template <class P>
bool TexelAheadFromAngle(const RenderInfoTemplate<Hyperboloid> &info, const HitAhead &ahead,
                         TexelLookups<P> &lookups, PF_PixelFloat &texel);

// The reflection map's column (16.16) in the world-space direction W, unit
// length: MapColumn from the longitude's angle itself, MapColumnFromBounds
// from bounds of it where they settle the column (true; false where they do
// not).
PF_Fixed MapColumn(const PF_LayerDef &map, const Vectormath::Aos::Vector3 &W);
bool MapColumnFromBounds(const PF_LayerDef &map, const Vectormath::Aos::Vector3 &W,
                         PF_Fixed &column);

// Bounds of the angle whose u is HitU's at the object-space hit p
// (ArctangentBounds); false where none are offered (p on the axis among them).
bool AngleBoundsAt(const RenderInfoTemplate<Hyperboloid> &info, const Vectormath::Aos::Vector3 &p,
                   double &lo, double &hi);

// The reflection map's part of a run's lit hits in the texture's reach,
// worked out ahead from their light lanes (AddReflection's terms), so that
// the run can be shaded in lanes (ShadeRunAhead) and a hit shaded on its own
// samples nothing twice.
struct RunReflections {
    // The map's colour along the hit's mirrored view direction and the
    // reflection's strength, where `mapped`.
    bool mapped[kHitLanes];
    PF_PixelFloat map[kHitLanes];
    float strength[kHitLanes];
    // Where the hit's reflected ray meets the surface again and hides the
    // map (LightLaneValues::occluded), the texel there, where `obstructed`
    // (the hit lanes placed its common lookup; the pixel pass looks it up).
    bool obstructed[kHitLanes];
    PF_PixelFloat obstruction[kHitLanes];
};

// The map's colour and the strength of the reflection of the hits `lit`
// (lanes of a run located ahead, `rays` their camera rays, `lights` their
// light lanes with the reflection), into `out.map` and `out.strength`, as
// AddReflection takes them; `out.mapped` says which. Each lit hit samples
// the map once, in lane order.
template <class P>
void ReflectRunAhead(const RenderInfoTemplate<Hyperboloid> &info, const FootprintLaneHits &rays,
                     const HitLaneValues &values, const LightLaneValues &lights,
                     const bool (&lit)[kHitLanes], RunReflections &out);

// Whether the record asks of shading nothing but the emission, the
// reflection map and at most kLaneLights lights: ShadeRunAhead's condition on
// the record (it also needs the run's light lanes, and with a reflection map
// its reflections).
bool ShadesRunsAhead(const RenderInfoTemplate<Hyperboloid> &info);

// The colours Ray_GetColor gives the first hits of a run, at ray parameters
// t, located ahead and in the texture's reach, with their texels looked up
// (TexelAhead), where the record asks of shading nothing but the emission,
// the lights worked out in lanes and the reflection worked out ahead
// (`reflections`, null without a reflection map): no pivot marker, every
// light in the lanes. Lanes `want` are shaded together, each colour term on
// all of them at once, by Shade's operations in Shade's order, so to the same
// bits; a lane whose shadow needs a texel (LightLaneValues::alone), or whose
// hidden reflection's texel was not looked up ahead, is taken out of `want`
// and left to Ray_GetColor. False, doing nothing, where the record asks for
// more; `lights` is the run's light lanes, null where the record has no
// lights and no reflection map.
bool ShadeRunAhead(const RenderInfoTemplate<Hyperboloid> &info, const double (&t)[kHitLanes],
                   const PF_PixelFloat (&texels)[kHitLanes], const LightLaneValues *lights,
                   const RunReflections *reflections, bool (&want)[kHitLanes],
                   PF_PixelFloat (&out)[kHitLanes]);

// Ray_GetColor, without a call for a hit found out of reach ahead.
template <class P>
inline void ShadeHit(const Ray &ray, double t, const RenderInfoTemplate<Hyperboloid> &info,
                     PF_PixelFloat &out, const HitAhead *ahead)
{
    if (ahead && (ahead->beyondReach || (ahead->t == t && ahead->outOfReach())))
        return OutOfReachColour(info, t, out);
    Ray_GetColor<P>(ray, t, info, out, ahead);
}

// Strength and direction of `light` at the object-space point X. power is the
// falloff (none for ambient lights) times the spot cone; L receives the unit
// direction in which the light travels at X, the zero vector for an ambient
// light, and is left as it was for an unknown light type (power 1).
void GetLightPower(const RenderInfoTemplate<Hyperboloid> &info, const vLight *light,
                   const Vectormath::Aos::Vector4 &X, double &power, Vectormath::Aos::Vector3 &L);

// What the textured surface lets through along a secondary ray that starts on
// it: a filter in x, y, z, w = (alpha-like, red, green, blue), (1, 1, 1, 1)
// when nothing is in the way. Only the crossing farther from the ray's start
// is tested; it counts when it lies ahead of the start and, for a light with a
// position (any but a parallel one), before the light. An opaque texel passes
// "Light Transmission" times its colour; a transparent one passes everything.
// Without a texture layer the surface casts no shadow.
template <class P>
Vectormath::Aos::Vector4 GetObstColor(const RenderInfoTemplate<Hyperboloid> &info, const Ray &ray,
                                      const vLight *light);

extern template int Ray_GetColor<PF_PixelFloat>(const Ray &, double,
                                                const RenderInfoTemplate<Hyperboloid> &,
                                                PF_PixelFloat &, const HitAhead *);
extern template int Ray_GetColor<PF_Pixel16>(const Ray &, double,
                                             const RenderInfoTemplate<Hyperboloid> &,
                                             PF_PixelFloat &, const HitAhead *);
extern template int Ray_GetColor<PF_Pixel>(const Ray &, double,
                                           const RenderInfoTemplate<Hyperboloid> &,
                                           PF_PixelFloat &, const HitAhead *);
extern template Vectormath::Aos::Vector4
GetObstColor<PF_PixelFloat>(const RenderInfoTemplate<Hyperboloid> &, const Ray &, const vLight *);
extern template Vectormath::Aos::Vector4
GetObstColor<PF_Pixel16>(const RenderInfoTemplate<Hyperboloid> &, const Ray &, const vLight *);
extern template Vectormath::Aos::Vector4
GetObstColor<PF_Pixel>(const RenderInfoTemplate<Hyperboloid> &, const Ray &, const vLight *);
