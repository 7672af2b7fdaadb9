#include "scene/AEO_CameraLayer.h"

namespace AEO {

namespace {

// The host keeps the switch as a number; it counts as on when the low byte of
// its integer value is set. Values no 32-bit integer can hold (and NaN) count
// as off rather than being converted.
bool SwitchIsOn(double value) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return false;
    return (static_cast<A_long>(value) & 0xFF) != 0;
}

} // namespace

double CameraLayer::GetZoom(const A_Time &time, AEGP_LTimeMode timeMode, A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_ZOOM, time, timeMode, preExpression);
}

bool CameraLayer::GetDepthOfField(const A_Time &time, AEGP_LTimeMode timeMode,
                                  A_Boolean preExpression) {
    return SwitchIsOn(GetOneDStream(AEGP_LayerStream_DEPTH_OF_FIELD, time, timeMode, preExpression));
}

double CameraLayer::GetFocusDistance(const A_Time &time, AEGP_LTimeMode timeMode,
                                     A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_FOCUS_DISTANCE, time, timeMode, preExpression);
}

double CameraLayer::GetAperture(const A_Time &time, AEGP_LTimeMode timeMode,
                                A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_APERTURE, time, timeMode, preExpression);
}

double CameraLayer::GetBlurLevel(const A_Time &time, AEGP_LTimeMode timeMode,
                                 A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_BLUR_LEVEL, time, timeMode, preExpression);
}

AEGP_CameraType CameraLayer::GetCameraType() {
    AEGP_CameraType type = AEGP_CameraType_NONE;
    if (!call(camera_suite_, &AEGP_CameraSuite2::AEGP_GetCameraType, layer_, &type))
        return AEGP_CameraType_NONE;
    return type;
}

} // namespace AEO
