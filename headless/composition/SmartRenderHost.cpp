#include "headless/composition/SmartRenderHost.h"

#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace headless {

namespace {

// The frame each Host is rendering.
std::mutex g_framesMutex;
std::map<const Host *, SmartRenderHost *> g_frames;

bool depthFromBits(int bits, PixelDepth &depth) {
    switch (bits) {
    case 8: depth = PixelDepth::Eight; return true;
    case 16: depth = PixelDepth::Sixteen; return true;
    case 32: depth = PixelDepth::Float; return true;
    default: return false;
    }
}

int bitsOf(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Eight: return 8;
    case PixelDepth::Sixteen: return 16;
    default: return 32;
    }
}

// A side of `size` pixels at downsample `scale`: ceil(size * num / den), the
// rule layer pixels follow (CompositionPixels.h). A scale that is not
// positive counts as 1.
A_long downsampled(A_long size, PF_RationalScale scale) {
    if (size <= 0) return 0;
    if (scale.num <= 0 || scale.den == 0) return size;
    const double side = std::ceil(double(size) * double(scale.num) / double(scale.den));
    return side > double(HostWorld::kMaxSide) ? HostWorld::kMaxSide : A_long(side);
}

// Full-resolution size of a layer's source image (0 x 0 for cameras and
// lights): what layerSourceImage makes, without making it.
void sourceSize(const Layer &layer, A_long &width, A_long &height) {
    int w, h;
    layer.sourceSize(w, h);
    width = w;
    height = h;
    if (width <= 0 || height <= 0) width = height = 0;
}

} // namespace

// ---- the callbacks: they carry the effect reference --------------------------------

struct SmartRenderCallbacks {
    static PF_Err checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long id,
                                const PF_RenderRequest *req, A_long time, A_long step,
                                A_u_long scale, PF_CheckoutResult *result) {
        SmartRenderHost *frame = SmartRenderHost::of(ref);
        if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
        return frame->checkoutLayer(index, id, req, time, step, scale, result);
    }
    static PF_Err checkoutLayerPixels(PF_ProgPtr ref, A_long id, PF_EffectWorld **pixels) {
        SmartRenderHost *frame = SmartRenderHost::of(ref);
        if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
        return frame->checkoutLayerPixels(id, pixels);
    }
    static PF_Err checkinLayerPixels(PF_ProgPtr ref, A_long id) {
        SmartRenderHost *frame = SmartRenderHost::of(ref);
        if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
        return frame->checkinLayerPixels(id);
    }
    static PF_Err checkoutOutput(PF_ProgPtr ref, PF_EffectWorld **output) {
        SmartRenderHost *frame = SmartRenderHost::of(ref);
        if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
        return frame->checkoutOutput(output);
    }
};

// ---- the frame --------------------------------------------------------------------------

SmartRenderHost::SmartRenderHost(EffectInstance &effect, int depth)
    : effect_(effect), host_(effect.host()) {
    if (!depthFromBits(depth, depth_))
        throw std::invalid_argument("a frame renders in 8, 16 or 32 bits per channel");
    {
        std::lock_guard lock(g_framesMutex);
        if (g_frames.count(&host_)) throw std::invalid_argument("the host already renders a frame");
        g_frames[&host_] = this;
    }
    effect_.setRenderDepth(depth);
    const PF_InData &in = *host_.inData();
    const int layer = effect_.effectLayer();
    A_long width = 0, height = 0;
    if (layer >= 0 && std::size_t(layer) < effect_.composition().layers.size())
        sourceSize(effect_.composition().layers[std::size_t(layer)], width, height);
    width_ = downsampled(width, in.downsample_x);
    height_ = downsampled(height, in.downsample_y);
    request_ = fullRequest();
}

SmartRenderHost::~SmartRenderHost() {
    endFrame();
    std::lock_guard lock(g_framesMutex);
    g_frames.erase(&host_);
}

SmartRenderHost *SmartRenderHost::of(PF_ProgPtr ref) {
    const Host *host = Host::fromEffectRef(ref);
    if (!host) return nullptr;
    std::lock_guard lock(g_framesMutex);
    auto it = g_frames.find(host);
    return it == g_frames.end() ? nullptr : it->second;
}

PF_RenderRequest SmartRenderHost::fullRequest() const {
    PF_RenderRequest request{};
    request.rect = {0, 0, width_, height_};
    request.channel_mask = PF_ChannelMask_ARGB;
    return request;
}

PF_Err SmartRenderHost::preRender(const PF_RenderRequest &request, PF_PreRenderOutput &output) {
    request_ = request;
    PF_PreRenderInput input{};
    input.output_request = request;
    input.bitdepth = static_cast<A_short>(bitsOf(depth_));
    PF_PreRenderCallbacks callbacks{};
    callbacks.checkout_layer = &SmartRenderCallbacks::checkoutLayer;
    PF_PreRenderExtra extra{&input, &output, &callbacks};
    const PF_Err err = host_.send(PF_Cmd_SMART_PRE_RENDER, &extra);
    // What the effect leaves for the render is the host's to delete later.
    if (output.pre_render_data && output.delete_pre_render_data_func) {
        preRenderData_ = output.pre_render_data;
        deletePreRenderData_ = output.delete_pre_render_data_func;
    }
    return err;
}

PF_Err SmartRenderHost::smartRender() {
    PF_SmartRenderInput input{};
    input.output_request = request_;
    input.bitdepth = static_cast<A_short>(bitsOf(depth_));
    input.pre_render_data = preRenderData_;
    PF_SmartRenderCallbacks callbacks{};
    callbacks.checkout_layer_pixels = &SmartRenderCallbacks::checkoutLayerPixels;
    callbacks.checkin_layer_pixels = &SmartRenderCallbacks::checkinLayerPixels;
    callbacks.checkout_output = &SmartRenderCallbacks::checkoutOutput;
    PF_SmartRenderExtra extra{&input, &callbacks};
    return host_.send(PF_Cmd_SMART_RENDER, &extra);
}

std::unique_ptr<HostWorld> SmartRenderHost::takeOutput() {
    endFrame();
    return std::move(output_);
}

void SmartRenderHost::endFrame() {
    for (auto &[id, checkout] : checkouts_) returnPixels(checkout);
    checkouts_.clear();
    if (!ended_) effect_.frameEnded();
    ended_ = true;
    outputPublication_.withdraw();
    if (outputHeld_) host_.ledger().remove(kOutputCheckouts);
    outputHeld_ = false;
    if (deletePreRenderData_) deletePreRenderData_(preRenderData_);
    deletePreRenderData_ = nullptr;
    preRenderData_ = nullptr;
}

// ---- what the callbacks do ----------------------------------------------------------------

PF_Err SmartRenderHost::misuse(const std::string &text) {
    host_.ledger().problem(text);
    return PF_Err_BAD_CALLBACK_PARAM;
}

bool SmartRenderHost::inCommand(PF_Cmd cmd, const char *callback) {
    if (host_.inCommand() && host_.currentCommand() == cmd) return true;
    misuse(std::string(callback) + " called outside its command");
    return false;
}

PF_Err SmartRenderHost::checkoutLayer(PF_ParamIndex index, A_long id,
                                      const PF_RenderRequest *request, A_long time,
                                      A_long timeStep, A_u_long timeScale,
                                      PF_CheckoutResult *result) {
    if (!inCommand(PF_Cmd_SMART_PRE_RENDER, "checkout_layer")) return PF_Err_BAD_CALLBACK_PARAM;
    if (!request || !result) return misuse("checkout_layer: null request or result");
    std::memset(result, 0, sizeof *result);
    if (PF_Err err = host_.faults().check(service::kCheckoutLayer)) return err;
    if (index < 0 || index >= host_.params().count() ||
        host_.params().at(index).param_type != PF_Param_LAYER)
        return misuse("checkout_layer: parameter " + std::to_string(index) + " is not a layer");
    if (timeScale == 0) return misuse("checkout_layer: zero time scale");
    if (checkouts_.count(id))
        return misuse("checkout_layer: checkout id " + std::to_string(id) + " used twice");

    const double t = effect_.compSeconds(time, timeScale);
    const int layer = effect_.chosenLayer(index, t, host_.params().at(index).u.ld.dephault);
    const PF_InData &in = *host_.inData();
    A_long width = 0, height = 0;
    Ratio par;
    if (layer >= 0) {
        const Layer &chosen = effect_.composition().layers[std::size_t(layer)];
        sourceSize(chosen, width, height);
        par = layerPixelAspect(effect_.composition(), chosen);
    }
    const PF_LRect rect{0, 0, downsampled(width, in.downsample_x),
                        downsampled(height, in.downsample_y)};
    result->result_rect = rect;
    result->max_result_rect = rect;
    result->ref_width = width;
    result->ref_height = height;
    result->par = {A_long(par.num), A_u_long(par.den)};
    checkouts_[id] = LayerCheckout{index, time, timeStep, timeScale, nullptr};
    return PF_Err_NONE;
}

PF_Err SmartRenderHost::checkoutLayerPixels(A_long id, PF_EffectWorld **pixels) {
    if (!inCommand(PF_Cmd_SMART_RENDER, "checkout_layer_pixels")) return PF_Err_BAD_CALLBACK_PARAM;
    if (!pixels) return misuse("checkout_layer_pixels: null world pointer");
    *pixels = nullptr;
    if (PF_Err err = host_.faults().check(service::kCheckoutLayerPixels)) return err;
    auto it = checkouts_.find(id);
    if (it == checkouts_.end())
        return misuse("checkout_layer_pixels: checkout id " + std::to_string(id) +
                      " was not checked out in pre-render");
    LayerCheckout &checkout = it->second;
    if (!checkout.pixels) {
        auto def = std::make_unique<PF_ParamDef>(host_.params().at(checkout.index));
        if (PF_Err err = effect_.checkoutValue(checkout.index, checkout.time, checkout.timeScale, *def))
            return err;
        checkout.pixels = std::move(def);
        host_.ledger().add(Ledger::kLayerCheckouts);
    }
    // A layer without pixels (none chosen) hands out no world.
    if (checkout.pixels->u.ld.data) *pixels = &checkout.pixels->u.ld;
    return PF_Err_NONE;
}

PF_Err SmartRenderHost::checkinLayerPixels(A_long id) {
    auto it = checkouts_.find(id);
    if (it == checkouts_.end() || !it->second.pixels)
        return misuse("checkin_layer_pixels: checkout id " + std::to_string(id) +
                      " holds no pixels");
    returnPixels(it->second);
    return PF_Err_NONE;
}

void SmartRenderHost::returnPixels(LayerCheckout &checkout) {
    if (!checkout.pixels) return;
    effect_.checkinValue(*checkout.pixels);
    checkout.pixels.reset();
    host_.ledger().remove(Ledger::kLayerCheckouts);
}

PF_Err SmartRenderHost::checkoutOutput(PF_EffectWorld **output) {
    if (!inCommand(PF_Cmd_SMART_RENDER, "checkout_output")) return PF_Err_BAD_CALLBACK_PARAM;
    if (!output) return misuse("checkout_output: null world pointer");
    *output = nullptr;
    if (PF_Err err = host_.faults().check(service::kCheckoutOutput)) return err;
    if (!output_) {
        try {
            output_ = std::make_unique<HostWorld>(depth_, width_, height_, WorldFill::Garbage, host_.rowRanges());
            // The output is the effect layer's image: its pixels have that layer's aspect.
            output_->setPixelAspect(host_.inData()->pixel_aspect_ratio);
        } catch (const std::bad_alloc &) {
            return PF_Err_OUT_OF_MEMORY;
        }
        outputPublication_ = host_.worlds().publish(*output_, WorldAccess::EffectWrites);
        outputDesc_ = output_->effectWorld();
    }
    if (!outputHeld_) host_.ledger().add(kOutputCheckouts);
    outputHeld_ = true;
    *output = &outputDesc_;
    return PF_Err_NONE;
}

// ---- one frame ---------------------------------------------------------------------------------

PF_PixelFloat RenderResult::pixel(A_long x, A_long y) const {
    if (!output) return {0.f, 0.f, 0.f, 0.f};
    switch (output->depth()) {
    case PixelDepth::Eight:
        if (const PF_Pixel *p = output->pixel<PF_Pixel>(x, y))
            return {p->alpha / 255.f, p->red / 255.f, p->green / 255.f, p->blue / 255.f};
        break;
    case PixelDepth::Sixteen:
        if (const PF_Pixel16 *p = output->pixel<PF_Pixel16>(x, y)) {
            constexpr float k = 1.0f / 32768.0f;
            return {p->alpha * k, p->red * k, p->green * k, p->blue * k};
        }
        break;
    case PixelDepth::Float:
        if (const PF_PixelFloat *p = output->pixel<PF_PixelFloat>(x, y)) return *p;
        break;
    }
    return {0.f, 0.f, 0.f, 0.f};
}

RenderResult renderFrame(EffectInstance &effect, double compTime, int depth, int downsample) {
    RenderResult result;
    PixelDepth pixelDepth;
    if (!depthFromBits(depth, pixelDepth) || downsample < 1 || !std::isfinite(compTime)) {
        result.err = PF_Err_BAD_CALLBACK_PARAM;
        return result;
    }
    effect.setCompTime(compTime);
    const PF_RationalScale scale{1, A_u_long(downsample)};
    effect.setDownsample(scale, scale);

    SmartRenderHost frame(effect, depth);
    PF_PreRenderOutput rects{};
    result.err = frame.preRender(frame.fullRequest(), rects);
    result.resultRect = rects.result_rect;
    result.maxResultRect = rects.max_result_rect;
    if (result.err == PF_Err_NONE) {
        result.smartRenderSent = true;
        result.err = frame.smartRender();
    }
    result.output = frame.takeOutput();
    return result;
}

} // namespace headless
