// The window of the output where a textured surface can show anything.
//
// On a textured surface a hit beyond the texture's reach (no repetition, or
// none within the largest footprint, kSampleRadiusCap rows) is shaded
// transparent black without lights or lookups (Ray_GetColor's first fast
// path), and a pixel whose hits are all such stores exactly what a pixel the
// surface misses stores. The rows the texture reaches are a band of the
// surface's height on each sheet, so they lie in bounded boxes, and the
// camera sees each box inside a rectangle of the output: every pixel outside
// them is transparent black whatever its coverage. The trace pass stores those
// pixels without covering them (PixelCallbacks.cpp). The boxes' heights alone
// settle a hit too: the depth pass shades a pixel's second hit as a layer of
// its own, and one whose height lies outside them is beyond reach without
// being located.
//
// Beyond the texture's copies a hit is in reach only within its footprint's
// radius of them, and that radius is bounded over the hits there (the
// footprint's cheap bound: distance over incidence), so the band ends a few
// rows past the copies rather than the largest footprint's 128.
//
// The band is bounded in boxes that follow its rings (slabs of its height,
// each cut into sectors around the axis), and the window is the boxes'
// rectangles on the output. It is generous: the band is widened by two
// texture rows beyond what a lookup reaches, its boxes by a hundred
// thousandth of their size and of the camera's distance (a hundred times a
// hit's rounding), the rectangles by two pixels. Hits found by rounding a
// little off the surface or the band therefore still fall inside it.
//
// Thread safety: pure functions of the render record; call from any thread.
#pragma once

#include "scene/RenderInfo.h"

#include <cmath>

struct ReachWindow {
    static constexpr int kMostBoxes = 256;

    // The output may show something only where a sample position (x, y), in
    // output pixels, lies within [left, right] x [top, bottom] of one of the
    // boxes. `everywhere` when no window could be worked out (or none
    // applies): every pixel may show something.
    bool everywhere = true;
    int boxes = 0;
    float left[kMostBoxes], right[kMostBoxes], top[kMostBoxes], bottom[kMostBoxes];

    // The object-space heights z of each sheet's hits in reach, tail sheet
    // first (lo > hi: none), widened by as much as the boxes are: a hit whose
    // height lies outside both is beyond the texture's reach.
    float heightLo[2] = {1.0f, 1.0f}, heightHi[2] = {0.0f, 0.0f};
    // Whether a hit at height z (its point as Ray::pointAt gives it) lies
    // beyond the texture's reach, shown by the heights alone; never when
    // `everywhere` or z is not finite.
    bool beyondHeights(float z) const
    {
        return !everywhere && std::isfinite(z) && !(z >= heightLo[0] && z <= heightHi[0]) &&
               !(z >= heightLo[1] && z <= heightHi[1]);
    }

    // The span of sample positions [lo, hi] along row y that may show
    // something (lo > hi: none); everything when `everywhere`.
    struct Columns {
        double lo, hi;
        // Whether any pixel of columns x0 to x1 has a sample position in it.
        bool meet(int x0, int x1) const { return x1 + 1.0 >= lo && x0 <= hi; }
    };
    Columns columnsOf(int y) const;
};

// The window of the trace pass over `info`: everywhere unless the surface is
// textured, hits out of reach are transparent black (no pivot marker, no
// fog, which colours them) and the reached band and the camera are finite and
// well-formed.
ReachWindow TextureReachWindow(const RenderInfoTemplate<Hyperboloid> &info);
