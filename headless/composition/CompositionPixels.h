// Layer pixels of the composition model: a layer's source image, scaled down
// for a downsampled render and stored at the render's depth in host-owned
// storage that the effect reads through a PF_LayerDef.
//
// `LayerImage` is what a layer parameter checkout hands out: a host world
// (HostWorld) that the area samplers can find once it is published.
//
// Source images are straight (not premultiplied) float colour, channels in
// the host's order alpha, red, green, blue:
//   - a solid: its size, every pixel its colour;
//   - footage: its pixels (a buffer whose size does not match gives a
//     transparent image of the footage's size);
//   - a null: its size, transparent;
//   - cameras and lights have no image.
//
// Downsampling by (sx, sy) = num / den gives ceil(width * sx) x
// ceil(height * sy) pixels. Output pixel (i, j) averages the source pixels
// whose centres fall in [i / sx, (i + 1) / sx) x [j / sy, (j + 1) / sy) (the
// nearest one when none does), weighting colour by alpha: exact box
// averages for whole reduction factors (1/2, 1/3, ...).
//
// Depth conversion is the system's one rule: float to 8 or 16 bits multiplies
// by 255 or 32768 in single precision, clamps to [0, full] and truncates; NaN
// becomes 0.
//
// Thread safety: a LayerImage is written while it is made and only read
// afterwards (by any number of threads).
#pragma once

#include "headless/composition/Composition.h"
#include "headless/images/HostWorld.h"
#include "headless/boundary/Worlds.h"
#include "headless/SdkHeaders.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace headless {

// A straight-alpha float image, pixels in rows top first.
struct SourceImage {
    int width = 0;
    int height = 0;
    std::vector<PF_PixelFloat> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    const PF_PixelFloat &at(int x, int y) const {
        return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
};

// The layer's own image at its own size (empty for cameras and lights).
SourceImage layerSourceImage(const Layer &layer);

// The image scaled by the downsample factors (see above). Factors that are
// not positive count as 1. At full resolution the image is handed back as it
// came (moved, not copied).
SourceImage downsampleImage(SourceImage image, PF_RationalScale x, PF_RationalScale y);

// Host-owned pixels of one depth (8, 16 or 32 bits per channel) in a
// HostWorld: rows padded beyond width * bytes per pixel, so code that steps
// rows by width instead of rowbytes reads wrong.
class LayerImage {
public:
    // Null for a size that is not positive or a depth other than 8, 16, 32.
    static std::unique_ptr<LayerImage> create(int width, int height, int bitsPerChannel);
    // Writes row y (top first) of an image as its width in float pixels.
    using RowMaker = std::function<void(int y, PF_PixelFloat *row)>;
    // The rows `makeRow` writes, one at a time, converted to
    // `bitsPerChannel` (no float image of the whole size is made); null as
    // for create().
    static std::unique_ptr<LayerImage> fromRows(int width, int height, int bitsPerChannel,
                                                const RowMaker &makeRow);
    // `image` converted to `bitsPerChannel`; null as for create().
    static std::unique_ptr<LayerImage> fromSource(const SourceImage &image, int bitsPerChannel);
    // Every pixel `pixel` converted to `bitsPerChannel`; null as for create().
    static std::unique_ptr<LayerImage> filled(int width, int height, const PF_PixelFloat &pixel,
                                              int bitsPerChannel);
    // `footage` at full size converted to `bitsPerChannel`, as
    // fromSource(layerSourceImage(...)) converts it but without a float image
    // of its size; null as for create().
    static std::unique_ptr<LayerImage> fromFootage(const FootageSource &footage, int bitsPerChannel);

    // Stores pixel (x, y), converting from float; ignored outside the image.
    void store(int x, int y, const PF_PixelFloat &pixel);
    // Reads pixel (x, y) back as float (8 bits / 255, 16 bits / 32768);
    // transparent black outside the image.
    PF_PixelFloat load(int x, int y) const;

    // Makes the image readable by the host's samplers (read-only) until the
    // image is destroyed.
    void publishIn(Worlds &worlds);
    // Whether the samplers' table of the image is held whole whatever its
    // size (HostWorld::setTableHeldWhole); it is unless said otherwise.
    void holdTableWhole(bool whole) { world_->setTableHeldWhole(whole); }

    // The description the effect receives: data, rowbytes, width, height,
    // extent, world flags (PF_WorldFlag_DEEP for 16 bits), pixel aspect 1/1.
    PF_LayerDef world() const { return world_->effectWorld(); }

    int width() const { return int(world_->width()); }
    int height() const { return int(world_->height()); }
    int bitsPerChannel() const { return bits_; }
    A_long rowbytes() const { return world_->rowbytes(); }
    const void *data() const { return world_->effectWorld().data; }

private:
    LayerImage(int width, int height, int bits);
    // Stores row y from `width()` float pixels, by the one conversion rule.
    void storeRow(int y, const PF_PixelFloat *src);

    int bits_;
    std::unique_ptr<HostWorld> world_;
    Worlds::Publication publication_; // withdrawn before the world goes
};

// What a checkout of `layer` hands out: its source image scaled by the
// downsample factors and stored at `bitsPerChannel`, the same values as
// fromSource(downsampleImage(layerSourceImage(layer), x, y)), but made
// without any image of the source's size: a solid or null is filled from
// its colour (each block size averaged once), footage is read and scaled
// row by row. What it costs follows the layer at the render's size, so a
// downsampled preview of a large layer is cheap. Null for a layer without
// pixels; throws std::bad_alloc when the memory is not there.
std::unique_ptr<LayerImage> layerPixels(const Layer &layer, PF_RationalScale x, PF_RationalScale y,
                                        int bitsPerChannel);

// Bytes per pixel of a depth: 4, 8 or 16; 0 for any other depth.
int bytesPerPixel(int bitsPerChannel);

} // namespace headless
