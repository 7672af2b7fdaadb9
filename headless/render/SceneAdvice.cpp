#include "headless/render/SceneAdvice.h"

#include <algorithm>
#include <set>

namespace veltrix_render {

namespace {

// The layer parameters whose pixels the effect samples, and what an image
// without pixels means for each.
struct PixelLayer {
    const char *param, *consequence;
};
constexpr PixelLayer kPixelLayers[] = {
    {"Texture", "the surface samples a transparent image and shows nothing"},
    {"Reflection Map", "the surface reflects nothing"},
};

std::string place(const headless::SceneEffect &effect, const headless::ParamInfo &info) {
    return effect.place + ".params[\"" + info.name + "\"]";
}

template <class Visit>
void forEachValue(const headless::Animated<headless::ParamValue> &track, Visit visit) {
    if (track.keys.empty()) visit(track.value);
    for (const auto &key : track.keys) visit(key.value);
}

void nullLayerWarnings(const headless::Scene &scene, const headless::SceneEffect &effect,
                       const headless::ParamInfo &info,
                       const headless::Animated<headless::ParamValue> &track,
                       std::vector<std::string> &out) {
    const auto *use = std::find_if(std::begin(kPixelLayers), std::end(kPixelLayers),
                                   [&](const PixelLayer &p) { return info.name == p.param; });
    if (use == std::end(kPixelLayers)) return;
    std::set<int> reported;
    forEachValue(track, [&](const headless::ParamValue &v) {
        const int index = static_cast<int>(v[0]);
        if (index < 0 || std::size_t(index) >= scene.composition.layers.size()) return;
        const headless::Layer &layer = scene.composition.layers[std::size_t(index)];
        if (layer.type != headless::LayerType::Null || !reported.insert(index).second) return;
        out.push_back(scene.file + ": " + place(effect, info) + ": the layer \"" +
                      layer.shownName() + "\" is a null, which has no pixels: " + use->consequence +
                      " (choose a solid or footage layer)");
    });
}

void colourWarnings(const headless::Scene &scene, const headless::SceneEffect &effect,
                    const headless::ParamInfo &info,
                    const headless::Animated<headless::ParamValue> &track,
                    std::vector<std::string> &out) {
    bool warned = false;
    forEachValue(track, [&](const headless::ParamValue &v) {
        const bool small = v[1] <= 1.0 && v[2] <= 1.0 && v[3] <= 1.0;
        const bool black = v[1] == 0.0 && v[2] == 0.0 && v[3] == 0.0;
        if (!small || black || warned) return;
        warned = true;
        out.push_back(scene.file + ": " + place(effect, info) +
                      ": every channel is at most 1, so this colour is nearly black; the "
                      "effect's colours run 0 to 255 (layer and light colours run 0 to 1), "
                      "e.g. [255, 128, 51] for [1, 0.5, 0.2]");
    });
}

} // namespace

std::vector<std::string> sceneWarnings(const headless::Scene &scene,
                                       const headless::SceneEffect &effect,
                                       const headless::ParamCatalog &catalog) {
    std::vector<std::string> out;
    for (const auto &[index, track] : effect.params) {
        const auto &all = catalog.all();
        const auto info = std::find_if(all.begin(), all.end(),
                                       [index = index](const headless::ParamInfo &p) {
                                           return p.index == index;
                                       });
        if (info == all.end()) continue;
        if (info->def.param_type == PF_Param_LAYER)
            nullLayerWarnings(scene, effect, *info, track, out);
        if (info->def.param_type == PF_Param_COLOR) colourWarnings(scene, effect, *info, track, out);
    }
    return out;
}

} // namespace veltrix_render
