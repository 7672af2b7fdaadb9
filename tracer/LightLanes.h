// The lights on a run of pixels' hits, lane by lane.
//
// Every lit hit works out, for each light, the light's power and direction
// there, whether the surface itself shadows it (a shadow ray's crossing with
// the surface) and the diffuse and highlight terms' factors: a chain of
// square roots and divisions per light that one hit at a time leaves the
// processor waiting on. None of it needs the hit's colour, so the pixel pass
// works it out for the eight hits of a run at once, after their hit lanes
// (HitLanes.h), and shading only adds the terms with the texel's colour. A
// shadow ray that meets the surface within its reach needs the texel there,
// which only the host's sampler gives: that light is lit one hit at a time.
// The reflection map's direction, footprint and occluding crossing are
// worked out alike; its angles (libm's arccosine and arctangent) and its
// samples stay with shading.
//
// The kernel is built like the other lanes: for the build's own instruction
// set and, on x86-64, for x86-64-v3 and x86-64-v4. Every build does exactly the
// operations of the one-hit code (FacingViewer, GetLightPower, Falloff,
// ShadowFactors, GetObstColor's crossing and bound, and AddLight's terms)
// lane by lane, in the same order and precision and without contraction into
// fused multiply-adds, so every lane holds the bits AddLight works with.
//
// Thread safety: pure functions of their arguments; call from any thread.
#pragma once

#include "scene/RenderInfo.h"
#include "tracer/FootprintLanes.h"
#include "tracer/HitLanes.h"

// The first this many lights of the record's list are worked out in lanes;
// any further ones are lit one hit at a time.
inline constexpr int kLaneLights = 4;

// One light as the lanes read it.
struct LightLaneLight {
    int type;                       // host light type (0 parallel, 1 spot, 2 point, 3 ambient)
    float position[3], axis[3];     // in the surface's frame
    float parallel[3];              // the unit axis: a parallel light's direction
    double intensity, coneCos, coneFeather;
    bool shadows;                   // self shadowing applies to it
    bool obstructs;                 // the surface can stand in its way (a texture is chosen)
    float dark, plain;              // its shadow darkness and 1 - darkness
    float diffuse;                  // the material's ambient (ambient light) or diffuse factor
};

// What the lanes read of the record, worked out once per pass.
struct LightLaneScene {
    int lights; // the record's first `lights` lights are in lanes
    LightLaneLight light[kLaneLights];
    int falloffMode;
    double falloffRadius, falloffDistance;
    float transmission; // "Light Transmission"
    float invRadiiSquared[3];
    bool reflects;         // a reflection map is shown
    bool occludes;         // and self shadowing can hide it (a texture is chosen)
    float toWorld[3][3];   // the surface's frame in the world, by columns
    double shininess;      // the highlights' exponent
    float specular;        // "Specular"
    // The reflection's strength (ReflectionStrength): its intensity and
    // the exponent of its roll-off.
    double reflectionIntensity, reflectionExponent;
    double mapWidth; // the reflection map's width, for its column
};

// Each light's terms on each lane's hit, flags as 1 or 0 (in doubles, as the
// lanes work them out).
struct LightLaneValues {
    int lights;
    double alone[kLaneLights][kHitLanes];      // its shadow needs a texel: lit one hit at a time
    float shadow[kLaneLights][kHitLanes];      // the shadow factor, the same on every channel
    double diffuseOn[kLaneLights][kHitLanes];  // the diffuse term applies
    float diffuseK[kLaneLights][kHitLanes];    // and its factor
    double specularOn[kLaneLights][kHitLanes]; // the highlight applies
    float E[kLaneLights][kHitLanes];           // the light's strength on the hit
    double toward[kLaneLights][kHitLanes];     // the highlight's base: its power is the highlight
    // The highlight's factor (E specular) pow(toward, shininess) in single
    // precision, where highlightSettled is 1: worked out from bounds of the
    // power (PowerBounds), which settle it unless they straddle a rounding.
    float highlight[kLaneLights][kHitLanes];
    double highlightSettled[kLaneLights][kHitLanes];
    // The reflection (AddReflection), where the scene reflects: the mirrored
    // view direction, the ray parameter of its crossing with the surface
    // where that hides the map (a texel is needed there; `occluded` 1), the
    // direction in the world, and the map footprint's radii before the
    // latitude and "Texture Blur" scale them.
    float rx[kHitLanes], ry[kHitLanes], rz[kHitLanes];
    double occluded[kHitLanes], occlusionT[kHitLanes];
    float wx[kHitLanes], wy[kHitLanes], wz[kHitLanes];
    double ru[kHitLanes], rv[kHitLanes];
    // The reflection's strength in single precision, where
    // strengthSettled is 1: from bounds of its power, as the highlights'.
    float strength[kHitLanes];
    double strengthSettled[kHitLanes];
    // The map's column of the direction in the world (16.16), where
    // mapPlaced is 1: from bounds of its longitude's angle, as
    // MapColumnFromBounds (Shading.h) places it.
    double mapPlaced[kHitLanes];
    PF_Fixed mapColumn[kHitLanes];
};

// The record's part of the lights.
LightLaneScene MakeLightLaneScene(const RenderInfoTemplate<Hyperboloid> &info);

// All lanes with the fastest build this processor runs: `hits` and their
// lanes `located` as LocateHitLanes gives them.
void LightHitLanes(const LightLaneScene &scene, const FootprintLaneHits &hits,
                   const HitLaneValues &located, LightLaneValues &out);

// The builds on their own, for tests. The x86-64-v3 and x86-64-v4 ones
// return false, doing nothing, where they were not built or the processor
// lacks them.
void LightHitLanesBaseline(const LightLaneScene &scene, const FootprintLaneHits &hits,
                           const HitLaneValues &located, LightLaneValues &out);
bool LightHitLanesV3(const LightLaneScene &scene, const FootprintLaneHits &hits,
                     const HitLaneValues &located, LightLaneValues &out);
bool LightHitLanesV4(const LightLaneScene &scene, const FootprintLaneHits &hits,
                     const HitLaneValues &located, LightLaneValues &out);
