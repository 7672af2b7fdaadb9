// Warnings about a scene that loads and renders but most likely not as its
// writer meant: printed on stderr before the render, never an error, since
// the host would take the same scene without a word.
//
//   - A null layer chosen as "Texture" or "Reflection Map": a null has no
//     pixels, so the effect samples a transparent image. (As "Control Layer"
//     a null is the usual choice: only its transform is used.)
//   - An effect colour whose every channel is at most 1 (and not black):
//     effect colours run 0 to 255, so this is almost always a 0 to 1 colour
//     (as layers and lights take them) given to the effect.
//
// Thread safety: a pure function.
#pragma once

#include "headless/boundary/ParamCatalog.h"
#include "headless/composition/SceneFile.h"

#include <string>
#include <vector>

namespace veltrix_render {

// One line per warning, "FILE: PLACE: what and why".
std::vector<std::string> sceneWarnings(const headless::Scene &scene,
                                       const headless::SceneEffect &effect,
                                       const headless::ParamCatalog &catalog);

} // namespace veltrix_render
