// One composition light, expressed in the surface's local frame.
//
// Made on host memory with 16-byte alignment (aeAlignedBase<16>) while the
// scene is built, owned by the render record, which deletes it at the end of
// the frame. Written only while the scene is built; the render threads read
// it concurrently afterwards without locks.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "host/aeMemory.h"
#include "scene/Vectormath.h"

// Host light types (vLight::type).
inline constexpr A_long kParallelLight = 0;
inline constexpr A_long kSpotLight = 1;
inline constexpr A_long kPointLight = 2;
inline constexpr A_long kAmbientLight = 3;

class vLight : public aeAlignedBase<16> {
public:
    // Light frame to the surface's local frame: column 3 is the light's
    // position, column 2 its pointing axis.
    Vectormath::Aos::Matrix4 lightToObject;
    // The light's colour, 0..1 per channel (alpha, red, green, blue).
    PF_PixelFloat color{0.0f, 0.0f, 0.0f, 0.0f};
    // Host light type: 0 parallel, 1 spot, 2 point, 3 ambient; -1 when unknown.
    A_long type = -1;
    // 1.0 at 100 %.
    double intensity = 0.0;
    // Cosine of half the cone angle (spot lights).
    double coneCos = 0.0;
    // Cone feather as a fraction (spot lights).
    double coneFeather = 0.0;
    // Shadow darkness as a fraction, within [0, 1].
    float shadowDarkness = 0.0f;
    // Shadow diffusion in pixels, unscaled.
    double shadowDiffusion = 0.0;
    bool castsShadows = false;
};
