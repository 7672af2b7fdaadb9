#include "headless/render/FileDescription.h"

#include "headless/composition/LayerTransform.h"
#include "headless/render/ColourManagement.h"

#include <algorithm>
#include <array>
#include <cmath>

#ifndef VELTRIX_VERSION
#define VELTRIX_VERSION "unknown"
#endif

namespace veltrix_render {

namespace {

using Matrix = std::array<std::array<double, 4>, 4>; // row-vector convention, as A_Matrix4

Matrix fromHost(const A_Matrix4 &m) {
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[std::size_t(r)][std::size_t(c)] = m.mat[r][c];
    return out;
}

Matrix product(const Matrix &a, const Matrix &b) { // a acts first
    Matrix out{};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t k = 0; k < 4; ++k) out[r][c] += a[r][k] * b[k][c];
    return out;
}

// The inverse of an affine transform (last column 0, 0, 0, 1): the 3 x 3
// part inverted by cofactors, the translation carried back through it. A
// singular transform (a camera scaled to nothing) gives the identity.
Matrix affineInverse(const Matrix &m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix out{};
    if (!std::isfinite(det) || std::fabs(det) < 1e-300) {
        for (std::size_t i = 0; i < 4; ++i) out[i][i] = 1.0;
        return out;
    }
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) {
            const std::size_t r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    for (std::size_t c = 0; c < 3; ++c)
        out[3][c] = -(m[3][0] * out[0][c] + m[3][1] * out[1][c] + m[3][2] * out[2][c]);
    out[3][3] = 1.0;
    return out;
}

std::array<float, 16> flattened(const Matrix &m) {
    std::array<float, 16> out{};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c) out[r * 4 + c] = float(m[r][c]);
    return out;
}

std::string fileName(const std::string &path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The frame rate as a ratio of whole numbers: 30 -> 30/1, 29.97 -> 2997/100.
headless::Ratio rateRatio(double fps) {
    for (unsigned long den : {1ul, 10ul, 100ul, 1000ul}) {
        const double num = fps * double(den);
        if (std::fabs(num - std::round(num)) < 1e-6 && num < 2.0e9) return {long(std::lround(num)), den};
    }
    return {long(std::lround(fps * 1000.0)), 1000};
}

void checkAlphaAndStorage(const Options &options, const OutputFormat &format, WriteSettings &s) {
    const std::string ext = format.extension;
    if (options.alpha == "premultiplied") s.alpha = AlphaMode::Premultiplied;
    if (options.alpha == "straight") s.alpha = AlphaMode::Straight;
    bool premultiplied = false;
    std::string error;
    if (!storesPremultiplied(format, s.alpha, premultiplied, error))
        throw PlanError("--alpha " + options.alpha + ": " + error);
    if (options.half && ext != ".exr")
        throw PlanError("--half: only .exr files hold half floats; this output is " + ext);
    s.half = options.half;
    if (options.compression.empty()) return;
    const std::vector<std::string> known = compressionsOf(format);
    if (std::find(known.begin(), known.end(), options.compression) == known.end()) {
        std::string list;
        for (const std::string &k : known) list += (list.empty() ? "" : ", ") + k;
        throw PlanError("--compression " + options.compression + ": " +
                        (known.empty() ? ext + " files offer no choice of compression"
                                       : ext + " files offer " + list));
    }
    s.compression = options.compression;
}

} // namespace

FileDescription describeFiles(const Options &options, const FramePlan &plan,
                              const headless::Scene &scene) {
    FileDescription d;
    checkAlphaAndStorage(options, plan.format, d.settings);
    d.workingSpace = scene.composition.workingSpace;
    d.outputSpace = requireColourSpace(
        options.colorspace.empty() ? defaultOutputSpace(plan.depth) : options.colorspace, "--colorspace");
    FileMetadata &m = d.settings.metadata;
    m.software = std::string("veltrix-render ") + VELTRIX_VERSION;
    m.scene = fileName(scene.file);
    m.pixelAspect = scene.composition.pixelAspect;
    m.framesPerSecond = rateRatio(scene.composition.frameRate);
    m.colourSpace = d.outputSpace;
    return d;
}

void describeCamera(const headless::Composition &comp, bool useCompositionCamera, double t,
                    int width, int height, int downsample, FileMetadata &m) {
    const int camera = useCompositionCamera ? headless::activeCamera(comp, t) : -1;
    double zoom = headless::defaultCameraDistance(comp);
    bool perspective = true;
    Matrix cameraToWorld{};
    if (camera >= 0) {
        const headless::Layer &layer = comp.layers[std::size_t(camera)];
        cameraToWorld = fromHost(headless::layerToWorld(comp, camera, t));
        zoom = layer.camera.zoom.at(t);
        perspective = layer.camera.type == headless::CameraType::Perspective;
    } else {
        cameraToWorld = fromHost(headless::translation({comp.width * 0.5, comp.height * 0.5, -zoom}));
    }
    const Matrix worldToCamera = affineInverse(cameraToWorld);
    Matrix flipY{};
    flipY[0][0] = flipY[2][2] = flipY[3][3] = 1.0;
    flipY[1][1] = -1.0;
    // Camera (y down) to homogeneous NDC: x and y over the image's full-size
    // width and height, divided by w (z for perspective, 1 for orthographic).
    const double aspect = comp.pixelAspect.value() > 0.0 ? comp.pixelAspect.value() : 1.0;
    const double sx = 1.0 / (double(std::max(width, 1)) * std::max(downsample, 1));
    const double sy = 1.0 / (double(std::max(height, 1)) * std::max(downsample, 1));
    const double cx = comp.width * 0.5 * sx, cy = comp.height * 0.5 * sy;
    Matrix project{};
    if (perspective) {
        project[0][0] = zoom * sx / aspect;
        project[1][1] = zoom * sy;
        project[2] = {cx, cy, 0.0, 1.0};
    } else {
        project[0][0] = sx / aspect;
        project[1][1] = sy;
        project[3] = {cx, cy, 0.0, 1.0};
    }
    m.hasCamera = true;
    m.worldToCamera = flattened(product(worldToCamera, flipY));
    m.worldToNdc = flattened(product(worldToCamera, project));
}

bool usesCompositionCamera(const headless::SceneEffect &effect, const headless::ParamCatalog &catalog,
                           double t) {
    const headless::ParamInfo *info = catalog.find("Use Composition Camera");
    if (!info) return true;
    const auto track = effect.params.find(info->index);
    if (track == effect.params.end()) return info->def.u.bd.value != 0;
    return track->second.at(t, headless::Interpolation::Hold)[0] != 0.0;
}

} // namespace veltrix_render
