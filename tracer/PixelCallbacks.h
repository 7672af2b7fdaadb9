// The per-pixel trace callbacks that the smart render hands to the host's
// generic iterator, one call per output pixel, with the render record as the
// reference value:
// - RayTrace_PixelCallback writes the finished pixel into the output: nine-
//   point coverage, the near hit and, behind a partly transparent near hit,
//   the far hit laid under it; alpha times coverage.
// - RayTrace_PixelDepthCallback is the first pass of depth of field: it writes
//   the front (t-) and back (t+) surface layers with their ray parameters into
//   the record's four side buffers, for DofCompositeCallback to blur.
// Both are instantiated for the three output pixel types; pick the one that
// matches the record's pixelFormat. Colours are stored straight; integer
// outputs store each channel by the system's one rule (scale by 255 or 32768
// in single precision, clamp to [0, full], truncate).
//
// Depth buffers hold the ray parameter of the layer's hit, its magnitude
// where the hit is not drawn, and -1 where the pixel has no surface.
//
// Errors and exceptions. Nothing may leave a callback by an exception: the
// host's iterator cannot pass one on. The only source of one is the record's
// suite cache, which throws PF_Err_BAD_CALLBACK_PARAM when the host lacks a
// sampling suite; the samplers already turn that into a transparent sample,
// and each callback also catches whatever still escapes and returns it as its
// error. Because a missing suite would otherwise only show as a transparent
// texture, the render should call AcquireSamplingSuite before the passes and
// fail the frame when it reports an error; that also makes the one lazy fill
// of the suite cache happen before the render threads start. A callback
// returns an error, and writes nothing, when the record or the buffers it
// must write are missing or too small for the pixel; otherwise it returns 0.
// A negative thread index does nothing.
//
// Thread safety: any number of host threads may run the callbacks at once
// for different pixels. They read the record, its lights and the layer pixels
// only, allocate nothing, take no locks and write exactly the pixel(s) of
// their own index. Working values live on the stack, except the coverage of
// the next few pixels of the row and what was worked out for them (for many,
// the very bytes their callbacks then store), which each thread keeps in its
// own block of the record's traceScratch (see TraceScratch) because the host
// hands a thread consecutive pixels; it is tied to the record's pass serial,
// so call the record's beginPass before each pass.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "imaging/Pixel.h"
#include "imaging/World.h"
#include "scene/RenderInfo.h"
#include "tracer/ReachWindow.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <mutex>

// Pixel addressing shared by the per-pixel passes (also the depth-of-field
// composite). All of it is plain arithmetic on the caller's stack.
namespace pixel_pass {

// Whether `output` has pixels, in rows long enough for its width in pixels of
// type P (a pass of another depth than the output's may not write it). Column
// x and row y of iteration index i over it; false when i lies outside it or
// the output does not hold P.
template <class P> inline bool OutputHolds(const PF_LayerDef *output)
{
    return output && output->data && output->width > 0 &&
           output->rowbytes / static_cast<A_long>(sizeof(P)) >= output->width;
}
template <class P> inline bool PixelOfIndex(const PF_LayerDef *output, A_long i, int &x, int &y)
{
    if (!OutputHolds<P>(output) || i < 0) return false;
    x = static_cast<int>(i % output->width);
    y = static_cast<int>(i / output->width);
    return y < output->height;
}

// Pixel (x, y) of `output`, whose pixels are of type P; rows are rowbytes apart.
template <class P> inline P *OutputPixel(const PF_LayerDef *output, int x, int y)
{
    char *row =
        static_cast<char *>(output->data) + static_cast<std::ptrdiff_t>(y) * output->rowbytes;
    return reinterpret_cast<P *>(row) + x;
}

// Pixel (x, y) of an effect world whose pixels are `bytes` wide, or null when
// the world is missing, was not created, has another pixel size or does not
// reach (x, y).
inline void *WorldPixel(AEO::World *world, int bytes, int x, int y)
{
    if (!world || world->bytesPerPixel() != bytes) return nullptr;
    return world->data(x, y);
}

// Stores a float pixel as P by the system's one rule.
template <class P> inline void StorePixel(void *dst, const PF_PixelFloat &colour)
{
    const P stored = fromPixelF<P>(&colour);
    std::memcpy(dst, &stored, sizeof(P));
}

// A depth slot of a depth world: one float in a four-byte pixel.
inline void StoreDepth(void *dst, float depth) { std::memcpy(dst, &depth, sizeof(float)); }
inline float LoadDepth(const void *src)
{
    float depth = 0.0f;
    std::memcpy(&depth, src, sizeof(float));
    return depth;
}

// Straight colour `front` laid over `back`: alpha front + (1 - front) back,
// colours weighted by what each contributes. Alpha is not clamped.
inline PF_PixelFloat Over(const PF_PixelFloat &front, const PF_PixelFloat &back)
{
    const float wBack = (1.0f - front.alpha) * back.alpha;
    const float alpha = front.alpha + wBack;
    PF_PixelFloat out{alpha, wBack * back.red + front.alpha * front.red,
                      wBack * back.green + front.alpha * front.green,
                      wBack * back.blue + front.alpha * front.blue};
    if (alpha > 0.0f) {
        out.red /= alpha;
        out.green /= alpha;
        out.blue /= alpha;
    }
    return out;
}

// Why the side buffers cannot take a pixel: the host's error from creating
// one of them, or a bad parameter when they are missing or too small.
inline PF_Err SideBufferError(const RenderInfoTemplate<Hyperboloid> &info)
{
    for (const AEO::World *world :
         {info.nearColorWorld, info.farColorWorld, info.nearDepthWorld, info.farDepthWorld})
        if (world && world->err() != PF_Err_NONE) return world->err();
    return PF_Err_BAD_CALLBACK_PARAM;
}

} // namespace pixel_pass

struct CoverageCache;

// Each host thread's working memory over the trace passes: the coverage of
// the pixels just after the one it last traced, which the host is about to
// hand it. The render makes one before its passes and points the record's
// traceScratch at it; the callbacks find a thread's block by its thread
// index. A record without one, or a thread index it has no block for, has
// each pixel covered on its own: the same values, more slowly.
//
// Made on host memory: construct and destroy it on the command's thread,
// while a command context is open. A host out of memory gives one without
// blocks (threads() == 0).
class TraceScratch {
public:
    explicit TraceScratch(int threads);
    ~TraceScratch();
    TraceScratch(const TraceScratch &) = delete;
    TraceScratch &operator=(const TraceScratch &) = delete;

    // Thread indices 0 to threads() - 1 have a block.
    int threads() const { return threads_; }
    // The block of thread `threadIndex`, or null when it has none.
    CoverageCache *forThread(A_long threadIndex) const;

    // The reach window of the pass over `info` (ReachWindow.h), worked out
    // by the first thread that asks in the pass while any others wait; it
    // stands until a later pass asks. Safe from any number of threads.
    const ReachWindow &reachWindow(const RenderInfoTemplate<Hyperboloid> &info);

private:
    CoverageCache *caches_ = nullptr;
    int threads_ = 0;
    std::mutex windowLock_;
    std::atomic<std::uint64_t> windowPass_{0}; // the pass window_ belongs to
    ReachWindow window_;
};

// Single pass: pixel i of the record's outputWorld (row i / width, column
// i mod width).
template <class P>
PF_Err RayTrace_PixelCallback(void *refcon, A_long threadIndex, A_long i, A_long iterations);

// Depth pass: pixel i of nearColorWorld, farColorWorld, nearDepthWorld and
// farDepthWorld (colour worlds of the output's depth, depth worlds holding
// one float per four-byte pixel).
template <class P>
PF_Err RayTrace_PixelDepthCallback(void *refcon, A_long threadIndex, A_long i, A_long iterations);

// Acquires the sampling suite that the passes for the record's pixelFormat use
// (float, 16-bit or 8-bit), so that it is in the record's suite cache before
// the host's threads need it. Returns PF_Err_BAD_CALLBACK_PARAM when the host
// does not offer it; throws nothing.
PF_Err AcquireSamplingSuite(RenderInfoTemplate<Hyperboloid> &info);

extern template PF_Err RayTrace_PixelCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
extern template PF_Err RayTrace_PixelCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
extern template PF_Err RayTrace_PixelCallback<PF_Pixel>(void *, A_long, A_long, A_long);
extern template PF_Err RayTrace_PixelDepthCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
extern template PF_Err RayTrace_PixelDepthCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
extern template PF_Err RayTrace_PixelDepthCallback<PF_Pixel>(void *, A_long, A_long, A_long);
