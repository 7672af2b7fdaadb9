#include "imaging/DofComposite.h"

#include "imaging/AreaSample.h"
#include "imaging/TextureSampling.h"
#include "imaging/World.h"
#include "host/aeMemory.h"
#include "tracer/PixelCallbacks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace pixel_pass;

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

constexpr PF_PixelFloat kTransparent{0.0f, 0.0f, 0.0f, 0.0f};

// Closest distance from the focus plane that still counts; keeps the radius
// finite (and practically zero) in the plane itself.
constexpr double kMinDefocus = 0.00001;

// One surface layer at the pixel: its colour world and its depth there.
struct Layer {
    AEO::World *colour;
    DofSideBuffers::Layer which;
    float depth;
    bool calm; // the survey found nothing within the widest blur of the pixel

    // A layer without surface at this pixel (depth -1) is never sampled.
    bool present() const { return depth >= 0.0f; }
};

// The host's area sample of the layer over the box [left, right] x [top,
// bottom]: centred in it, with half its width and height as radii.
template <class P>
[[gnu::noinline]] PF_Err SampleBox(const Record &info, const Layer &layer, double left,
                                   double right, double top, double bottom, PF_PixelFloat &out)
{
    const PF_SampPB pb =
        MakeSampPB((right - left) / 2.0, (bottom - top) / 2.0, layer.colour->effectWorld());
    return HostAreaSample<P>(info.inData, SamplingSuites(info),
                             FixedFromDouble((left + right) / 2.0),
                             FixedFromDouble((top + bottom) / 2.0), pb, out);
}

// The layer blurred over its circle of confusion around (x, y): one area
// sample over the box of the radius, cut to the image (so near the border the
// box, and its centre, move inward). Returns the host's error.
template <class P>
PF_Err BlurredLayer(const Record &info, const Layer &layer, int x, int y, PF_PixelFloat &out)
{
    out = kTransparent;
    if (!layer.present() || layer.calm) return PF_Err_NONE;
    const double r = DofBlurRadius(layer.depth, info.focusDistance, info.dofBlurScale);
    const double maxX = info.nearColorWorld->width() - 1.0;
    const double maxY = info.nearColorWorld->height() - 1.0;
    const double left = std::max(0.0, x - r * info.downsampleX);
    const double right = std::min(maxX, x + r * info.downsampleX);
    const double top = std::max(0.0, y - r * info.downsampleY);
    const double bottom = std::min(maxY, y + r * info.downsampleY);

    // Nothing but transparent black within reach: so is the sample.
    const DofSideBuffers *side = info.dofSideBuffers;
    if (side && side->clearWithin(layer.which, left, right, top, bottom)) return PF_Err_NONE;
    return SampleBox<P>(info, layer, left, right, top, bottom, out);
}

constexpr int kBothCalm = DofSideBuffers::kNearCalm | DofSideBuffers::kFarCalm;

// The two depths at pixel (x, y) and the layers the survey found calm there
// (DofSideBuffers::calmAt): from the frame's survey of the side buffers when
// it holds the pixel, otherwise from buffers checked here (and none calm).
// Where both layers are calm the depths are not read: the pixel is
// transparent black whatever they are, and a frame's calm pixels (half of
// the depth-of-field scene's) need not fetch them from the side buffers.
template <class P>
PF_Err DepthsAt(const Record &info, int x, int y, float &nearDepth, float &farDepth, int &calm)
{
    constexpr int colourBytes = static_cast<int>(sizeof(P));
    const DofSideBuffers *side = info.dofSideBuffers;
    if (side && side->holds(colourBytes, x, y)) {
        calm = side->calmAt(x, y);
        if (calm == kBothCalm) return PF_Err_NONE;
        nearDepth = side->nearDepth(x, y);
        farDepth = side->farDepth(x, y);
        return PF_Err_NONE;
    }
    calm = 0;
    const void *nearSlot = WorldPixel(info.nearDepthWorld, sizeof(float), x, y);
    const void *farSlot = WorldPixel(info.farDepthWorld, sizeof(float), x, y);
    if (!nearSlot || !farSlot || !WorldPixel(info.nearColorWorld, colourBytes, x, y) ||
        !WorldPixel(info.farColorWorld, colourBytes, x, y))
        return SideBufferError(info);
    nearDepth = LoadDepth(nearSlot);
    farDepth = LoadDepth(farSlot);
    return PF_Err_NONE;
}

template <class P> PF_Err CompositePixel(const Record *info, A_long i)
{
    int x = 0, y = 0;
    if (!info || !PixelOfIndex<P>(info->outputWorld, i, x, y)) return PF_Err_BAD_CALLBACK_PARAM;
    float nearDepth = 0.0f, farDepth = 0.0f;
    int calm = 0;
    if (const PF_Err err = DepthsAt<P>(*info, x, y, nearDepth, farDepth, calm)) return err;

    // The layer nearer the camera is the front; a missing one (-1) sorts to
    // the front and contributes nothing.
    const Layer nearLayer{info->nearColorWorld, DofSideBuffers::Near, nearDepth,
                          (calm & DofSideBuffers::kNearCalm) != 0};
    const Layer farLayer{info->farColorWorld, DofSideBuffers::Far, farDepth,
                         (calm & DofSideBuffers::kFarCalm) != 0};
    // Neither layer has anything to give here: transparent black, as the two
    // transparent samples would lay over each other.
    if ((!nearLayer.present() || nearLayer.calm) && (!farLayer.present() || farLayer.calm)) {
        StorePixel<P>(OutputPixel<P>(info->outputWorld, x, y), kTransparent);
        return PF_Err_NONE;
    }
    const bool nearInFront = farLayer.depth > nearLayer.depth;
    const Layer &front = nearInFront ? nearLayer : farLayer;
    const Layer &back = nearInFront ? farLayer : nearLayer;

    PF_PixelFloat A = kTransparent, B = kTransparent;
    PF_Err err = BlurredLayer<P>(*info, front, x, y, A);
    if (back.present() && A.alpha < 1.0f) {
        const PF_Err backErr = BlurredLayer<P>(*info, back, x, y, B);
        if (err == PF_Err_NONE) err = backErr;
    }
    StorePixel<P>(OutputPixel<P>(info->outputWorld, x, y), Over(A, B));
    return err;
}

} // namespace

double DofBlurRadius(double d, double F, double S)
{
    const double a = std::max(std::fabs(d - F), kMinDefocus);
    return S / (F / a + 1.0);
}

// ---- the survey of the side buffers -------------------------------------------------

namespace {

// Whether any of the n bytes at p (n a multiple of the word's size) is not
// zero, read a word at a time.
template <class Word> bool AnyWordSet(const unsigned char *p, std::size_t n)
{
    Word any = 0;
    for (std::size_t k = 0; k < n; k += sizeof(Word)) {
        Word word;
        std::memcpy(&word, p + k, sizeof word);
        any |= word;
    }
    return any != 0;
}

// The same for a tile's row of pixels of kPixelBytes each: a size known
// when compiled, so the loads unroll (the survey reads every byte of the
// empty parts of both colour buffers, tile by tile).
template <std::size_t kPixelBytes> bool AnyByteSetInTile(const unsigned char *p)
{
    constexpr std::size_t kBytes = DofSideBuffers::kTile * kPixelBytes;
    static_assert(kBytes % sizeof(std::uint64_t) == 0);
    return AnyWordSet<std::uint64_t>(p, kBytes);
}

// Marks those of `row`'s whole tiles (`tiles` of them) that hold anything.
// Every byte is read, in order, marked tiles too: one stream the processor
// reads ahead of, three times as fast as passing over the marked ones.
template <std::size_t kPixelBytes> void MarkWholeTiles(const unsigned char *row, int tiles, std::uint32_t *marks)
{
    constexpr std::size_t kTileBytes = DofSideBuffers::kTile * kPixelBytes;
    for (int tx = 0; tx < tiles; ++tx)
        marks[tx] |= AnyByteSetInTile<kPixelBytes>(row + tx * kTileBytes) ? 1u : 0u;
}

// MarkWholeTiles for pixels of `pixelBytes`; how many tiles it marked (none
// for a pixel size it has no form for).
int MarkWholeTilesOf(int pixelBytes, const unsigned char *row, int tiles, std::uint32_t *marks)
{
    switch (pixelBytes) {
    case 4: MarkWholeTiles<4>(row, tiles, marks); return tiles;
    case 8: MarkWholeTiles<8>(row, tiles, marks); return tiles;
    case 16: MarkWholeTiles<16>(row, tiles, marks); return tiles;
    default: return 0;
    }
}

// A side buffer's rows and pixel size, when it exists at the output's size.
bool MatchesOutput(const AEO::World *world, const PF_LayerDef &output)
{
    return world && world->err() == PF_Err_NONE && world->data() &&
           world->width() == output.width && world->height() == output.height &&
           world->bytesPerPixel() > 0 && world->rowBytes() >= world->width() * world->bytesPerPixel();
}

} // namespace

DofSideBuffers::~DofSideBuffers() { AEFree(counts_); }

float DofSideBuffers::depthAt(const unsigned char *base, int rowBytes, int x, int y)
{
    return LoadDepth(base + static_cast<std::ptrdiff_t>(y) * rowBytes +
                     static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(sizeof(float)));
}

void DofSideBuffers::markTiles(std::uint32_t *counts, const unsigned char *base, int rowBytes) const
{
    const std::size_t stride = stride_;
    const int wholeTiles = width_ / kTile;
    for (int y = 0; y < height_; ++y) {
        const unsigned char *row = base + static_cast<std::ptrdiff_t>(y) * rowBytes;
        std::uint32_t *marks = counts + (static_cast<std::size_t>(y / kTile) + 1) * stride + 1;
        for (int tx = MarkWholeTilesOf(colourBytes_, row, wholeTiles, marks); tx < tilesX_; ++tx) { // a last tile cut by the edge, or another pixel size
            if (marks[tx]) continue;
            const int x0 = tx * kTile;
            const int x1 = std::min(x0 + kTile, width_);
            if (AnyWordSet<std::uint32_t>(row + static_cast<std::size_t>(x0) * colourBytes_,
                                          static_cast<std::size_t>(x1 - x0) * colourBytes_))
                marks[tx] = 1;
        }
    }
    // The marks become counts over every rectangle from tile (0, 0).
    for (int ty = 1; ty <= tilesY_; ++ty)
        for (int tx = 1; tx <= tilesX_; ++tx)
            counts[ty * stride + tx] += counts[ty * stride + tx - 1] +
                                        counts[(ty - 1) * stride + tx] -
                                        counts[(ty - 1) * stride + tx - 1];
}

bool DofSideBuffers::survey(const RenderInfoTemplate<Hyperboloid> &info)
{
    AEFree(counts_);
    counts_ = nullptr;
    calm_ = nullptr;
    const PF_LayerDef *output = info.outputWorld;
    if (!output || output->width <= 0 || output->height <= 0) return false;
    for (const AEO::World *world :
         {info.nearColorWorld, info.farColorWorld, info.nearDepthWorld, info.farDepthWorld})
        if (!MatchesOutput(world, *output)) return false;
    const int colourBytes = info.nearColorWorld->bytesPerPixel();
    if (info.farColorWorld->bytesPerPixel() != colourBytes || colourBytes % 4 != 0 ||
        info.nearDepthWorld->bytesPerPixel() != static_cast<int>(sizeof(float)) ||
        info.farDepthWorld->bytesPerPixel() != static_cast<int>(sizeof(float)))
        return false;

    width_ = output->width;
    height_ = output->height;
    colourBytes_ = colourBytes;
    tilesX_ = (width_ + kTile - 1) / kTile;
    tilesY_ = (height_ + kTile - 1) / kTile;
    stride_ = static_cast<std::size_t>(tilesX_) + 1;
    const std::size_t perLayer = stride_ * (static_cast<std::size_t>(tilesY_) + 1);
    perLayer_ = perLayer;
    const std::size_t countBytes = 2 * perLayer * sizeof(std::uint32_t);
    const std::size_t tiles = static_cast<std::size_t>(tilesX_) * tilesY_;
    auto *block = static_cast<unsigned char *>(AEMalloc(countBytes + tiles));
    if (!block) return false;
    auto *counts = reinterpret_cast<std::uint32_t *>(block);
    std::memset(counts, 0, countBytes);
    markTiles(counts, static_cast<const unsigned char *>(info.nearColorWorld->data()),
              info.nearColorWorld->rowBytes());
    markTiles(counts + perLayer, static_cast<const unsigned char *>(info.farColorWorld->data()),
              info.farColorWorld->rowBytes());

    nearDepth_ = static_cast<const unsigned char *>(info.nearDepthWorld->data());
    farDepth_ = static_cast<const unsigned char *>(info.farDepthWorld->data());
    nearDepthRowBytes_ = info.nearDepthWorld->rowBytes();
    farDepthRowBytes_ = info.farDepthWorld->rowBytes();
    counts_ = counts;
    markCalm(info, block + countBytes);
    return true;
}

void DofSideBuffers::markCalm(const RenderInfoTemplate<Hyperboloid> &info, unsigned char *calm)
{
    // A blur radius is S / (F / a + 1) with a > 0 (a layer at an infinite
    // depth has a = infinity): for a finite F >= 0 it is at most |S| (the
    // division cannot round past it), so every box end lies within |S| times
    // the larger downsampling factor of the pixel. Other values give no
    // bound (an infinite F and depth make the radius NaN, and the box the
    // whole image), and then no layer is calm.
    const double S = info.dofBlurScale, F = info.focusDistance;
    const double scale = std::max(std::fabs(info.downsampleX), std::fabs(info.downsampleY));
    if (!(F >= 0.0) || !std::isfinite(F) || !std::isfinite(S) || !std::isfinite(scale)) return;
    const double reach = std::fabs(S) * scale;
    // The counted pixels reach one further than the box ends, and
    // kReachMargin beyond; one more for good measure. Tiles this far on
    // every side of a pixel's own tile hold all of them. A blur wider than
    // the frame is held by a window over all of it.
    const double tilesAway = std::ceil((reach + 2 + kReachMargin) / kTile);
    const int d = static_cast<int>(std::min(tilesAway, double(std::max(tilesX_, tilesY_))));
    for (int ty = 0; ty < tilesY_; ++ty)
        for (int tx = 0; tx < tilesX_; ++tx) {
            const int x0 = (tx - d) * kTile, x1 = (tx + d + 1) * kTile - 1;
            const int y0 = (ty - d) * kTile, y1 = (ty + d + 1) * kTile - 1;
            calm[static_cast<std::size_t>(ty) * tilesX_ + tx] = static_cast<unsigned char>(
                (clear(Near, x0, y0, x1, y1) ? kNearCalm : 0) |
                (clear(Far, x0, y0, x1, y1) ? kFarCalm : 0));
        }
    calm_ = calm;
}

// ---- the callback ----------------------------------------------------------------

template <class P>
PF_Err DofCompositeCallback(void *refcon, A_long threadIndex, A_long i, A_long /*iterations*/)
{
    if (threadIndex < 0) return PF_Err_NONE;
    // The samplers turn a missing suite into an error; this keeps anything
    // else from reaching the host's iterator as an exception.
    try {
        return CompositePixel<P>(static_cast<const Record *>(refcon), i);
    } catch (PF_Err err) {
        return err;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

template PF_Err DofCompositeCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
template PF_Err DofCompositeCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
template PF_Err DofCompositeCallback<PF_Pixel>(void *, A_long, A_long, A_long);
