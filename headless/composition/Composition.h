// The composition model of the headless host: a composition, its layers and
// their streams, as plain data that a scene-file loader fills field by field.
//
// Units and conventions:
//   - Space is the composition's 3D space in pixels: x to the right, y down,
//     z away from the viewer; the composition's top-left corner is (0, 0, 0).
//   - Times (in points, durations, key times) are composition seconds.
//   - Angles are degrees, scales percentages, colours 0..1 per channel.
//   - Layers are listed top first: index 0 is the top layer. A layer refers to
//     its parent by index (-1: none).
//   - Every number of a transform or of a camera/light stream is an
//     `Animated` value (see Keyframes.h): a plain value, or linear keyframes
//     held before the first and after the last key.
//   - A layer is active at time t when inPoint <= t < inPoint + duration. A
//     layer's own time (the effect's time, for the layer that carries it)
//     starts at its in point: layer time 0 is composition time inPoint.
//
// The structs carry the defaults a fresh layer has in the host; the make*
// functions below fill the ones that depend on the composition (a solid
// centred in the frame, a camera at the default distance, ...). `validate`
// lists what is wrong with a model; code that reads a model never trusts it:
// out-of-range parents, wrong pixel counts and the like are treated as absent,
// never read out of bounds.
//
// The layer-to-world transform is in LayerTransform.h; layer pixels in
// CompositionPixels.h; the effect's place in the composition and its
// parameters in CompositionEffect.h.
//
// Thread safety: plain data; concurrent reads are safe, writes are not.
#pragma once

#include "headless/composition/Keyframes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace headless {

enum class LayerType { Solid, Footage, Null, Camera, Light };

// The host's numbering (AEGP_CameraType_*).
enum class CameraType { Perspective = 0, Orthographic = 1 };

// The host's numbering (AEGP_LightType_*).
enum class LightType { Parallel = 0, Spot = 1, Point = 2, Ambient = 3 };

struct Ratio {
    long num = 1;
    unsigned long den = 1;
    double value() const { return den ? double(num) / double(den) : 0.0; }
};

struct Transform {
    Animated<Vec3> anchorPoint;
    Animated<Vec3> position;
    // Cameras and lights only: with a point of interest the layer is turned
    // to look at it (see LayerTransform.h); without, it is not.
    bool hasPointOfInterest = false;
    Animated<Vec3> pointOfInterest;
    Animated<Vec3> scale{Vec3{100.0, 100.0, 100.0}}; // percent
    Animated<Vec3> orientation;                      // degrees about x, y, z
    Animated<double> rotationX, rotationY, rotationZ; // degrees
};

// A solid's source: a size and one colour. Null layers use the size, 100 x
// 100 unless set (their pixels are always transparent).
struct SolidSource {
    int width = 100;
    int height = 100;
    ColorValue color{1.0, 1.0, 1.0, 1.0};
};

// Footage pixels supplied by the caller: width * height pixels, rows top
// first, four samples per pixel in the order red, green, blue, alpha, colour
// not premultiplied by alpha. The samples are floats, or, for footage whose
// file holds 8-bit or 16-bit integers, those integers, in a quarter or half
// the memory: v stands for the float v * (1.0f / 255) or v * (1.0f / 65535),
// as image readers compute it. One of the three vectors holds them.
struct FootageSource {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
    std::vector<std::uint8_t> rgba8;
    std::vector<std::uint16_t> rgba16;
    Ratio pixelAspect; // of the footage's pixels; 1/1 when the file records none
    bool pixelAspectRecorded = false; // whether the file states its pixel aspect
    // The colour space the samples are in (a name the renderer's colour
    // management knows); empty: the composition's working space.
    std::string colorSpace;

    // The samples held, and how many vectors hold any (1 when well formed).
    std::size_t sampleCount() const { return rgba.size() + rgba8.size() + rgba16.size(); }
    int kindsHeld() const { return !rgba.empty() + !rgba8.empty() + !rgba16.empty(); }
    // Whether it holds one type of samples, four for each pixel of its size.
    bool wellFormed() const {
        return kindsHeld() == 1 && sampleCount() == std::size_t(width) * std::size_t(height) * 4;
    }
    // Sample i (< sampleCount()) as a float.
    float sample(std::size_t i) const;
};

// The float an integer sample of an 8-bit or 16-bit file stands for.
inline float sampleValue(float v) { return v; }
inline float sampleValue(std::uint8_t v) { return float(v) * (1.0f / 255.0f); }
inline float sampleValue(std::uint16_t v) { return float(v) * (1.0f / 65535.0f); }

struct CameraStreams {
    CameraType type = CameraType::Perspective;
    Animated<double> zoom{640.0 * 50.0 / 36.0};          // pixels (eye to image plane)
    Animated<double> depthOfField{0.0};                 // 0 off, 1 on
    Animated<double> focusDistance{640.0 * 50.0 / 36.0}; // pixels
    Animated<double> aperture{25.3};                    // pixels
    Animated<double> blurLevel{100.0};                  // percent
};

struct LightStreams {
    LightType type = LightType::Point;
    Animated<double> intensity{100.0};                     // percent
    Animated<ColorValue> color{ColorValue{1.0, 1.0, 1.0, 1.0}};
    Animated<double> coneAngle{90.0};                      // degrees, full cone
    Animated<double> coneFeather{50.0};                    // percent
    Animated<double> shadowDarkness{100.0};                // percent
    Animated<double> shadowDiffusion{0.0};                 // pixels
    Animated<double> castsShadows{0.0};                    // 0 off, 1 on, 2 only
};

struct Layer {
    LayerType type = LayerType::Null;
    // The layer's own name; empty when the layer shows its source's name.
    std::string name;
    std::string sourceName;
    double inPoint = 0.0;   // composition seconds
    double duration = 10.0; // seconds
    bool video = true;      // the video switch
    int parent = -1;        // index of the parent layer, -1 for none
    Transform transform;
    SolidSource solid;      // solids (and the size of nulls)
    // The pixel aspect given to this layer's source: a solid's own (instead of
    // its composition's), or footage's whose file records none. Read it
    // through layerPixelAspect(), never directly.
    std::optional<Ratio> pixelAspect;
    FootageSource footage;  // footage
    CameraStreams camera;   // cameras
    LightStreams light;     // lights

    // The name the layer shows: its own, or its source's when it has none.
    const std::string &shownName() const { return name.empty() ? sourceName : name; }
    bool activeAt(double t) const { return inPoint <= t && t < inPoint + duration; }
    // Solids, footage and nulls have a source item with pixels; cameras and
    // lights have none.
    bool hasSource() const { return type != LayerType::Camera && type != LayerType::Light; }
    // The size of the source image as the layer describes it (0 x 0 for
    // cameras and lights); not checked for sense.
    void sourceSize(int &w, int &h) const {
        w = h = 0;
        if (type == LayerType::Solid || type == LayerType::Null) {
            w = solid.width;
            h = solid.height;
        } else if (type == LayerType::Footage) {
            w = footage.width;
            h = footage.height;
        }
    }
};

struct Composition {
    std::string name = "Composition";
    int width = 640;
    int height = 480;
    Ratio pixelAspect;
    double frameRate = 30.0; // frames per second
    double duration = 10.0;  // seconds
    // The number of the frame at time 0, for naming frames only (film work
    // often starts at 1001); times stay composition seconds from 0.
    long startFrame = 0;
    // The colour space the effect's values are in. "sRGB", the default, is
    // the encoded space a host works in without colour management.
    std::string workingSpace = "sRGB";
    std::vector<Layer> layers; // top first
};

// The pixel aspect of a layer's source pixels, the one value the host reports
// for it everywhere: in_data's pixel_aspect_ratio for the layer carrying the
// effect, every layer parameter's pix_aspect_ratio, the source item's
// AEGP_GetItemPixelAspectRatio, the checkout results, and image metadata.
//   - solid: its own `pixelAspect` when given, else its composition's (a solid
//     is made in, and for, its composition);
//   - footage: its own `pixelAspect` when given (for files that record none),
//     else the file's (1/1 when the file records none);
//   - null: 1/1 (a null's source is never drawn);
//   - camera and light: 1/1 (they have no source).
// A ratio that is not positive (zero denominator, numerator <= 0) counts as
// 1/1, so a broken model never reaches the effect as a division by zero.
Ratio layerPixelAspect(const Composition &comp, const Layer &layer);

// Distance from the eye to the image plane of the camera the host uses when a
// composition has none: width * 50 / 36 pixels.
double defaultCameraDistance(const Composition &comp);

// The time scale in which the host reports this composition's times: the
// frame rate times the smallest of 1, 10, 100, 1000 that makes it whole
// (30 fps: 30; 29.97 fps: 2997), so every frame starts on a whole tick. A
// frame rate that is not positive and finite counts as 30.
unsigned long compositionTimeScale(const Composition &comp);

// Index of the topmost camera layer whose video switch is on and that is
// active at composition time t; -1 when there is none.
int activeCamera(const Composition &comp, double t);

// A parent index that can be followed: in range, not the layer itself.
bool hasUsableParent(const Composition &comp, int layerIndex);

// What is wrong with the model, one line each; empty when nothing is. Parent
// cycles, parents out of range, sizes that are not positive, footage whose
// pixel count does not match its size, zero denominators, a frame rate that
// is not positive, a negative duration.
std::vector<std::string> validate(const Composition &comp);

// Layers as a fresh layer of that kind sits in the host: centred in the
// composition, anchored at its own centre, lasting the whole composition.
Layer makeSolid(const Composition &comp, std::string sourceName, int width, int height,
                ColorValue color);
// Takes `rgba` (width * height * 4 floats, see FootageSource).
Layer makeFootage(const Composition &comp, std::string sourceName, int width, int height,
                  std::vector<float> rgba);
// Takes `pixels`, of any of the sample types.
Layer makeFootage(const Composition &comp, std::string sourceName, FootageSource pixels);
Layer makeNull(const Composition &comp, std::string name);
// A two-node camera at (W/2, H/2, -defaultCameraDistance) looking at the
// composition's centre (W/2, H/2, 0), that is along +z; zoom and focus
// distance at the default distance.
Layer makeCamera(const Composition &comp, std::string name);
// A light at the default camera's place; parallel and spot lights look at the
// composition's centre through a point of interest, point and ambient lights
// have none.
Layer makeLight(const Composition &comp, std::string name, LightType type);

} // namespace headless
