#include "tracer/LightLanes.h"

#include <cstdint>
#include "tracer/ProcessorLevel.h"

#include "tracer/ArctangentBounds.h"
#include "tracer/Shading.h"

#define LIGHT_LANES_NAMESPACE light_lanes_baseline
#include "tracer/LightLanesKernel.inl"
#undef LIGHT_LANES_NAMESPACE

#if defined(VELTRIX_CORNER_LANES_V3)
namespace light_lanes_v3 {
void Light(const LightLaneScene &, const FootprintLaneHits &, const HitLaneValues &, LightLaneValues &);
}
#endif

#if defined(VELTRIX_LANES_V4)
namespace light_lanes_v4 {
void Light(const LightLaneScene &, const FootprintLaneHits &, const HitLaneValues &, LightLaneValues &);
}
#endif

LightLaneScene MakeLightLaneScene(const RenderInfoTemplate<Hyperboloid> &info)
{
    LightLaneScene s{};
    // The lanes take the lights from the first on, as shading lights them;
    // they stop at the first place that holds no light.
    for (const vLight *light : info.lights) {
        if (!light || s.lights == kLaneLights) break;
        LightLaneLight &l = s.light[s.lights++];
        const Vectormath::Aos::Vector3 position = light->lightToObject.getTranslation();
        const Vectormath::Aos::Vector3 axis = light->lightToObject.getCol2().getXYZ();
        const Vectormath::Aos::Vector3 parallel = Vectormath::Aos::normalize(axis);
        for (int i = 0; i < 3; ++i) {
            l.position[i] = position[i];
            l.axis[i] = axis[i];
            l.parallel[i] = parallel[i];
        }
        l.type = light->type;
        l.intensity = light->intensity;
        l.coneCos = light->coneCos;
        l.coneFeather = light->coneFeather;
        l.shadows = CastsSelfShadow(info, *light);
        l.obstructs = IsLayerChosen(info.textureLayer);
        l.dark = light->shadowDarkness;
        l.plain = 1.0f - light->shadowDarkness;
        l.diffuse = light->type == kAmbientLight ? info.ambient : info.diffuse;
    }
    s.falloffMode = info.falloffMode;
    s.falloffRadius = info.falloffRadius;
    s.falloffDistance = info.falloffDistance;
    s.transmission = info.lightTransmission;
    s.shininess = info.shininess;
    s.specular = info.specular;
    for (int i = 0; i < 3; ++i) s.invRadiiSquared[i] = info.shape.invRadiiSquared[i];
    // The reflection, as shading shows it and hides it (ReflectionOcclusion,
    // GetObstColor: self shadowing, with a texture to cast it).
    s.reflects = HasReflectionMap(info);
    s.occludes = info.selfShadow && IsLayerChosen(info.textureLayer);
    s.reflectionIntensity = info.reflectionIntensity;
    s.reflectionExponent = 10.0f * info.reflectionRolloff;
    s.mapWidth = static_cast<double>(info.reflectionLayer.width);
    const Vectormath::Aos::Matrix4 &toWorld = info.shape.objectToWorld;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) s.toWorld[c][r] = toWorld.getCol(c)[r];
    return s;
}

void LightHitLanesBaseline(const LightLaneScene &scene, const FootprintLaneHits &hits,
                           const HitLaneValues &located, LightLaneValues &out)
{
    light_lanes_baseline::Light(scene, hits, located, out);
}

bool LightHitLanesV3(const LightLaneScene &scene, const FootprintLaneHits &hits,
                     const HitLaneValues &located, LightLaneValues &out)
{
#if defined(VELTRIX_CORNER_LANES_V3)
    if (!ProcessorRunsX86V3()) return false;
    light_lanes_v3::Light(scene, hits, located, out);
    return true;
#else
    (void)scene, (void)hits, (void)located, (void)out;
    return false;
#endif
}

bool LightHitLanesV4(const LightLaneScene &scene, const FootprintLaneHits &hits,
                     const HitLaneValues &located, LightLaneValues &out)
{
#if defined(VELTRIX_LANES_V4)
    if (!ProcessorRunsX86V4()) return false;
    light_lanes_v4::Light(scene, hits, located, out);
    return true;
#else
    (void)scene, (void)hits, (void)located, (void)out;
    return false;
#endif
}

void LightHitLanes(const LightLaneScene &scene, const FootprintLaneHits &hits,
                   const HitLaneValues &located, LightLaneValues &out)
{
    if (!LightHitLanesV4(scene, hits, located, out) && !LightHitLanesV3(scene, hits, located, out))
        LightHitLanesBaseline(scene, hits, located, out);
}
