#include "headless/render/FrameRenderer.h"

#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "headless/composition/SmartRenderHost.h"
#include "headless/images/HostWorld.h"
#include "headless/images/RollingRows.h"

#include <cstring>
#include <utility>

namespace veltrix_render {

namespace {

std::string commandFailure(const headless::Host &host, const char *what, PF_Err err) {
    std::string text = std::string(what) + " failed with error " + std::to_string(err);
    if (host.last().threw) text += " (" + host.last().thrown + ")";
    return text;
}

// Copies row `y` of an ARGB world into RGBA samples.
template <class Pixel, class Sample, class Convert>
void copyRow(const PF_LayerDef &world, int y, Sample *out, Convert convert) {
    const auto *row = reinterpret_cast<const Pixel *>(static_cast<const char *>(world.data) +
                                                      std::ptrdiff_t(y) * world.rowbytes);
    for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = convert(row[x].red);
        out[1] = convert(row[x].green);
        out[2] = convert(row[x].blue);
        out[3] = convert(row[x].alpha);
    }
}

int ceilDiv(int a, int b) { return b > 0 ? (a + b - 1) / b : a; }

} // namespace

headless::ParamCatalog readParamCatalog(const headless::Plugin &plugin) {
    // Global set-up registers with the host's AEGP layer, which an effect
    // instance serves; an empty composition is enough for that.
    headless::Host host(plugin);
    headless::EffectInstance instance(host, headless::Composition{}, -1);
    if (PF_Err err = host.globalSetup())
        throw RenderError("the plug-in's " + commandFailure(host, "global set-up", err));
    PF_Err err = host.paramsSetup();
    headless::ParamCatalog catalog;
    if (!err) catalog = headless::ParamCatalog::fromParams(host.params());
    const std::string failure = err ? commandFailure(host, "parameter set-up", err) : "";
    host.globalSetdown();
    if (err) throw RenderError("the plug-in's " + failure);
    return catalog;
}

Image imageFromWorld(const PF_LayerDef &world, int bits) {
    Image image = Image::transparent(world.width, world.height, bits);
    if (!world.data || world.width <= 0 || world.height <= 0) return image;
    const std::size_t stride = std::size_t(world.width) * 4;
    for (int y = 0; y < world.height; ++y) {
        switch (bits) {
        case 16:
            copyRow<PF_Pixel16>(world, y, &image.u16[std::size_t(y) * stride], fileSample16);
            break;
        case 32:
            copyRow<PF_PixelFloat>(world, y, &image.f32[std::size_t(y) * stride],
                                   [](float v) { return v; });
            break;
        default:
            copyRow<PF_Pixel>(world, y, &image.u8[std::size_t(y) * stride],
                              [](A_u_char v) { return v; });
            break;
        }
    }
    return image;
}

// ---- the renderer ------------------------------------------------------------------------

FrameRenderer::FrameRenderer(const headless::Plugin &plugin, headless::Composition composition,
                             const headless::SceneEffect &effect, int threads, int depth,
                             int downsample)
    : depth_(depth), downsample_(downsample < 1 ? 1 : downsample) {
    headless::HostOptions options;
    options.threads = threads;
    host_ = std::make_unique<headless::Host>(plugin, options);
    effect_ = std::make_unique<headless::EffectInstance>(*host_, std::move(composition), effect.layer);
    setOutput(depth, downsample);

    if (PF_Err err = host_->globalSetup())
        throw RenderError("the plug-in's " + commandFailure(*host_, "global set-up", err));
    if (PF_Err err = host_->paramsSetup()) {
        const std::string failure = commandFailure(*host_, "parameter set-up", err);
        host_->globalSetdown(); // the destructor does not run for a constructor that throws
        throw RenderError("the plug-in's " + failure);
    }
    setUp_ = true;
    headless::applySceneEffect(effect, *effect_);
    setOutput(depth_, downsample_); // the frame size from in_data's layer size after set-up
}

void FrameRenderer::setOutput(int depth, int downsample) {
    depth_ = depth;
    downsample_ = downsample < 1 ? 1 : downsample;
    effect_->setRenderDepth(depth_);
    effect_->setDownsample({1, A_u_long(downsample_)}, {1, A_u_long(downsample_)});
    const PF_InData &in = *host_->inData();
    width_ = ceilDiv(in.width, downsample_);
    height_ = ceilDiv(in.height, downsample_);
}

FrameRenderer::~FrameRenderer() {
    if (setUp_) host_->globalSetdown();
    effect_.reset();
    host_.reset();
}

std::string FrameRenderer::setDown() {
    if (setUp_) host_->globalSetdown();
    setUp_ = false;
    return host_->ledger().report();
}

Image FrameRenderer::render(double t, NextFrame next) {
    if (!setUp_) throw RenderError("the effect was set down");
    const headless::Layer &layer =
        effect_->composition().layers[static_cast<std::size_t>(effect_->effectLayer())];
    rendered_ = false;
    if (!layer.video || !layer.activeAt(t)) return Image::transparent(width_, height_, depth_);
    rendered_ = true;
    const headless::RenderResult result = headless::renderFrame(*effect_, t, depth_, downsample_);
    if (result.err != PF_Err_NONE)
        throw RenderError("the effect's " + commandFailure(*host_, "smart render", result.err));
    if (!result.output) throw RenderError("the effect rendered no output");
    // Letting the composition be edited lets every layer kept for a next
    // frame go (none is checked out between frames), and the memory the
    // host keeps for a next world of a layer's size, and for its tables'
    // rows, goes with it.
    if (next == NextFrame::None) {
        effect_->editComposition();
        headless::HostWorld::releaseSpareStorage();
        headless::rollingRowMemory().releaseAll();
    }
    return imageFromWorld(result.output->effectWorld(), depth_);
}

const headless::Composition &FrameRenderer::composition() const { return effect_->composition(); }

const headless::CommandRecord *FrameRenderer::lastSmartRender() const {
    return rendered_ && host_->last().cmd == PF_Cmd_SMART_RENDER ? &host_->last() : nullptr;
}

} // namespace veltrix_render
