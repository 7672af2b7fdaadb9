// A camera layer: its lens and depth-of-field settings and its projection.
// Stream getters read 0.0 (and "off") after an error; the camera type reads
// AEGP_CameraType_NONE (-1).
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_Layer.h"

namespace AEO {

class CameraLayer : public Layer {
public:
    explicit CameraLayer(AEGP_LayerH layer) : Layer(layer) {}

    // Distance from the eye to the image plane, in pixels.
    double GetZoom(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                   A_Boolean preExpression = false);
    // The camera's depth-of-field switch.
    bool GetDepthOfField(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                         A_Boolean preExpression = false);
    double GetFocusDistance(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                            A_Boolean preExpression = false);
    double GetAperture(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                       A_Boolean preExpression = false);
    // Blur level in percent.
    double GetBlurLevel(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                        A_Boolean preExpression = false);

    // Perspective (0) or orthographic (1).
    AEGP_CameraType GetCameraType();

private:
    Suite<AEGP_CameraSuite2> camera_suite_;
};

} // namespace AEO
