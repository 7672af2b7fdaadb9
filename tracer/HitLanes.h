// The first steps of shading a run of pixels' hits, lane by lane.
//
// Before a hit is lit, shading places it on the surface, finds its row among
// the texture's repetitions and asks whether any texture lookup can reach it
// at all (Ray_GetColor's two fast paths: a row beyond every repetition's
// reach, then a cheap bound of the footprint). Most of a frame's surface may
// lie beyond the texture's reach, and each of those steps is a short chain of
// divisions that one hit at a time leaves the processor waiting on. Worked
// out for the eight hits of a coverage run at once, the lanes share the
// instructions (four or eight to one) and the chains overlap; the pixel pass
// then settles the hits out of reach without shading them, and shades the
// others from these values (HitAhead).
//
// The kernel is built like the corner and footprint lanes: for the build's
// own instruction set and, on x86-64, for x86-64-v3 and x86-64-v4, the widest
// the processor supports picked once. Every build does exactly the operations of the one-hit
// code (Ray::pointAt, NormalisedPoint, getVFromCoordinate, openedV, RowReach,
// SurfaceNormal, sampRadiusYBound, ArctangentBounds, PlaceAngleBounds, and
// CommonPlacedSample's tests and conversions) lane by lane, in the same order
// and precision and without contraction into fused multiply-adds, so every
// lane holds the bits LookAhead gives for that hit.
//
// Thread safety: pure functions of their arguments; call from any thread.
#pragma once

#include "scene/RenderInfo.h"
#include "tracer/FootprintLanes.h"

// Lanes of one call: the hits of one coverage run.
inline constexpr int kHitLanes = kFootprintLanes;

// What the first steps read of the record, worked out once per pass
// (MakeHitLaneScene).
struct HitLaneScene {
    float invRadii[3], invRadiiSquared[3]; // the normalised point and the normal
    float c;                               // the z semi-axis, in single precision
    double axialScale;                     // textureHeight times the opening factor
    double rawVLimit; // |rawV| up to this keeps |axialScale rawV / c| below 1e149
    bool hasRows;                          // the texture layer has rows
    double rowHeight;                      // 1 / rows
    double v0, openFactor;                 // the opening about the fixed row
    bool hasTexture;                       // a texture with pixels
    double gap, rows;                      // "Interval", the texture's rows
    double tailFirst, tailLast;            // the copies on the tail sheet (z > 0)
    double headFirst, headLast;            // and on the head sheet
    bool skipsOutOfReach;                  // the fast paths apply (textured, no pivot)
    bool fetchesAlways;                    // "Show Pivot": every lookup runs
    double footprintBound;                 // the pass's bound factor, 0: none
    bool perspective;
    double blur;                           // "Texture Blur"
    // The u steps from the angle on (PlaceAngleBounds): the opening's fixed
    // column, "Texture Slide", "Screw", and the texture's width.
    double u0, slide, screw, width;
    // The sampled row of a mirrored repetition (SampledV): "Flip Vertical",
    // and the row a mirrored one counts down from, 1 - 1 / rows.
    bool flip;
    double flipTop;
};

// Each lane's values, as LookAhead (Shading.h) gives them for its hit. The
// repetition (an int) and the flags (1 or 0) are held as doubles, as the
// lanes work them out.
struct HitLaneValues {
    bool hasTexture; // the same for every lane: a texture with pixels
    float px[kHitLanes], py[kHitLanes], pz[kHitLanes]; // the hit (Ray::pointAt)
    double rawV[kHitLanes], v[kHitLanes];
    float nx[kHitLanes], ny[kHitLanes], nz[kHitLanes]; // lanes in reach only
    double repetition[kHitLanes];
    double onRepetition[kHitLanes], nextExists[kHitLanes], previousExists[kHitLanes];
    double rowsToNext[kHitLanes], rowsPastPrevious[kHitLanes];
    double outOfReach[kHitLanes];
    // Bounds of the angle of the hit's u (AngleBoundsAt), where angleBounded
    // is 1; lanes where it is 0 hold no bounds.
    double angleLo[kHitLanes], angleHi[kHitLanes], angleBounded[kHitLanes];
    // Where the common lookup of the hit falls for both ends of those bounds
    // (PlaceAngleBounds, TextureSampling.h), where angleBounded is 1; the
    // column only where placed is 1.
    double placed[kHitLanes], unLo[kHitLanes], unHi[kHitLanes];
    PF_Fixed column[kHitLanes];
    double seamPeriod[kHitLanes]; // the u period at the hit (SeamUPeriodAtHit)
    // Set by PlaceLookupLanes, once the footprints are measured: 1 where a
    // placed hit's lookup is the common one (TexelLookups::fromPlacement
    // makes one host sample on the hit's own repetition, clear of the seam,
    // with radii within the sampler's range), with that sample's row and
    // radii in 16.16 fixed point; 0 elsewhere, where the one-hit steps
    // decide.
    double common[kHitLanes];
    PF_Fixed row[kHitLanes], xRadius[kHitLanes], yRadius[kHitLanes];
};

// The record's part of the first steps.
HitLaneScene MakeHitLaneScene(const RenderInfoTemplate<Hyperboloid> &info);

// All lanes with the fastest build this processor runs. The hits are given
// as the footprint lanes take them.
void LocateHitLanes(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out);

// Where the placed hits' lookups are the common one, from their footprints'
// radii (CommonPlacedSample's tests and FixedFromDouble's and
// FixedSampleRadius's one-step conversions, lane by lane): fills `common`,
// `row`, `xRadius` and `yRadius` of `values`, which LocateHitLanes filled.
// A lane is only meaningful where its angle is bounded.
void PlaceLookupLanes(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                      HitLaneValues &values);

// The builds on their own, for tests. The x86-64-v3 and x86-64-v4 ones
// return false, doing nothing, where they were not built or the processor
// lacks them.
void PlaceLookupLanesBaseline(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                              HitLaneValues &values);
bool PlaceLookupLanesV3(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                        HitLaneValues &values);
bool PlaceLookupLanesV4(const HitLaneScene &scene, const FootprintLaneRadii &radii,
                        HitLaneValues &values);
void LocateHitLanesBaseline(const HitLaneScene &scene, const FootprintLaneHits &hits,
                            HitLaneValues &out);
bool LocateHitLanesV3(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out);
bool LocateHitLanesV4(const HitLaneScene &scene, const FootprintLaneHits &hits, HitLaneValues &out);
