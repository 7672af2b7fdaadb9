#include "scene/AEO_Composition.h"

namespace AEO {

Composition::Composition(AEGP_CompH comp) : comp_(comp) { requireHandle(comp); }

AEGP_ItemH Composition::GetItem() {
    AEGP_ItemH item = nullptr;
    if (!call(comp_suite_, &AEGP_CompSuite5::AEGP_GetItemFromComp, comp_, &item)) return nullptr;
    return item;
}

A_long Composition::GetNumLayers() {
    A_long count = 0;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetCompNumLayers, comp_, &count)) return 0;
    return count;
}

AEGP_LayerH Composition::GetLayerByIndex(A_long index) {
    AEGP_LayerH layer = nullptr;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetCompLayerByIndex, comp_, index, &layer))
        return nullptr;
    return layer;
}

double Composition::GetDefaultCameraDistanceToImagePlane() {
    if (err() != PF_Err_NONE) return 0.0;
    Suite<AEGP_CameraSuite2> camera; // released when this call returns
    A_FpLong distance = 0.0;
    if (!call(camera, &AEGP_CameraSuite2::AEGP_GetDefaultCameraDistanceToImagePlane, comp_,
              &distance))
        return 0.0;
    return distance;
}

} // namespace AEO
