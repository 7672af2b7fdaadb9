// Colour spaces of veltrix-render. The effect shades whatever values its
// layers hold, in the composition's working space; the renderer converts
// footage into that space when it is loaded and the rendered frame out of
// it into the output file's space, through the image backend's colour
// management (OpenColorIO by way of OpenImageIO on Linux; sRGB and linear
// alone in the Windows build, ImageIOBackend.h).
//
// Conversions act on straight (unassociated) colour; alpha is never changed.
// Converting a space into itself changes nothing, so a scene that says
// nothing about colour (working space sRGB, 8-bit and 16-bit footage and
// output in sRGB) renders exactly as without colour management.
//
// Thread safety: chooseColourConfig runs once, first, on one thread; the
// other functions may then run on several threads for different data.
#pragma once

#include "headless/composition/SceneFile.h"
#include "headless/render/ImageIO.h"

#include <string>

namespace veltrix_render {

// Chooses the colour configuration: `file` (--colorconfig), else $OCIO, else
// the built-in spaces. Throws PlanError naming the file and the reason.
void chooseColourConfig(const std::string &file);

// The name of the known space `name` (as the configuration spells it).
// Throws PlanError "WHAT: unknown colour space "NAME" (known: ...)".
std::string requireColourSpace(const std::string &name, const std::string &what);

// The space an output file holds by default: linear for float samples,
// sRGB for integers.
std::string defaultOutputSpace(int bits);

// Checks the scene's working space and every footage layer's colour space,
// and converts each footage layer into the working space (integer samples
// become floats where a conversion is needed). Afterwards the working space
// and every footage colorSpace hold the configuration's names. Throws
// PlanError naming the scene file and the place.
void bringFootageIntoWorkingSpace(headless::Scene &scene);

// Converts a frame's straight colour from space `from` to space `to` (both
// known names); integer samples are rounded back, clamped to their range.
// False with a reason.
bool convertFrame(Image &image, const std::string &from, const std::string &to, std::string &error);

} // namespace veltrix_render
