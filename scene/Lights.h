// The composition's light layers as lights of the render record.
//
// Every light layer of the effect's composition that is switched on (video
// switch) and whose time range holds the render time is read at that time and
// turned into a vLight in the surface's local frame, in the composition's
// layer order. Cameras, the effect's own layer and every other layer are
// skipped, and so is a layer whose type or flags the host could not report.
//
// Thread safety: called only on the thread that handles the render command,
// inside an open command context (the lights live on host memory).
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "scene/Camera.h"
#include "scene/RenderInfo.h"
#include "scene/Vectormath.h"

namespace AEO {
class LightLayer;
}

// Whether the light range [inPoint, inPoint + duration) holds `time`; all
// three in composition time.
bool IsLayerActiveAt(const A_Time &inPoint, const A_Time &duration, const A_Time &time);

// A new light record read from `layer` at the scene's time, placed in the
// surface frame given by `worldToObject`. Null when host memory is exhausted.
vLight *MakeLight(AEO::LightLayer &layer, const SceneComposition &scene,
                  const Vectormath::Aos::Matrix4 &worldToObject);

// Appends every active light of the composition to info.lights. Needs the
// final surface frame (info.shape.worldToObject). A light whose record cannot
// be allocated, or not stored, is left out; the others are kept.
void CollectLights(const SceneComposition &scene, RenderInfoTemplate<Hyperboloid> &info);
