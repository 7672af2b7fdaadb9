// The depth-of-field composite: the second pass of a depth-of-field render.
//
// The depth pass (RayTrace_PixelDepthCallback) leaves the colour and the ray
// parameter of the front and the back surface layer of every pixel in the
// record's four side buffers. This pass blurs each layer at each pixel by its
// circle of confusion, r = S a / (F + a) with a the layer's distance from the
// focus plane (F the focus distance, S the record's blur scale): sharp in the
// focus plane, S / 2 at the camera and at twice the focus distance,
// approaching S far away. The blur is one host area sample over the box of
// that radius around the pixel, cut to the image. The blurred front layer is
// laid over the blurred back layer and written to the output; an opaque front
// layer hides the back one, which is then not sampled at all.
//
// Instantiated for the three output pixel types: the float instance samples
// through "PF SamplingFloat Suite" 1, the others through the 16-bit and 8-bit
// suites (AreaSample). Integer outputs store by the system's one rule.
//
// Errors: returns the first host sampling error of the pixel (0 when none),
// so the host's iterator ends the pass on a failing sampler. A record or a
// buffer that cannot supply the pixel is PF_Err_BAD_CALLBACK_PARAM (or the
// host's error from creating the buffer) and writes nothing. Nothing is
// thrown; a negative thread index does nothing.
//
// Thread safety: any number of host threads may run the callback at once for
// different pixels. It reads the record and the side buffers only, keeps
// everything on its stack, allocates nothing, takes no locks beyond the first
// fill of the sampling-suite slot of the record's suite cache, and writes only
// its own output pixel. It must run after the depth pass has finished.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "scene/RenderInfo.h"

// Pixel i of the record's outputWorld (row i / width, column i mod width).
template <class P>
PF_Err DofCompositeCallback(void *refcon, A_long threadIndex, A_long i, A_long iterations);

// The blur radius, in full-resolution pixels, of a layer at depth d for focus
// distance F and blur scale S.
double DofBlurRadius(double d, double F, double S);

extern template PF_Err DofCompositeCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
extern template PF_Err DofCompositeCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
extern template PF_Err DofCompositeCallback<PF_Pixel>(void *, A_long, A_long, A_long);
