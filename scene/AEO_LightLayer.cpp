#include "scene/AEO_LightLayer.h"

namespace AEO {

double LightLayer::GetIntensity(const A_Time &time, AEGP_LTimeMode timeMode,
                                A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_INTENSITY, time, timeMode, preExpression);
}

AEGP_ColorVal LightLayer::GetColor(const A_Time &time, AEGP_LTimeMode timeMode,
                                   A_Boolean preExpression) {
    return GetStreamValue(AEGP_LayerStream_COLOR, timeMode, time, preExpression).color;
}

double LightLayer::GetConeAngle(const A_Time &time, AEGP_LTimeMode timeMode,
                                A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_CONE_ANGLE, time, timeMode, preExpression);
}

double LightLayer::GetConeFeather(const A_Time &time, AEGP_LTimeMode timeMode,
                                  A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_CONE_FEATHER, time, timeMode, preExpression);
}

double LightLayer::GetShadowDarkenss(const A_Time &time, AEGP_LTimeMode timeMode,
                                     A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_SHADOW_DARKNESS, time, timeMode, preExpression);
}

double LightLayer::GetShadowDiffusion(const A_Time &time, AEGP_LTimeMode timeMode,
                                      A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_SHADOW_DIFFUSION, time, timeMode, preExpression);
}

AEGP_LightType LightLayer::GetLightType() {
    AEGP_LightType type = AEGP_LightType_NONE;
    if (!call(light_suite_, &AEGP_LightSuite2::AEGP_GetLightType, layer_, &type))
        return AEGP_LightType_NONE;
    return type;
}

} // namespace AEO
