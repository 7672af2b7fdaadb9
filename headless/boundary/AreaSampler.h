// The host's samplers: "PF Sampling8 Suite" 1, "PF Sampling16 Suite" 1 and
// "PF SamplingFloat Suite" 1, registered by every Host when it is constructed.
// Each suite has three functions: nearest-pixel, bilinear, and the area
// sampler (the one the effect uses).
//
// The filter. Pixel (i, j) is the constant square [i - 1/2, i + 1/2) x
// [j - 1/2, j + 1/2), its centre at integer coordinates; everything outside
// the world is transparent black. x and y are 16.16 fixed point in pixels.
// - nn_sample: the pixel whose square holds (x, y), as it is.
// - subpixel_sample: bilinear interpolation between the four pixels around
//   (x, y), weighted by alpha (the area filter below at radius 1/2).
// - area_sample: averages over the box [x - r'x, x + r'x] x [y - r'y, y + r'y],
//   r' = max(r, 1/2) pixel, r the block's x_radius and y_radius (16.16). A
//   radius of half a pixel or less is thus bilinear interpolation. Colour is
//   averaged weighted by alpha and comes out straight:
//       colour = sum(c * alpha * w) / sum(alpha * w), 0 where that sum is 0,
//       alpha  = sum(alpha * w) / box area,
//   w being the area of the box covering each pixel. Only the block's radii
//   and source world are read.
// The average is formed in double in the source's channel units, divided by
// full intensity (255, 32768, 1) and rounded to float; the integer suites
// then store it by the system's one rule: multiply by 255 or 32768 in single
// precision, clamp to [0, full], truncate.
//
// Cost: every area sample is O(1) whatever the radius. It reads the source's
// summed-area table (AreaTable.h), set up on the first sample after the pixels
// last changed and shared by all threads (HostWorld.h has the rule for when
// pixels count as changed); a large world's table is made row by row as the
// samples reach the rows, so its memory follows the rows in use.
//
// Sources and errors. The effect reference names the Host
// (Host::fromEffectRef); the source is found in the Host's register of worlds
// (Worlds.h) by its description, and must have the suite's pixel type. On any
// failure the destination becomes transparent black and the call returns an
// error: a fault armed on service::kAreaSample or service::kPointSample
// (detail: the suite's name) returns its error; an unknown effect reference,
// a null block, source or destination, a source the host does not know and a
// source of another depth return PF_Err_BAD_CALLBACK_PARAM and (where there
// is a host) are a problem in its ledger, recorded once per distinct mistake;
// no memory for the table returns PF_Err_OUT_OF_MEMORY.
//
// Each thread remembers the last sources it sampled with their tables, and
// uses such a memo, without looking the source up again, only while the
// register's stamp (Worlds.h) and the world's pixel generation (HostWorld.h)
// are those it was made under; a sample while a fault is armed always takes
// the full path.
//
// Thread safety: any number of threads may sample at once, also the same
// world; a source must not be disposed of while it is being sampled.
#pragma once

#include "headless/SdkHeaders.h"

namespace headless {

class HostWorld;
class SuiteRegistry;

const PF_Sampling8Suite1 &sampling8Suite1();
const PF_Sampling16Suite1 &sampling16Suite1();
const PF_SamplingFloatSuite1 &samplingFloatSuite1();

// Offers the three suites in `suites`.
void installSamplingSuites(SuiteRegistry &suites);

// The area filter over `world` at (x, y) with radii (rx, ry), all in pixels,
// before the store into the suite's pixel type: straight colour and alpha in
// units of full intensity. Throws std::bad_alloc when the world's table
// cannot be built.
PF_PixelFloat areaFilter(const HostWorld &world, double x, double y, double rx, double ry);

// A filtered pixel stored as an 8-bit sample, by the system's one rule: each
// channel times 255 in single precision, 255 above that, 0 below 0 or for
// NaN, otherwise truncated.
PF_Pixel storeEightBit(const PF_PixelFloat &p);

} // namespace headless
