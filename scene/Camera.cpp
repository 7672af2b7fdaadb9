#include "scene/Camera.h"

#include "host/HostNumbers.h"
#include "host/ParamIds.h"
#include "scene/AEO_CameraLayer.h"
#include "scene/AEO_Composition.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Item.h"
#include "scene/AEO_Layer.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

// The composition's centre as the x and y of the image plane, in float.
Vector3 ImagePlane(const SceneComposition &scene, double eyeDistance) {
    return Vector3(static_cast<float>(scene.width) * 0.5f,
                   static_cast<float>(scene.height) * 0.5f, static_cast<float>(-eyeDistance));
}

// The camera the host would use for a composition without one: over the
// composition's centre at the default distance in front of it, looking along +z.
void SetupDefaultCamera(const SceneComposition &scene, RenderInfoTemplate<Hyperboloid> &info) {
    AEO::Composition comp(scene.comp);
    const double distance = comp.GetDefaultCameraDistanceToImagePlane();
    info.imagePlane = ImagePlane(scene, distance);
    info.cameraToWorld = Matrix4::identity();
    info.cameraToWorld.setCol3(Vector4(info.imagePlane, 1.0f));
}

// The composition's camera layer; returns its own depth-of-field switch.
bool SetupCompositionCamera(const SceneComposition &scene, ATParameter &params,
                            RenderInfoTemplate<Hyperboloid> &info) {
    AEO::CameraLayer camera(scene.cameraLayer);
    A_Matrix4 toWorld = camera.GetToWorldXform(scene.time);

    const double zoom = camera.GetZoom(scene.time);
    const bool depthOfField = camera.GetDepthOfField(scene.time);
    info.focusDistance = camera.GetFocusDistance(scene.time);
    info.perspective = camera.GetCameraType() == AEGP_CameraType_PERSPECTIVE;
    // A focus plane at the eye would make the blur scale infinite.
    if (info.focusDistance < 1.0) info.focusDistance = 1.0;

    const double blurLevel = camera.GetBlurLevel(scene.time); // percent
    const double boost = params.param(PARAM_BOOST_DOF_BLUR).u.fd.value * kFixedToDouble;
    const double aperture = camera.GetAperture(scene.time); // pixels
    info.dofBlurScale =
        zoom / info.focusDistance * ((aperture / 10.0) * ((boost / 100.0) * (blurLevel / 100.0)));

    info.imagePlane = ImagePlane(scene, zoom);
    ModifyAspectedCoordinate(scene.pixelAspect, scene.width, &toWorld);
    info.cameraToWorld = ToMatrix4(toWorld);
    return depthOfField;
}

} // namespace

SceneComposition FindComposition(const PF_InData *in_data) {
    SceneComposition scene;
    AEO::Interface effect;
    AEO::Layer effectLayer(effect.GetEffectLayer());
    scene.comp = effectLayer.GetParentComp();

    AEO::Composition comp(scene.comp);
    AEO::Item item(comp.GetItem());
    scene.width = item.GetWidth();
    scene.height = item.GetHeight();
    scene.pixelAspect = item.GetPixelAspectRatio();

    if (in_data) scene.time = effect.ConvertEffectToCompTime(in_data->current_time, in_data->time_scale);
    scene.cameraLayer = effect.GetEffectCamera(scene.time);
    return scene;
}

CameraChoice SetupCamera(const SceneComposition &scene, ATParameter &params,
                         RenderInfoTemplate<Hyperboloid> &info) {
    info.dofBlurScale = 1.0;
    info.perspective = true;

    CameraChoice choice;
    choice.compositionCamera =
        scene.cameraLayer != nullptr && params.param(PARAM_USE_COMP_CAMERA).u.bd.value != 0;
    if (choice.compositionCamera)
        choice.cameraDepthOfField = SetupCompositionCamera(scene, params, info);
    else
        SetupDefaultCamera(scene, info);
    return choice;
}

void SetupObjectSpaceCamera(RenderInfoTemplate<Hyperboloid> &info) {
    // worldToObject is the inverse of objectToWorld, made with the surface frame.
    info.cameraToObject = info.shape.worldToObject * info.cameraToWorld;
}

void SetupEye(RenderInfoTemplate<Hyperboloid> &info) {
    const Vector4 &eye = info.cameraToObject.getCol3();
    info.eyeX = eye.getX();
    info.eyeY = eye.getY();
    info.eyeZ = eye.getZ();

    const Vector3 &inv2 = info.shape.invRadiiSquared;
    const double invA2 = inv2.getX(), invB2 = inv2.getY(), invC2 = inv2.getZ();
    info.eyeImplicit = info.eyeZ * info.eyeZ * invC2 + invA2 * (-info.eyeX * info.eyeX) -
                       invB2 * (info.eyeY * info.eyeY) - 1.0;
}

void SetupDepthOfField(const CameraChoice &camera, int dofMode,
                       RenderInfoTemplate<Hyperboloid> &info) {
    info.dofMode = dofMode;
    const bool wanted =
        dofMode == DOF_ON || (dofMode == DOF_CAMERA_SETTINGS && camera.cameraDepthOfField);
    info.dofEnabled = camera.compositionCamera && wanted;
}
