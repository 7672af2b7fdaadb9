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
// Where a layer's box holds nothing but transparent black pixels (every byte
// zero), its blurred sample is transparent black whatever the host's filter:
// the pass then leaves the host out and takes that sample as it is. It knows
// such boxes from the record's dofSideBuffers (DofSideBuffers below), which
// the smart render makes once the depth pass is over: tile by tile, and for
// whole tiles where a layer is empty as far as any blur of the frame reaches.
// Without it every layer with a surface is sampled.
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

#include <cstdint>

// Pixel i of the record's outputWorld (row i / width, column i mod width).
template <class P>
PF_Err DofCompositeCallback(void *refcon, A_long threadIndex, A_long i, A_long iterations);

// The blur radius, in full-resolution pixels, of a layer at depth d for focus
// distance F and blur scale S.
double DofBlurRadius(double d, double F, double S);

// The side buffers of one depth-of-field frame as the depth pass left them,
// surveyed once on the render thread before the depth-of-field pass: their
// addresses, checked for every pixel of the output at once, and which tiles
// of kTile x kTile pixels of each colour buffer hold anything but transparent
// black (a pixel whose bytes are all zero). The depth-of-field pass reads it
// from many threads at once; it does not change while the pass runs.
//
// The tile counts live in one block of host memory (AEMalloc); a host without
// the memory leaves the survey unusable, and the pass then samples every
// layer as before, with the same result.
class DofSideBuffers {
public:
    static constexpr int kTile = 8;

    DofSideBuffers() = default;
    ~DofSideBuffers();
    DofSideBuffers(const DofSideBuffers &) = delete;
    DofSideBuffers &operator=(const DofSideBuffers &) = delete;

    // Surveys the record's four side buffers against its output. False, and
    // nothing known, when a buffer is missing, not of the output's size or of
    // the wrong pixel size, or when the host has no memory for the tiles.
    bool survey(const RenderInfoTemplate<Hyperboloid> &info);
    bool ready() const { return counts_ != nullptr; }

    // Whether the survey stands for colour buffers of `colourBytes` a pixel
    // and pixel (x, y) lies in the buffers.
    bool holds(int colourBytes, int x, int y) const
    {
        return ready() && colourBytes == colourBytes_ && x >= 0 && x < width_ && y >= 0 &&
               y < height_;
    }
    // The depths at pixel (x, y), which must be held.
    float nearDepth(int x, int y) const { return depthAt(nearDepth_, nearDepthRowBytes_, x, y); }
    float farDepth(int x, int y) const { return depthAt(farDepth_, farDepthRowBytes_, x, y); }

    enum Layer { Near = 0, Far = 1 };
    // Whether every pixel of the layer's colour buffer in columns [x0, x1] and
    // rows [y0, y1] is transparent black; the part of the rectangle outside
    // the buffer counts as transparent black, as the host's samplers read it.
    bool clear(Layer layer, int x0, int y0, int x1, int y1) const
    {
        if (!ready()) return false;
        x0 = x0 < 0 ? 0 : x0;
        y0 = y0 < 0 ? 0 : y0;
        x1 = x1 < width_ ? x1 : width_ - 1;
        y1 = y1 < height_ ? y1 : height_ - 1;
        if (x0 > x1 || y0 > y1) return true; // wholly outside
        const std::uint32_t *c = counts_ + (layer == Far ? perLayer_ : 0);
        const std::size_t tx0 = static_cast<unsigned>(x0) / kTile;
        const std::size_t tx1 = static_cast<unsigned>(x1) / kTile + 1;
        const std::size_t row0 = static_cast<unsigned>(y0) / kTile * stride_;
        const std::size_t row1 = (static_cast<unsigned>(y1) / kTile + 1) * stride_;
        return c[row1 + tx1] - c[row0 + tx1] - c[row1 + tx0] + c[row0 + tx0] == 0;
    }

    // Whether the host's area sample of the layer over the box [left, right]
    // x [top, bottom] (pixel centres; a box turned inside out by a negative
    // radius counts as its mirror image) reaches nothing but transparent
    // black. Counted generously: a box of any radius reaches the pixels it
    // touches with at least half a pixel each side of its centre, and
    // kReachMargin more on each side allows for the host's filter and the
    // 16.16 rounding on the way. Ends beyond the buffer are pulled in to it,
    // which only widens what is counted. (The ends are never NaN: cutting the
    // box to the image with max and min drops a NaN.)
    bool clearWithin(Layer layer, double left, double right, double top, double bottom) const
    {
        return clear(layer, Low(left, right), Low(top, bottom), High(left, right, width_),
                     High(top, bottom, height_));
    }

    static constexpr int kReachMargin = 2;

    // The layers (kNearCalm, kFarCalm) whose colour buffer holds nothing but
    // transparent black within the widest blur any layer can have at pixel
    // (x, y), which must be held: their samples there are transparent black
    // whatever their depth. None where the frame's blur has no bound.
    static constexpr int kNearCalm = 1, kFarCalm = 2;
    int calmAt(int x, int y) const
    {
        return calm_ ? calm_[static_cast<std::size_t>(static_cast<unsigned>(y) / kTile) * tilesX_ +
                             static_cast<unsigned>(x) / kTile]
                     : 0;
    }

private:
    // The first and last pixel counted along one axis for the box ends a
    // and b (see clearWithin).
    static int Low(double a, double b)
    {
        const double lo = a < b ? a : b;
        return static_cast<int>(lo > 0.0 ? lo : 0.0) - kReachMargin; // truncation: the floor
    }
    static int High(double a, double b, int size)
    {
        const double hi = a < b ? b : a;
        const double last = size - 1.0;
        return static_cast<int>(hi < last ? (hi > 0.0 ? hi : 0.0) : last) + 1 + kReachMargin;
    }

    void markCalm(const RenderInfoTemplate<Hyperboloid> &info, unsigned char *calm);
    static float depthAt(const unsigned char *base, int rowBytes, int x, int y);
    void markTiles(std::uint32_t *counts, const unsigned char *base, int rowBytes) const;

    // Per layer, (tilesX + 1) x (tilesY + 1) counts: at [ty + 1][tx + 1] the
    // tiles holding something in tile columns 0..tx and tile rows 0..ty.
    std::uint32_t *counts_ = nullptr;
    const unsigned char *calm_ = nullptr; // tilesX_ x tilesY_, in the block of counts_
    std::size_t stride_ = 0, perLayer_ = 0; // tilesX_ + 1; counts of one layer
    int tilesX_ = 0, tilesY_ = 0;
    int width_ = 0, height_ = 0, colourBytes_ = 0;
    const unsigned char *nearDepth_ = nullptr, *farDepth_ = nullptr;
    int nearDepthRowBytes_ = 0, farDepthRowBytes_ = 0;
};

extern template PF_Err DofCompositeCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
extern template PF_Err DofCompositeCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
extern template PF_Err DofCompositeCallback<PF_Pixel>(void *, A_long, A_long, A_long);
