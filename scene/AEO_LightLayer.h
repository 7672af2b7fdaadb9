// A light layer: its type, colour, strength, cone and shadow settings.
// Stream getters read 0.0 (colour: all four channels 0) after an error; the
// light type reads AEGP_LightType_NONE (-1).
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_Layer.h"

namespace AEO {

class LightLayer : public Layer {
public:
    explicit LightLayer(AEGP_LayerH layer) : Layer(layer) {}

    // Intensity in percent.
    double GetIntensity(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                        A_Boolean preExpression = false);
    // Colour as alpha, red, green, blue.
    AEGP_ColorVal GetColor(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                           A_Boolean preExpression = false);
    // Full cone angle in degrees.
    double GetConeAngle(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                        A_Boolean preExpression = false);
    // Cone feather in percent.
    double GetConeFeather(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                          A_Boolean preExpression = false);
    // Shadow darkness in percent.
    double GetShadowDarkenss(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                             A_Boolean preExpression = false);
    double GetShadowDiffusion(const A_Time &time,
                              AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                              A_Boolean preExpression = false);

    // Parallel (0), spot (1), point (2) or ambient (3).
    AEGP_LightType GetLightType();

private:
    Suite<AEGP_LightSuite2> light_suite_;
};

} // namespace AEO
