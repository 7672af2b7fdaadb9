#include "scene/Lights.h"

#include "scene/AEO_Composition.h"
#include "scene/AEO_LightLayer.h"

#include <algorithm>
#include <cmath>

using Vectormath::Aos::Matrix4;

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295; // pi / 180

double Seconds(const A_Time &t) { return static_cast<double>(t.value) / t.scale; }

// Shadow darkness as a fraction within [0, 1].
float ShadowFraction(double percent) {
    const double x = std::max(percent / 100.0, 0.0);
    return x < 1.0 ? static_cast<float>(x) : 1.0f;
}

bool IsActiveLight(AEO::Layer &layer, const A_Time &time) {
    if (layer.GetObjectType() != AEGP_ObjectType_LIGHT) return false;
    if (!(layer.GetFlags() & AEGP_LayerFlag_VIDEO_ACTIVE)) return false;
    return IsLayerActiveAt(layer.GetInPoint(AEGP_LTimeMode_CompTime),
                           layer.GetDuration(AEGP_LTimeMode_CompTime), time);
}

} // namespace

bool IsLayerActiveAt(const A_Time &inPoint, const A_Time &duration, const A_Time &time) {
    const double t = Seconds(time);
    const double in = Seconds(inPoint);
    const double dur = Seconds(duration);
    return in <= t && t < in + dur;
}

vLight *MakeLight(AEO::LightLayer &layer, const SceneComposition &scene,
                  const Matrix4 &worldToObject) {
    vLight *light = new vLight; // host memory; null when there is none
    if (!light) return nullptr;

    const A_Time &t = scene.time;
    const AEGP_ColorVal color = layer.GetColor(t);
    light->color.alpha = static_cast<float>(color.alphaF);
    light->color.red = static_cast<float>(color.redF);
    light->color.green = static_cast<float>(color.greenF);
    light->color.blue = static_cast<float>(color.blueF);

    light->type = layer.GetLightType();
    light->intensity = layer.GetIntensity(t) / 100.0;
    light->coneCos = std::cos(layer.GetConeAngle(t) * kRadiansPerDegree * 0.5);
    light->coneFeather = layer.GetConeFeather(t) / 100.0;
    light->shadowDarkness = ShadowFraction(layer.GetShadowDarkenss(t));
    light->shadowDiffusion = layer.GetShadowDiffusion(t);
    light->castsShadows = layer.GetCastsShadows(t);

    A_Matrix4 toWorld = layer.GetToWorldXform(t);
    ModifyAspectedCoordinate(scene.pixelAspect, scene.width, &toWorld);
    light->lightToObject = worldToObject * ToMatrix4(toWorld);
    return light;
}

void CollectLights(const SceneComposition &scene, RenderInfoTemplate<Hyperboloid> &info) {
    AEO::Composition comp(scene.comp);
    const A_long count = comp.GetNumLayers();
    for (A_long i = 0; i < count; ++i) {
        AEO::LightLayer layer(comp.GetLayerByIndex(i));
        if (!IsActiveLight(layer, scene.time)) continue;
        // The list takes the light, and destroys it itself when it cannot store it.
        info.lights.append(MakeLight(layer, scene, info.shape.worldToObject));
    }
}
