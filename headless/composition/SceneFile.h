// Scene files: a composition, its layers and the Veltrix effects on them, as
// JSON that a person writes by hand. docs/scene-format.md describes the format
// for users; in short:
//
//   {"composition": {"width": 640, "height": 480, "pixel_aspect": 1,
//                    "frame_rate": 30, "duration": 10},
//    "layers": [ top layer first,
//      {"name": "Surface", "type": "solid", "transform": {...},
//       "effects": [{"effect": "Veltrix", "params": {"Radius Scale": 120}}]}]}
//
// Loading checks everything before anything is rendered. The first problem
// found ends the load with a SceneError that names the file, the place in it
// as a JSON path (`layers[2].effects[0].params["Radius Scale"]`) and the
// reason; malformed JSON is placed by line and column instead. Nothing is
// guessed: unknown keys, parameters and choices, values of the wrong type or
// outside a parameter's valid range (as the plug-in registered it), missing or
// unreadable images, layer names that name no layer (or several) and parent
// loops are all errors.
//
// Effect parameters are looked up by display name in a ParamCatalog read from
// the plug-in, and converted into the parameter tracks of an EffectInstance
// (CompositionEffect.h): keyframe times are composition seconds.
//
// Footage pixels come through an ImageReader that the caller supplies, so this
// file depends on no image library.
//
// Thread safety: loading touches no shared state; loads may run concurrently.
#pragma once

#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/ParamCatalog.h"

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace headless {

// Why a scene cannot be used. what() reads "FILE: PATH: REASON" (or
// "FILE:LINE:COLUMN: REASON" for malformed JSON).
class SceneError : public std::runtime_error {
public:
    SceneError(std::string file, std::string place, std::string reason);

    const std::string &file() const { return file_; }
    const std::string &place() const { return place_; } // JSON path or LINE:COLUMN
    const std::string &reason() const { return reason_; }

private:
    std::string file_, place_, reason_;
};

// Reads the image at `path` into `out`: width, height and straight
// (unassociated) RGBA floats, rows top first. Returns false with a reason in
// `error` when the file is missing or unreadable.
using ImageReader =
    std::function<bool(const std::string &path, FootageSource &out, std::string &error)>;

// One Veltrix effect of the scene: the layer that carries it and the tracks
// of the parameters the scene sets (others keep their defaults).
struct SceneEffect {
    int layer = -1;
    std::string place; // e.g. "layers[2].effects[0]"
    std::map<PF_ParamIndex, Animated<ParamValue>> params;
};

struct Scene {
    std::string file; // as given to the loader
    Composition composition;
    std::vector<SceneEffect> effects; // in layer order, top first

    // The effect carried by the layer shown as `layerName`; the first effect
    // when the name is empty. Null when there is no such effect.
    const SceneEffect *effectOn(const std::string &layerName) const;
};

// The effect's name in a scene's "effects" list.
inline constexpr const char *kSceneEffectName = "Veltrix";

// Loads the scene file at `path`; footage paths are relative to its folder.
// Throws SceneError.
Scene loadSceneFile(const std::string &path, const ParamCatalog &catalog,
                    const ImageReader &readImage);

// The same from text already read; `file` names it in errors and `folder` is
// where footage paths start.
Scene parseScene(const std::string &text, const std::string &file, const std::string &folder,
                 const ParamCatalog &catalog, const ImageReader &readImage);

// Sets one value of a loaded scene for this run only (veltrix-render's --set
// "NAME=VALUE"): an effect parameter of `effect` by its display name, or a
// key of a layer's transform, camera or light settings as "LAYER.key"
// ("Camera 1.zoom=900"). VALUE is JSON, as a scene file would hold it
// (keyframes included); text that is not JSON is taken as a string, so
// popups and layers can be named unquoted. The value meets exactly the
// checks of a scene file. Throws SceneError, whose file is the assignment as
// given (e.g. `--set "Rotation Y=abc"`).
void applySceneOverride(Scene &scene, SceneEffect &effect, const std::string &assignment,
                        const ParamCatalog &catalog);

// Gives `effect` the scene effect's parameter tracks.
void applySceneEffect(const SceneEffect &sceneEffect, EffectInstance &effect);

// The keys the loader accepts at each level of a scene file, as it checks
// them; for tools that describe the format (docs/scene.schema.json).
struct SceneFormatKeys {
    std::vector<std::string> scene, composition, layer, transform, camera, light, layerTypes;
    std::vector<std::pair<std::string, std::string>> typeKeys; // key, the layer type owning it
};
SceneFormatKeys sceneFormatKeys();

// The scene's name: the file name without folders and extension
// ("examples/default.json" -> "default").
std::string sceneName(const std::string &path);

} // namespace headless
