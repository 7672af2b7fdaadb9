// The composition around the effect and the camera the surface is seen
// through. Scene construction (ConstructRenderInfo) runs these steps in
// order; each fills its part of the render record:
//
//   1. FindComposition      the effect's composition, its size and pixel
//                           aspect, the render time in composition time and
//                           the camera layer the host sees at that time.
//   2. SetupCamera          the composition camera, or the default camera when
//                           there is none or "Use Composition Camera" is off:
//                           imagePlane, cameraToWorld, perspective,
//                           focusDistance, dofBlurScale.
//   3. SetupObjectSpaceCamera  cameraToObject, once the surface frame is final.
//   4. SetupEye             the eye in object space and the quadric's value
//                           there, once the semi-axes are final.
//   5. SetupDepthOfField    dofMode and whether the depth-of-field path runs.
//
// World space is the composition's 3D space in pixels, with x rescaled by the
// composition's pixel aspect ratio so that the scene is in square pixels.
// Camera space has the eye at its origin and looks along +z.
//
// Host errors stop nothing: the host-object wrappers keep their first error
// and answer with their defaults, and those values are used as they are.
//
// Thread safety: called only on the thread that handles the render command,
// inside an open command context.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/ATParameter.h"
#include "host/SDK.h"
#include "scene/RenderInfo.h"

// What the scene knows about the composition that holds the effect.
struct SceneComposition {
    // The render time converted to composition time; every layer stream is
    // read at this time.
    A_Time time{0, 1};
    int width = 0;  // pixels
    int height = 0; // pixels
    // The composition's pixel aspect ratio, folded into every host transform.
    A_Ratio pixelAspect{0, 1};
    AEGP_CompH comp = nullptr;
    // The camera layer the host shows the effect at `time`; null when none.
    AEGP_LayerH cameraLayer = nullptr;
};

// What the depth-of-field switch needs to know about the chosen camera.
struct CameraChoice {
    // The composition camera is used (rather than the default camera).
    bool compositionCamera = false;
    // That camera's own depth-of-field switch; false for the default camera.
    bool cameraDepthOfField = false;
};

// Finds the effect's composition through the effect's layer and converts the
// in-data's current time to composition time.
SceneComposition FindComposition(const PF_InData *in_data);

// Chooses the camera and fills imagePlane, cameraToWorld, perspective,
// dofBlurScale and (for a composition camera) focusDistance. Reads "Use
// Composition Camera" (only when a camera layer exists) and "Boost DOF Blur"
// through `params`.
CameraChoice SetupCamera(const SceneComposition &scene, ATParameter &params,
                         RenderInfoTemplate<Hyperboloid> &info);

// cameraToObject = worldToObject · cameraToWorld. Needs the final surface frame.
void SetupObjectSpaceCamera(RenderInfoTemplate<Hyperboloid> &info);

// eyeX, eyeY, eyeZ (column 3 of cameraToObject) and eyeImplicit, the
// quadric z²/c² − x²/a² − y²/b² − 1 at the eye. Needs the final semi-axes.
void SetupEye(RenderInfoTemplate<Hyperboloid> &info);

// dofMode = "Depth Of Field"; the depth-of-field path runs only through a
// composition camera, and then when the popup says "On", or "Camera Settings"
// with the camera's own depth of field on.
void SetupDepthOfField(const CameraChoice &camera, int dofMode,
                       RenderInfoTemplate<Hyperboloid> &info);
