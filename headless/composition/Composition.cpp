#include "headless/composition/Composition.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace headless {

namespace {

constexpr double kFallbackFrameRate = 30.0;

std::string layerLabel(const Composition &comp, std::size_t index) {
    std::string label = "layer " + std::to_string(index);
    const std::string &shown = comp.layers[index].shownName();
    if (!shown.empty()) label += " \"" + shown + "\"";
    return label;
}

// Follows the parent chain from `index`; true when it comes back to a layer
// already seen.
bool parentChainLoops(const Composition &comp, int index) {
    std::vector<bool> seen(comp.layers.size(), false);
    while (index >= 0 && static_cast<std::size_t>(index) < comp.layers.size()) {
        if (seen[static_cast<std::size_t>(index)]) return true;
        seen[static_cast<std::size_t>(index)] = true;
        index = comp.layers[static_cast<std::size_t>(index)].parent;
    }
    return false;
}

void validateLayer(const Composition &comp, std::size_t index, std::vector<std::string> &out) {
    const Layer &layer = comp.layers[index];
    const std::string label = layerLabel(comp, index);
    const int count = static_cast<int>(comp.layers.size());
    if (layer.parent == static_cast<int>(index))
        out.push_back(label + ": is its own parent");
    else if (layer.parent < -1 || layer.parent >= count)
        out.push_back(label + ": parent " + std::to_string(layer.parent) + " does not exist");
    else if (parentChainLoops(comp, static_cast<int>(index)))
        out.push_back(label + ": its parents form a loop");
    if (!(layer.duration >= 0.0)) out.push_back(label + ": duration is negative");
    if (!std::isfinite(layer.inPoint)) out.push_back(label + ": in point is not a number");
    if (layer.pixelAspect && layer.pixelAspect->den == 0)
        out.push_back(label + ": pixel aspect has denominator 0");

    switch (layer.type) {
    case LayerType::Solid:
    case LayerType::Null:
        if (layer.solid.width <= 0 || layer.solid.height <= 0)
            out.push_back(label + ": size " + std::to_string(layer.solid.width) + "x" +
                          std::to_string(layer.solid.height) + " is not positive");
        break;
    case LayerType::Footage: {
        const FootageSource &f = layer.footage;
        if (f.width <= 0 || f.height <= 0) {
            out.push_back(label + ": footage size is not positive");
        } else if (f.kindsHeld() > 1) {
            out.push_back(label + ": footage holds samples of more than one type");
        } else if (f.sampleCount() != std::size_t(f.width) * std::size_t(f.height) * 4) {
            out.push_back(label + ": footage holds " + std::to_string(f.sampleCount()) +
                          " samples, its size needs " +
                          std::to_string(std::size_t(f.width) * std::size_t(f.height) * 4));
        }
        if (f.pixelAspect.den == 0) out.push_back(label + ": footage pixel aspect has denominator 0");
        break;
    }
    case LayerType::Camera:
    case LayerType::Light:
        break;
    }
}

Vec3 centre(const Composition &comp, double z = 0.0) {
    return {comp.width * 0.5, comp.height * 0.5, z};
}

Layer baseLayer(const Composition &comp, LayerType type) {
    Layer layer;
    layer.type = type;
    layer.inPoint = 0.0;
    layer.duration = comp.duration;
    layer.transform.position = centre(comp);
    return layer;
}

} // namespace

float FootageSource::sample(std::size_t i) const {
    if (!rgba8.empty()) return sampleValue(rgba8[i]);
    if (!rgba16.empty()) return sampleValue(rgba16[i]);
    return rgba[i];
}

double defaultCameraDistance(const Composition &comp) { return comp.width * 50.0 / 36.0; }

unsigned long compositionTimeScale(const Composition &comp) {
    double rate = comp.frameRate;
    if (!(rate > 0.0) || !std::isfinite(rate) || rate > 1.0e6) rate = kFallbackFrameRate;
    for (double factor : {1.0, 10.0, 100.0, 1000.0}) {
        const double ticks = rate * factor;
        if (std::fabs(ticks - std::round(ticks)) < 1e-6)
            return static_cast<unsigned long>(std::round(ticks));
    }
    return static_cast<unsigned long>(std::round(rate * 1000.0));
}

int activeCamera(const Composition &comp, double t) {
    for (std::size_t i = 0; i < comp.layers.size(); ++i) {
        const Layer &layer = comp.layers[i];
        if (layer.type == LayerType::Camera && layer.video && layer.activeAt(t))
            return static_cast<int>(i);
    }
    return -1;
}

bool hasUsableParent(const Composition &comp, int layerIndex) {
    if (layerIndex < 0 || static_cast<std::size_t>(layerIndex) >= comp.layers.size()) return false;
    const int parent = comp.layers[static_cast<std::size_t>(layerIndex)].parent;
    return parent >= 0 && static_cast<std::size_t>(parent) < comp.layers.size() &&
           parent != layerIndex;
}

std::vector<std::string> validate(const Composition &comp) {
    std::vector<std::string> problems;
    if (comp.width <= 0 || comp.height <= 0)
        problems.push_back("composition size " + std::to_string(comp.width) + "x" +
                           std::to_string(comp.height) + " is not positive");
    if (comp.pixelAspect.den == 0) problems.push_back("composition pixel aspect has denominator 0");
    if (!(comp.frameRate > 0.0) || !std::isfinite(comp.frameRate))
        problems.push_back("composition frame rate is not positive");
    if (!(comp.duration >= 0.0)) problems.push_back("composition duration is negative");
    for (std::size_t i = 0; i < comp.layers.size(); ++i) validateLayer(comp, i, problems);
    return problems;
}

namespace {
bool positive(const Ratio &r) { return r.den != 0 && r.num > 0; }
} // namespace

Ratio layerPixelAspect(const Composition &comp, const Layer &layer) {
    Ratio ratio;
    switch (layer.type) {
    case LayerType::Solid: ratio = layer.pixelAspect.value_or(comp.pixelAspect); break;
    case LayerType::Footage: ratio = layer.pixelAspect.value_or(layer.footage.pixelAspect); break;
    case LayerType::Null:
    case LayerType::Camera:
    case LayerType::Light: break;
    }
    return positive(ratio) ? ratio : Ratio{};
}

Layer makeSolid(const Composition &comp, std::string sourceName, int width, int height,
                ColorValue color) {
    Layer layer = baseLayer(comp, LayerType::Solid);
    layer.sourceName = std::move(sourceName);
    layer.solid = {width, height, color};
    layer.transform.anchorPoint = Vec3{width * 0.5, height * 0.5, 0.0};
    return layer;
}

Layer makeFootage(const Composition &comp, std::string sourceName, int width, int height,
                  std::vector<float> rgba) {
    FootageSource pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.rgba = std::move(rgba);
    return makeFootage(comp, std::move(sourceName), std::move(pixels));
}

Layer makeFootage(const Composition &comp, std::string sourceName, FootageSource pixels) {
    Layer layer = baseLayer(comp, LayerType::Footage);
    layer.sourceName = std::move(sourceName);
    layer.transform.anchorPoint = Vec3{pixels.width * 0.5, pixels.height * 0.5, 0.0};
    layer.footage = std::move(pixels);
    return layer;
}

Layer makeNull(const Composition &comp, std::string name) {
    Layer layer = baseLayer(comp, LayerType::Null);
    layer.name = std::move(name);
    layer.sourceName = "Null";
    layer.solid.color = {0.0, 0.0, 0.0, 0.0};
    layer.transform.anchorPoint = Vec3{layer.solid.width * 0.5, layer.solid.height * 0.5, 0.0};
    return layer;
}

Layer makeCamera(const Composition &comp, std::string name) {
    Layer layer = baseLayer(comp, LayerType::Camera);
    layer.name = std::move(name);
    const double distance = defaultCameraDistance(comp);
    layer.transform.position = centre(comp, -distance);
    layer.transform.hasPointOfInterest = true;
    layer.transform.pointOfInterest = centre(comp);
    layer.camera.zoom = distance;
    layer.camera.focusDistance = distance;
    return layer;
}

Layer makeLight(const Composition &comp, std::string name, LightType type) {
    Layer layer = baseLayer(comp, LayerType::Light);
    layer.name = std::move(name);
    layer.light.type = type;
    layer.transform.position = centre(comp, -defaultCameraDistance(comp));
    layer.transform.hasPointOfInterest = type == LightType::Parallel || type == LightType::Spot;
    layer.transform.pointOfInterest = centre(comp);
    return layer;
}

} // namespace headless
