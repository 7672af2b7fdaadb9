// What veltrix-render's files say about themselves, worked out from the
// options and the scene before the first frame and completed per frame:
// alpha, half floats and compression as the options ask (checked against
// the output type), the output colour space, and the metadata of each frame
// (ImageIO.h FileMetadata), the camera matrices included.
//
// Camera matrices. The frame is seen through the composition camera the
// effect uses (the topmost active camera with its video on, unless the
// effect's "Use Composition Camera" is off), else through the default
// camera: at (W/2, H/2, -W*50/36) looking along +z, with the image plane at
// that distance. The camera's layer-to-world transform inverted takes world
// points to the camera's own frame (x right, y down, z ahead); the file's
// worldToCamera turns y up, as the OpenEXR format defines camera space.
// worldToNDC projects as the effect's rays do: a camera point (x, y, z)
// reaches the composition pixel (W/2 + x * zoom / (z * aspect),
// H/2 + y * zoom / z) (orthographic: W/2 + x / aspect, H/2 + y), and the
// output image covers the composition's pixels from its top-left corner.
//
// Thread safety: pure functions.
#pragma once

#include "headless/boundary/ParamCatalog.h"
#include "headless/composition/SceneFile.h"
#include "headless/render/FramePlan.h"
#include "headless/render/ImageIO.h"
#include "headless/render/Options.h"

#include <string>

namespace veltrix_render {

// The files of a run, before the frames' own metadata.
struct FileDescription {
    WriteSettings settings;    // alpha, half, compression, the run's metadata
    std::string workingSpace;  // the composition's
    std::string outputSpace;   // the file's
};

// Checks --alpha, --half, --compression and --colorspace against the output
// type; throws PlanError. The colour configuration is chosen already.
FileDescription describeFiles(const Options &options, const FramePlan &plan,
                              const headless::Scene &scene);

// The camera matrices of the frame at composition time `t` into `m`, for an
// output of `width` x `height` pixels at `downsample`.
void describeCamera(const headless::Composition &comp, bool useCompositionCamera, double t,
                    int width, int height, int downsample, FileMetadata &m);

// Whether the effect uses the composition camera at time `t` ("Use
// Composition Camera", on unless the scene turns it off).
bool usesCompositionCamera(const headless::SceneEffect &effect, const headless::ParamCatalog &catalog,
                           double t);

} // namespace veltrix_render
