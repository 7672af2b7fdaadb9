#include "imaging/DofComposite.h"

#include "imaging/AreaSample.h"
#include "imaging/TextureSampling.h"
#include "imaging/World.h"
#include "tracer/PixelCallbacks.h"

#include <algorithm>
#include <cmath>

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
    float depth;

    // A layer without surface at this pixel (depth -1) is never sampled.
    bool present() const { return depth >= 0.0f; }
};

// The layer blurred over its circle of confusion around (x, y): one area
// sample over the box of the radius, cut to the image (so near the border the
// box, and its centre, move inward). Returns the host's error.
template <class P>
PF_Err BlurredLayer(const Record &info, const Layer &layer, int x, int y, PF_PixelFloat &out)
{
    out = kTransparent;
    if (!layer.present()) return PF_Err_NONE;
    const double r = DofBlurRadius(layer.depth, info.focusDistance, info.dofBlurScale);
    const double maxX = info.nearColorWorld->width() - 1.0;
    const double maxY = info.nearColorWorld->height() - 1.0;
    const double left = std::max(0.0, x - r * info.downsampleX);
    const double right = std::min(maxX, x + r * info.downsampleX);
    const double top = std::max(0.0, y - r * info.downsampleY);
    const double bottom = std::min(maxY, y + r * info.downsampleY);

    const PF_SampPB pb =
        MakeSampPB((right - left) / 2.0, (bottom - top) / 2.0, layer.colour->effectWorld());
    return HostAreaSample<P>(info.inData, SamplingSuites(info),
                             FixedFromDouble((left + right) / 2.0),
                             FixedFromDouble((top + bottom) / 2.0), pb, out);
}

template <class P> PF_Err CompositePixel(const Record *info, A_long i)
{
    int x = 0, y = 0;
    if (!info || !PixelOfIndex<P>(info->outputWorld, i, x, y)) return PF_Err_BAD_CALLBACK_PARAM;
    constexpr int colourBytes = static_cast<int>(sizeof(P));
    const void *nearDepth = WorldPixel(info->nearDepthWorld, sizeof(float), x, y);
    const void *farDepth = WorldPixel(info->farDepthWorld, sizeof(float), x, y);
    if (!nearDepth || !farDepth || !WorldPixel(info->nearColorWorld, colourBytes, x, y) ||
        !WorldPixel(info->farColorWorld, colourBytes, x, y))
        return SideBufferError(*info);

    // The layer nearer the camera is the front; a missing one (-1) sorts to
    // the front and contributes nothing.
    const Layer nearLayer{info->nearColorWorld, LoadDepth(nearDepth)};
    const Layer farLayer{info->farColorWorld, LoadDepth(farDepth)};
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
