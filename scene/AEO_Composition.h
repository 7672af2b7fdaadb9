// A composition: its item, its layers and the default camera the host would
// use for it.
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Composition : public ObjectBase {
public:
    // The handle stays the host's.
    explicit Composition(AEGP_CompH comp);

    // The composition's project item; null after an error.
    AEGP_ItemH GetItem();
    // Number of layers; 0 after an error.
    A_long GetNumLayers();
    // Layer at `index` (0-based, in the composition's layer order); null after an error.
    AEGP_LayerH GetLayerByIndex(A_long index);
    // Distance from the eye to the image plane of the camera the host uses
    // when the composition has none; 0 after an error. The camera suite is
    // acquired for this call only.
    double GetDefaultCameraDistanceToImagePlane();

    AEGP_CompH handle() const { return comp_; }

private:
    AEGP_CompH comp_;
    Suite<AEGP_CompSuite5> comp_suite_;
    Suite<AEGP_LayerSuite6> layer_suite_;
};

} // namespace AEO
