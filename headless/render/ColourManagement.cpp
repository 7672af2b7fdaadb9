#include "headless/render/ColourManagement.h"

#include "headless/render/FramePlan.h"
#include "headless/render/ImageIOBackend.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace veltrix_render {

namespace {

std::string knownList() {
    std::string list;
    for (const std::string &name : backend::colourSpaceNames()) list += (list.empty() ? "" : ", ") + name;
    return list;
}

// Integer samples to floats, converted, and back, rounded and clamped.
template <class S>
bool convertIntegers(std::vector<S> &samples, const std::string &from, const std::string &to,
                     std::string &error) {
    constexpr float kMax = float(std::numeric_limits<S>::max());
    std::vector<float> values(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) values[i] = float(samples[i]) / kMax;
    if (!backend::convertColours(values.data(), values.size() / 4, from, to, error)) return false;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (i % 4 != 3) // alpha is left as it was, exactly
            samples[i] = S(std::lround(std::clamp(values[i], 0.0f, 1.0f) * kMax));
    return true;
}

// Footage of space `from` as floats in space `to`.
bool convertFootage(headless::FootageSource &footage, const std::string &from, const std::string &to,
                    std::string &error) {
    if (footage.rgba.empty()) {
        std::vector<float> values(footage.sampleCount());
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = footage.sample(i);
        footage.rgba = std::move(values);
        footage.rgba8.clear();
        footage.rgba8.shrink_to_fit();
        footage.rgba16.clear();
        footage.rgba16.shrink_to_fit();
    }
    return backend::convertColours(footage.rgba.data(), footage.rgba.size() / 4, from, to, error);
}

} // namespace

void chooseColourConfig(const std::string &file) {
    std::string error;
    if (!backend::selectColourConfig(file, error))
        throw PlanError((file.empty() ? std::string("$OCIO") : "--colorconfig " + file) + ": " + error);
}

std::string requireColourSpace(const std::string &name, const std::string &what) {
    const std::string known = backend::knownColourSpace(name);
    if (known.empty())
        throw PlanError(what + ": unknown colour space \"" + name + "\" (known: " + knownList() + ")");
    return known;
}

std::string defaultOutputSpace(int bits) { return bits == 32 ? "linear" : "sRGB"; }

void bringFootageIntoWorkingSpace(headless::Scene &scene) {
    headless::Composition &comp = scene.composition;
    comp.workingSpace = requireColourSpace(comp.workingSpace, scene.file + ": composition.working_space");
    for (std::size_t i = 0; i < comp.layers.size(); ++i) {
        headless::Layer &layer = comp.layers[i];
        if (layer.type != headless::LayerType::Footage) continue;
        headless::FootageSource &footage = layer.footage;
        const std::string place = scene.file + ": layers[" + std::to_string(i) + "].colorspace";
        footage.colorSpace =
            footage.colorSpace.empty() ? comp.workingSpace : requireColourSpace(footage.colorSpace, place);
        if (footage.colorSpace == comp.workingSpace) continue;
        std::string error;
        if (!convertFootage(footage, footage.colorSpace, comp.workingSpace, error))
            throw PlanError(place + ": " + error);
        footage.colorSpace = comp.workingSpace;
    }
}

bool convertFrame(Image &image, const std::string &from, const std::string &to, std::string &error) {
    if (from == to) return true;
    switch (image.bits) {
    case 8: return convertIntegers(image.u8, from, to, error);
    case 16: return convertIntegers(image.u16, from, to, error);
    default: return backend::convertColours(image.f32.data(), image.f32.size() / 4, from, to, error);
    }
}

} // namespace veltrix_render
