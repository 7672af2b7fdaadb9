// The smart-render pair: pre-render reports the result rectangles, smart
// render traces one frame through the host's generic iterator.

#include "host/SmartRender.h"

#include "host/ATParameter.h"
#include "host/Handlers.h"
#include "host/HostNumbers.h"
#include "host/ParamIds.h"
#include "imaging/DofComposite.h"
#include "imaging/World.h"
#include "scene/RenderInfo.h"
#include "tracer/PixelCallbacks.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <thread>

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

// Every layer and output checkout of the effect uses this id.
constexpr A_long kCheckoutId = 0;

constexpr const char *kPFWorldSuiteName = "PF World Suite";
constexpr A_long kPFWorldSuiteVersion = 2;

bool IsEmptyRect(const PF_LRect &r) { return r.left >= r.right || r.top >= r.bottom; }

// A layer description names a layer when its first pointer field is set.
bool NamesLayer(const PF_LayerDef &layer) { return layer.reserved0 != nullptr; }

// The three per-pixel passes of one output pixel type.
struct Passes {
    PF_IterateGenericFunc single;   // no depth of field: straight into the output
    PF_IterateGenericFunc depth;    // depth of field, first pass: the side buffers
    PF_IterateGenericFunc composite; // depth of field, second pass: into the output
    AEO::World::WorldType colourWorldType;
};

template <class P> constexpr Passes PassesOf(AEO::World::WorldType colour)
{
    return {RayTrace_PixelCallback<P>, RayTrace_PixelDepthCallback<P>, DofCompositeCallback<P>,
            colour};
}

// Float outputs take the float passes, 16-bit outputs the 16-bit ones, and
// every other format the 8-bit ones.
Passes PassesFor(PF_PixelFormat format)
{
    switch (format) {
    case PF_PixelFormat_ARGB128: return PassesOf<PF_PixelFloat>(AEO::World::WorldType_32);
    case PF_PixelFormat_ARGB64: return PassesOf<PF_Pixel16>(AEO::World::WorldType_16);
    default: return PassesOf<PF_Pixel>(AEO::World::WorldType_8);
    }
}

// Asks "PF World Suite" 2 for the pixel format of `world` and gives the suite
// back at once. A host without the suite answers with the suite cache's error.
PF_Err QueryPixelFormat(AEGP_SuiteHandler &suites, PF_EffectWorld *world, PF_PixelFormat &format)
{
    const PF_WorldSuite2 *suite = nullptr;
    try {
        suite = static_cast<const PF_WorldSuite2 *>(
            suites.LoadSuite(kPFWorldSuiteName, kPFWorldSuiteVersion));
    } catch (PF_Err err) {
        return err;
    }
    const PF_Err err = suite->PF_GetPixelFormat ? suite->PF_GetPixelFormat(world, &format)
                                                : PF_Err_BAD_CALLBACK_PARAM;
    suites.ReleaseSuite(kPFWorldSuiteName, kPFWorldSuiteVersion);
    return err;
}

// Output pixels a pass iterates over; 0 for an output without pixels.
A_long PixelCount(const PF_LayerDef &output)
{
    if (!output.data || output.width <= 0 || output.height <= 0) return 0;
    const std::int64_t count = std::int64_t{output.width} * output.height;
    return count > INT32_MAX ? -1 : static_cast<A_long>(count);
}

// One pass of `fn` over every output pixel, on the host's worker threads.
PF_Err RunPass(Record &info, PF_IterateGenericFunc fn)
{
    const PF_UtilCallbacks *utils = info.inData->utils;
    if (!utils || !utils->iterate_generic) return PF_Err_BAD_CALLBACK_PARAM;
    info.beginPass();
    const PF_Err err = utils->iterate_generic(PixelCount(*info.outputWorld), &info, fn);
    // A sample the host refused left a hole in the pass's pixels.
    return err != PF_Err_NONE ? err : info.samplingErr.load();
}

// Whether a side buffer exists at the output's size, so that the passes find
// a pixel address for every output pixel.
bool IsUsable(const AEO::World &world, const PF_LayerDef &output)
{
    return world.err() == PF_Err_NONE && world.data() && world.width() == output.width &&
           world.height() == output.height && world.bytesPerPixel() > 0;
}

// The depth-of-field path: the depth pass fills four side buffers, the
// composite pass blurs them into the output. The buffers die in the reverse
// order of their making, far depth first.
PF_Err TraceWithDepthOfField(Record &info, const Passes &passes)
{
    const PF_LayerDef &output = *info.outputWorld;
    AEO::World nearColour(passes.colourWorldType, output.width, output.height);
    AEO::World farColour(passes.colourWorldType, output.width, output.height);
    AEO::World nearDepth(AEO::World::WorldType_8, output.width, output.height); // one float a pixel
    AEO::World farDepth(AEO::World::WorldType_8, output.width, output.height);
    info.nearColorWorld = &nearColour;
    info.farColorWorld = &farColour;
    info.nearDepthWorld = &nearDepth;
    info.farDepthWorld = &farDepth;

    // Without all four buffers the passes would have nowhere to write.
    PF_Err err = PF_Err_NONE;
    for (const AEO::World *world : {&nearColour, &farColour, &nearDepth, &farDepth})
        if (!IsUsable(*world, output)) err = PF_Err_OUT_OF_MEMORY;
    if (!err) err = RunPass(info, passes.depth);
    // What the depth pass left, surveyed once for the composite pass: where
    // the host has no memory for it, that pass checks and samples everything.
    DofSideBuffers side;
    if (!err && side.survey(info)) info.dofSideBuffers = &side;
    if (!err) err = RunPass(info, passes.composite);

    info.dofSideBuffers = nullptr;
    info.nearColorWorld = info.farColorWorld = nullptr;
    info.nearDepthWorld = info.farDepthWorld = nullptr;
    return err;
}

// Whether the passes ask the host's samplers for anything: a texture, a
// reflection map, or the blur of depth of field.
bool SamplesLayers(const Record &info)
{
    return NamesLayer(info.textureLayer) || NamesLayer(info.reflectionLayer) || info.dofEnabled;
}

// Per-thread blocks of scratch for the passes: one for each thread a host
// runs its iterator on, which is about one per processor, and at least 64
// for hosts that run more. A host thread beyond them is still served, only
// without its cache.
int ScratchThreads()
{
    constexpr unsigned kAtLeast = 64, kAtMost = 4096;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), kAtLeast, kAtMost));
}

// Traces the frame into the record's output.
PF_Err Trace(Record &info)
{
    const A_long pixels = PixelCount(*info.outputWorld);
    if (pixels == 0) return PF_Err_NONE;             // nothing to draw
    if (pixels < 0) return PF_Err_BAD_CALLBACK_PARAM; // more than one pass can count

    // A frame that samples must find the sampling suite already in the
    // record's cache when the render threads start: a host without it is this
    // command's error, never something thrown on a worker thread.
    if (SamplesLayers(info))
        if (PF_Err err = AcquireSamplingSuite(info)) return err;

    const Passes passes = PassesFor(info.pixelFormat);
    TraceScratch scratch(ScratchThreads());
    info.traceScratch = &scratch;
    const PF_Err err =
        info.dofEnabled ? TraceWithDepthOfField(info, passes) : RunPass(info, passes.single);
    info.traceScratch = nullptr;
    return err;
}

} // namespace

void UnionLRect(const PF_LRect *src, PF_LRect *dst)
{
    if (!src || !dst) return;
    if (IsEmptyRect(*dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(*src)) {
        if (src->left < dst->left) dst->left = src->left;
        if (src->top < dst->top) dst->top = src->top;
        if (src->right > dst->right) dst->right = src->right;
        if (src->bottom > dst->bottom) dst->bottom = src->bottom;
    }
}

PF_Err PreRender(PF_InData *in_data, PF_OutData *, PF_PreRenderExtra *extra)
{
    if (!in_data || !extra || !extra->input || !extra->output || !extra->cb ||
        !extra->cb->checkout_layer)
        return PF_Err_BAD_CALLBACK_PARAM;

    // The effect draws over the whole requested area and needs the input for it.
    PF_RenderRequest request = extra->input->output_request;
    request.preserve_rgb_of_zero_alpha = true;

    PF_CheckoutResult input{};
    const PF_Err err =
        extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, kCheckoutId, &request,
                                  in_data->current_time, in_data->time_step, in_data->time_scale,
                                  &input);
    // Reported even when the checkout failed: its result is then empty.
    UnionLRect(&input.result_rect, &extra->output->result_rect);
    UnionLRect(&input.max_result_rect, &extra->output->max_result_rect);
    return err;
}

PF_Err SmartRender(PF_InData *in_data, PF_OutData *, PF_SmartRenderExtra *extra)
{
    if (!in_data || !extra || !extra->cb || !extra->cb->checkout_layer_pixels ||
        !extra->cb->checkout_output)
        return PF_Err_BAD_CALLBACK_PARAM;

    AEGP_SuiteHandler suites(in_data->pica_basicP);

    // The input is checked out as the protocol asks, but never read: the
    // surface replaces the layer's image. Both stay the host's until the
    // command ends.
    PF_EffectWorld *input = nullptr;
    PF_EffectWorld *output = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kCheckoutId, &input);
    if (!err) err = extra->cb->checkout_output(in_data->effect_ref, &output);
    if (!err && !output) err = PF_Err_BAD_CALLBACK_PARAM;

    PF_PixelFormat format = PF_PixelFormat_INVALID;
    if (!err) err = QueryPixelFormat(suites, output, format);

    Record info(in_data);
    info.downsampleX = RatioOf(in_data->downsample_x);
    info.downsampleY = RatioOf(in_data->downsample_y);
    info.pixelAspect = RatioOf(in_data->pixel_aspect_ratio);
    info.pixelFormat = format;
    if (!err) err = ConstructRenderInfo(in_data, info);

    // Both readers keep their layer checked out until the passes are over:
    // the record's layer copies point into those pixels.
    ATParameter textureReader(in_data);
    info.textureLayer = textureReader.param(PARAM_TEXTURE).u.ld;
    ATParameter reflectionReader(in_data);
    const PF_ParamDef reflection = reflectionReader.param(PARAM_REFLECTION_MAP);
    // The first error wins: two error codes or'd together would name a
    // third (a refused checkout after an earlier failure would read as the
    // user's cancel).
    if (!err) err = textureReader.err();
    if (NamesLayer(reflection.u.ld)) info.reflectionLayer = reflection.u.ld;
    // A refused checkout reads as "none": counted whether or not a map was
    // chosen, or the frame would be drawn without the map the user set.
    if (!err) err = reflectionReader.err();
    info.outputWorld = output;

    if (!err) err = Trace(info);
    // The readers check their parameters back in, then the record releases
    // its lights and suites, then this handler's suites go.
    return err;
}
