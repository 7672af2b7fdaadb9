// The texture colour at a ray's hit, filtered over the ray's footprint.
//
// Three layers:
// - getSampRadius turns the footprint of the ray at the hit into sampling
//   radii in texture pixels, along u (around the axis) and v (along it).
// - TopologycalSampling places (u, v) on the repeating layout along the axis
//   (the sheets' base copies and their extension repetitions with the
//   "Interval" gaps, "Flip Vertical" mirroring and "Screw" twist) and blends
//   in the neighbouring repetition when the footprint reaches across a gap.
// - ULoopSampling makes one host area sample and, when the footprint crosses
//   the seam where u wraps around, samples the other side too and blends.
// Each lookup costs one to four host area samples; the filtering is the
// host's area sampling over the box of the two radii.
//
// The templates are instantiated for PF_PixelFloat, PF_Pixel16 and PF_Pixel,
// the depth of the texture world; they differ only in the host sampler and
// always deliver float colour.
//
// Thread safety: called from the host's per-pixel iteration on many threads
// at once. The record is only read, everything else lives on the stack, no
// heap, no locks (beyond the first fill of a sampling-suite slot in the
// record's suite cache).
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "imaging/AreaSample.h"
#include "scene/RenderInfo.h"
#include "scene/Vectormath.h"
#include "tracer/Ray.h"

#include <type_traits>
#include <utility>

// Largest footprint radius before textureBlur applies, and after it.
inline constexpr double kFootprintCap = 32768.0;
inline constexpr double kSampleRadiusCap = 128.0;

// Sampling radii rx, ry in texture pixels for the hit at ray parameter t, with
// pn the hit in normalised coordinates (object coordinates / shape.radii) and
// N the unit surface normal there. Both radii lie in [0, 128]; a footprint that
// comes out as NaN or infinite is capped like a huge one.
void getSampRadius(const RenderInfoTemplate<Hyperboloid> &info, const Ray &ray, const double &t,
                   const Vectormath::Aos::Vector3 &pn, const Vectormath::Aos::Vector3 &N,
                   double &rx, double &ry);

// An upper bound of the ry that getSampRadius gives for the ray parameter t,
// the hit pn and the unit normal N there, with d the ray's direction: far
// cheaper than the footprint itself, so that a caller can rule out a lookup
// the texture cannot reach before measuring it. In [0, 128]; 128 where the
// record's footprintBound is 0 (no bound holds) or the hit is not finite.
double sampRadiusYBound(const RenderInfoTemplate<Hyperboloid> &info, double t,
                        const Vectormath::Aos::Vector3 &pn, const Vectormath::Aos::Vector3 &d,
                        const Vectormath::Aos::Vector3 &N);

// The record's factor of that bound (its footprintBound, which the record's
// beginPass sets): 0 where the record's scales lie outside the range the
// bound is proven for.
double footprintBoundScale(const RenderInfoTemplate<Hyperboloid> &info);

// Where row v of the hit pn lies among the texture's repetitions, for the
// tests TopologycalSampling makes, at any radius ry: which repetition v
// falls into, whether the texture is shown there, and which neighbouring
// repetition a lookup of radius ry reaches: the next one when v lies within
// 1 + ry texel rows before its start, else the previous one when v lies
// within ry rows past its end. Made once per hit, it answers for several
// radii without redoing the layout's division.
class RowReach {
public:
    RowReach() = default; // no texture: reaches nothing
    // What one holds, as the hit lanes (tracer/HitLanes.h) work it out.
    struct Parts {
        bool hasTexture;
        int repetition;
        bool onRepetition, nextExists, previousExists;
        double rowsToNext, rowsPastPrevious;
    };
    explicit RowReach(const Parts &p)
        : hasTexture_(p.hasTexture), repetition_(p.repetition), onRepetition_(p.onRepetition),
          nextExists_(p.nextExists), previousExists_(p.previousExists), rowsToNext_(p.rowsToNext),
          rowsPastPrevious_(p.rowsPastPrevious)
    {
    }
    Parts parts() const
    {
        return {hasTexture_,  repetition_, onRepetition_,   nextExists_,
                previousExists_, rowsToNext_, rowsPastPrevious_};
    }
    RowReach(const RenderInfoTemplate<Hyperboloid> &info, const Vectormath::Aos::Vector3 &pn,
             double v, const PF_LayerDef *texture);
    int repetition() const { return repetition_; }
    bool onRepetition() const { return onRepetition_; }
    // The neighbouring repetition radius ry reaches, or repetition() when none.
    int neighbour(double ry) const;
    // Whether a lookup of radius ry fetches anything: false when the texture is
    // empty, or when v lies on no repetition and no neighbouring repetition
    // lies within ry; the lookup is then transparent black whatever u and rx
    // are. Lets callers skip the costly parts of a hit the texture cannot reach.
    bool reaches(double ry) const;
    // Whether reaches(ry) holds for every ry: v lies on a repetition of a
    // texture with pixels.
    bool reachesAtAnyRadius() const { return hasTexture_ && onRepetition_; }

private:
    bool hasTexture_ = false;
    int repetition_ = 0;
    bool onRepetition_ = false, nextExists_ = false, previousExists_ = false;
    double rowsToNext_ = 0.0, rowsPastPrevious_ = 0.0;
};

// Where the common lookup of a hit on repetition `repetition` (at normalised
// height normalisedZ, of row rawV before opening) falls for the two ends
// angleLo <= angleHi of bounds of its angle: HitU's steps and the lookup's
// from the angle on. `placed` where both ends take the same turns at every
// wrap (the u of a negative angle, the opened u, the twisted u) and give the
// same column within FixedFromDouble's one-step range: every step is then
// monotone between the ends, and every angle between them gives that
// column. unLo and unHi are the ends' u on the repetition, for the seam
// test, which depends on the lookup's radius. The hit lanes (HitLanes.h)
// place a run's hits by the same steps.
struct AnglePlacement {
    bool placed = false;
    PF_Fixed column = 0;
    double unLo = 0.0, unHi = 0.0;
};
AnglePlacement PlaceAngleBounds(const RenderInfoTemplate<Hyperboloid> &info, double angleLo,
                                double angleHi, double rawV, double normalisedZ, int repetition);

// The one host sample of the common lookup of a hit placed by
// PlaceAngleBounds, on the record's texture (with pixels): true, with the
// sample's 16.16 position and radii, where every angle within the bounds
// gives that lookup (the placement is placed, the hit lies on a repetition
// that a lookup of radius ry does not reach past, and neither end reaches
// over the seam with radius rx). The steps TexelLookups::fromPlacement and
// the hit lanes (PlaceLookupLanes) take.
struct PlacedSample {
    PF_Fixed x, y, xRadius, yRadius;
};
bool CommonPlacedSample(const RenderInfoTemplate<Hyperboloid> &info, const RowReach &reach,
                        const Vectormath::Aos::Vector3 &pn, const AnglePlacement &placement,
                        double v, double rx, double ry, PlacedSample &sample);

// TopologycalSampling of `texture` (the record's texture layer) for a hit
// placed by PlaceAngleBounds: true, with the lookup made and its error in
// `err`, where every angle within the bounds gives the common lookup at the
// placed column (as TexelLookups::fromPlacement); false, with nothing
// sampled, where the caller needs the hit's u.
template <class P>
bool TopologycalSamplingFromPlacement(const RenderInfoTemplate<Hyperboloid> &info,
                                      const RowReach &reach, const Vectormath::Aos::Vector3 &pn,
                                      const AnglePlacement &placement, double v, double rx,
                                      double ry, const PF_LayerDef *texture, PF_PixelFloat &out,
                                      int &err);

// TopologycalSampling of the record's texture for many hits in a row (the
// texels of a run of pixels): what it asks of the record, the texture and the
// suite cache is asked once, and the common lookup (one host sample on the
// hit's own repetition, clear of the seam) goes straight to the host's
// sampler. Every other lookup, and every lookup where the texture has no
// pixels or the host lacks the suite, takes TopologycalSampling itself: the
// same values and errors, bit for bit, either way.
//
// Thread safety: one thread's; it reads the record, which must outlive it.
template <class P> class TexelLookups {
public:
    explicit TexelLookups(const RenderInfoTemplate<Hyperboloid> &info);
    // TopologycalSampling<P>(info, reach, pn, u, v, rx, ry, &info.textureLayer, out).
    int operator()(const RowReach &reach, const Vectormath::Aos::Vector3 &pn, double u, double v,
                   double rx, double ry, PF_PixelFloat &out);
    // The same lookup for a hit whose u is known only to be
    // info.shape.openedU(info, Hyperboloid::uOfAngle(a), rawV) for some angle
    // a within bounds (ArctangentBounds), placed by PlaceAngleBounds. Made,
    // with its error in `err`, where every such angle gives the common
    // lookup at the same column: `placement` is placed, and neither end
    // reaches over the seam. False, with nothing sampled, where that is not
    // shown; the caller then takes the angle itself and the lookup above.
    bool fromPlacement(const RowReach &reach, const Vectormath::Aos::Vector3 &pn,
                       const AnglePlacement &placement, double v, double rx, double ry,
                       PF_PixelFloat &out, int &err);
    // Whether the common lookup goes straight to the host's sampler (the
    // texture has pixels and the host the suite): then the lookup of a hit
    // whose sample is known is that one sample.
    bool samplesDirectly() const { return suite_ != nullptr; }
    // That sample, at 16.16 (x, y) with the 16.16 radii, as fromPlacement
    // makes it (the hit lanes work the numbers out, HitLanes.h). Returns
    // the host's error. Only where samplesDirectly().
    int sample(PF_Fixed x, PF_Fixed y, PF_Fixed xRadius, PF_Fixed yRadius, PF_PixelFloat &out)
    {
        pb_.x_radius = xRadius;
        pb_.y_radius = yRadius;
        return area_sample_detail::SuiteSample<P>(suite_, info_.inData->effect_ref, x, y, pb_, out);
    }

private:
    using Suite = std::remove_pointer_t<decltype(area_sample_detail::SamplingSuite<P>(
        std::declval<AEGP_SuiteHandler &>()))>;
    const RenderInfoTemplate<Hyperboloid> &info_;
    const Suite *suite_ = nullptr; // null: every lookup takes TopologycalSampling
    PF_SampPB pb_{};               // the radii change from lookup to lookup
    double width_ = 0.0, height_ = 0.0;
};

// Texture colour at (u, v) (after the opening and slide corrections) of the
// hit pn, sampled from `texture` (the record's textureLayer) over the radii
// rx, ry. A hit on no repetition is transparent black unless a neighbouring
// repetition lies within the radius. The blended alpha may exceed 1. Returns
// the first host sampling error (0 when none); callers need not check it.
template <class P>
int TopologycalSampling(const RenderInfoTemplate<Hyperboloid> &info,
                        const Vectormath::Aos::Vector3 &pn, double u, double v, double rx,
                        double ry, const PF_LayerDef *texture, PF_PixelFloat &out);
// The same with the hit's place among the repetitions already worked out:
// `reach` must be RowReach(info, pn, v, texture).
template <class P>
int TopologycalSampling(const RenderInfoTemplate<Hyperboloid> &info, const RowReach &reach,
                        const Vectormath::Aos::Vector3 &pn, double u, double v, double rx,
                        double ry, const PF_LayerDef *texture, PF_PixelFloat &out);

// One seam-aware fetch at (u, v) of the world in pb.src with u period P: a
// hit within 1 + rx texture pixels below u = P also samples u - P, one within
// rx pixels above u = 0 also samples u + P, and the two are blended. ry is not
// used. Returns the first host sampling error.
template <class P>
int ULoopSampling(const RenderInfoTemplate<Hyperboloid> &info, const double &period, double u,
                  double v, double rx, double ry, const PF_SampPB &pb, PF_PixelFloat &out);

// The record's suite cache for the samplers. The cache is the one member of
// the shared, read-only record that render threads may fill (thread-safely).
inline AEGP_SuiteHandler &SamplingSuites(const RenderInfoTemplate<Hyperboloid> &info)
{
    return const_cast<AEGP_SuiteHandler &>(info.suites);
}

extern template int TopologycalSampling<PF_PixelFloat>(const RenderInfoTemplate<Hyperboloid> &,
                                                       const Vectormath::Aos::Vector3 &, double,
                                                       double, double, double,
                                                       const PF_LayerDef *, PF_PixelFloat &);
extern template int TopologycalSampling<PF_Pixel16>(const RenderInfoTemplate<Hyperboloid> &,
                                                    const Vectormath::Aos::Vector3 &, double,
                                                    double, double, double, const PF_LayerDef *,
                                                    PF_PixelFloat &);
extern template int TopologycalSampling<PF_Pixel>(const RenderInfoTemplate<Hyperboloid> &,
                                                  const Vectormath::Aos::Vector3 &, double,
                                                  double, double, double, const PF_LayerDef *,
                                                  PF_PixelFloat &);
extern template int TopologycalSampling<PF_PixelFloat>(const RenderInfoTemplate<Hyperboloid> &,
                                                       const RowReach &,
                                                       const Vectormath::Aos::Vector3 &, double,
                                                       double, double, double,
                                                       const PF_LayerDef *, PF_PixelFloat &);
extern template int TopologycalSampling<PF_Pixel16>(const RenderInfoTemplate<Hyperboloid> &,
                                                    const RowReach &,
                                                    const Vectormath::Aos::Vector3 &, double,
                                                    double, double, double, const PF_LayerDef *,
                                                    PF_PixelFloat &);
extern template int TopologycalSampling<PF_Pixel>(const RenderInfoTemplate<Hyperboloid> &,
                                                  const RowReach &,
                                                  const Vectormath::Aos::Vector3 &, double, double,
                                                  double, double, const PF_LayerDef *,
                                                  PF_PixelFloat &);
extern template int ULoopSampling<PF_PixelFloat>(const RenderInfoTemplate<Hyperboloid> &,
                                                 const double &, double, double, double, double,
                                                 const PF_SampPB &, PF_PixelFloat &);
extern template int ULoopSampling<PF_Pixel16>(const RenderInfoTemplate<Hyperboloid> &,
                                              const double &, double, double, double, double,
                                              const PF_SampPB &, PF_PixelFloat &);
extern template int ULoopSampling<PF_Pixel>(const RenderInfoTemplate<Hyperboloid> &,
                                            const double &, double, double, double, double,
                                            const PF_SampPB &, PF_PixelFloat &);

extern template class TexelLookups<PF_PixelFloat>;
extern template class TexelLookups<PF_Pixel16>;
extern template class TexelLookups<PF_Pixel>;
