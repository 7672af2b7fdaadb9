// The texture footprints of a run of pixels' hits, lane by lane.
//
// A textured hit's footprint (getSampRadius) is a chain of square roots and
// divisions that the processor's one divider works through one after
// another, hit after hit. Worked out for the eight hits of a coverage run at
// once, the lanes share those instructions (four or eight to one), so the
// pixel pass measures the run's footprints here before it shades the run's
// pixels. The kernel is built like the corner lanes: for the build's own
// instruction set and, on x86-64, for x86-64-v3 and x86-64-v4, the widest the
// processor supports picked once. Every build does exactly the operations of the one-hit code
// (the hit point, its normalised point and normal, the u tangent, the
// incidence, the surface metric and the caps) lane by lane, in the same
// order and precision and without contraction into fused multiply-adds, so
// every lane's radii are the bits getSampRadius gives for that hit.
//
// Thread safety: pure functions of their arguments; call from any thread.
#pragma once

#include "scene/RenderInfo.h"

// Lanes of one call: the hits of one coverage run.
inline constexpr int kFootprintLanes = 8;

// What the footprint needs of the record, in the precision the one-hit code
// uses, worked out once per run (FootprintScene).
struct FootprintLaneScene {
    float invRadii[3], invRadiiSquared[3]; // the hit's normalised point and normal
    float radiiX, radiiY;                  // the u tangent
    double a, b, c;                        // the semi-axes, for the surface metric
    double inverseOpen, openBlend, axialScale; // as the surface metric picks them
    bool perspective;
    double zoom;      // the image plane's z (perspective only)
    double widthK;    // texture width times the opening factor
    double heightK;   // texture height times the opening factor
    double blur;      // "Texture Blur"
};

// One hit per lane: the ray (origin and unit direction) and its parameter.
struct FootprintLaneHits {
    float ox[kFootprintLanes], oy[kFootprintLanes], oz[kFootprintLanes];
    float dx[kFootprintLanes], dy[kFootprintLanes], dz[kFootprintLanes];
    double t[kFootprintLanes];
};

// The sampling radii of each lane's hit, as getSampRadius gives them.
struct FootprintLaneRadii {
    double rx[kFootprintLanes], ry[kFootprintLanes];
};

// The record's part of the footprint, as getSampRadius reads it.
FootprintLaneScene FootprintScene(const RenderInfoTemplate<Hyperboloid> &info);

// All lanes with the fastest build this processor runs.
void MeasureFootprintLanes(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                           FootprintLaneRadii &out);

// The builds on their own, for tests. The x86-64-v3 and x86-64-v4 ones
// return false, doing nothing, where they were not built or the processor
// lacks them.
void MeasureFootprintLanesBaseline(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                                   FootprintLaneRadii &out);
bool MeasureFootprintLanesV3(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                             FootprintLaneRadii &out);
bool MeasureFootprintLanesV4(const FootprintLaneScene &scene, const FootprintLaneHits &hits,
                             FootprintLaneRadii &out);
