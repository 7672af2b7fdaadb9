// The host's side of the smart-render protocol, driven by a scripted effect:
// what pre-render and smart render hand the effect, what the checkouts answer,
// misuse, faults, and that a frame takes back everything it lent.
#include "SmartRenderSupport.h"

#include <functional>
#include <string>

using namespace smart_render_test;

namespace {

// The scripted effect: the test decides what each smart-render command does.
std::function<PF_Err(PF_PreRenderExtra *)> g_preRender;
std::function<PF_Err(PF_InData *, PF_SmartRenderExtra *)> g_smartRender;

PF_Err scriptedEffect(PF_Cmd cmd, PF_InData *in_data, PF_OutData *, PF_ParamDef *[], PF_LayerDef *,
                      void *extra) {
    switch (cmd) {
    case PF_Cmd_SMART_PRE_RENDER:
        return g_preRender ? g_preRender(static_cast<PF_PreRenderExtra *>(extra)) : PF_Err_NONE;
    case PF_Cmd_SMART_RENDER:
        return g_smartRender ? g_smartRender(in_data, static_cast<PF_SmartRenderExtra *>(extra))
                             : PF_Err_NONE;
    default: return PF_Err_NONE;
    }
}

// A host driving the scripted effect on a composition whose layer 1 (a
// 30 x 20 solid) carries it; layer 0 is a 50 x 40 footage, layer 2 a camera.
struct Protocol : ::testing::Test {
    Host host{scriptedEffect};
    std::unique_ptr<EffectInstance> effect;
    PF_ParamIndex layerParam = 0, sliderParam = 0;

    void SetUp() override {
        Composition comp;
        comp.width = 120;
        comp.height = 80;
        comp.layers.push_back(makeFootage(comp, "Picture", 50, 40, checker(50, 40, 2)));
        comp.layers.push_back(makeSolid(comp, "Canvas", 30, 20, {1, 1, 0, 0}));
        comp.layers.push_back(makeCamera(comp, "Camera"));
        effect = std::make_unique<EffectInstance>(host, std::move(comp), 1);
        PF_ParamDef def{};
        def.param_type = PF_Param_LAYER;
        layerParam = host.params().count();
        ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
        def.param_type = PF_Param_FIX_SLIDER;
        sliderParam = host.params().count();
        ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
    }
    void TearDown() override {
        g_preRender = nullptr;
        g_smartRender = nullptr;
        effect.reset();
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }

    // Pre-render that checks out the input under id 0, as the effect does.
    static PF_Err checkOutInput(PF_PreRenderExtra *extra, PF_InData *in) {
        PF_CheckoutResult result{};
        const PF_Err err = extra->cb->checkout_layer(in->effect_ref, 0, 0,
                                                     &extra->input->output_request,
                                                     in->current_time, in->time_step,
                                                     in->time_scale, &result);
        extra->output->result_rect = result.result_rect;
        extra->output->max_result_rect = result.max_result_rect;
        return err;
    }
};

TEST_F(Protocol, PreRenderAsksForTheWholeOutputAndCheckoutsAnswerWithTheLayersRectangle) {
    PF_InData *in = host.inData();
    PF_PreRenderInput seenInput{};
    PF_CheckoutResult input{}, picture{}, none{};
    g_preRender = [&](PF_PreRenderExtra *extra) {
        seenInput = *extra->input;
        EXPECT_TRUE(IsEmpty(extra->output->result_rect));
        EXPECT_TRUE(IsEmpty(extra->output->max_result_rect));
        auto checkout = [&](PF_ParamIndex index, A_long id, PF_CheckoutResult &result) {
            return extra->cb->checkout_layer(in->effect_ref, index, id,
                                             &extra->input->output_request, in->current_time,
                                             in->time_step, in->time_scale, &result);
        };
        EXPECT_EQ(checkout(0, 0, input), PF_Err_NONE);
        EXPECT_EQ(checkout(layerParam, 1, none), PF_Err_NONE); // no layer chosen
        effect->chooseLayer(layerParam, 0);
        EXPECT_EQ(checkout(layerParam, 2, picture), PF_Err_NONE);
        return PF_Err_NONE;
    };
    const RenderResult frame = renderFrame(*effect, 0.0, 16, 3);
    EXPECT_EQ(frame.err, PF_Err_NONE);
    EXPECT_TRUE(frame.smartRenderSent);

    // The output is the effect layer's 30 x 20 source at a third: 10 x 7.
    EXPECT_EQ(seenInput.output_request.rect.right, 10);
    EXPECT_EQ(seenInput.output_request.rect.bottom, 7);
    EXPECT_EQ(seenInput.output_request.channel_mask, PF_ChannelMask_ARGB);
    EXPECT_EQ(seenInput.bitdepth, 16);
    EXPECT_EQ(input.result_rect.right, 10);
    EXPECT_EQ(input.result_rect.bottom, 7);
    EXPECT_EQ(input.max_result_rect.right, 10);
    EXPECT_EQ(input.ref_width, 30);
    EXPECT_EQ(picture.result_rect.right, 17); // ceil(50 / 3)
    EXPECT_EQ(picture.result_rect.bottom, 14);
    EXPECT_EQ(picture.ref_height, 40);
    EXPECT_TRUE(IsEmpty(none.result_rect));
    EXPECT_TRUE(IsEmpty(none.max_result_rect));
}

TEST_F(Protocol, SmartRenderLendsLayerPixelsAndOneOutputUntilTheFrameEnds) {
    PF_InData *in = host.inData();
    g_preRender = [&](PF_PreRenderExtra *extra) {
        PF_CheckoutResult result{};
        extra->cb->checkout_layer(in->effect_ref, layerParam, 7, &extra->input->output_request,
                                  in->current_time, in->time_step, in->time_scale, &result);
        return checkOutInput(extra, in);
    };
    PF_EffectWorld *pixels = nullptr, *again = nullptr, *picture = nullptr;
    PF_EffectWorld *output = nullptr, *sameOutput = nullptr;
    A_long inputWidth = 0, inputHeight = 0; // read while the pixels are lent
    g_smartRender = [&](PF_InData *, PF_SmartRenderExtra *extra) {
        EXPECT_EQ(extra->input->bitdepth, 32);
        EXPECT_EQ(extra->cb->checkout_layer_pixels(in->effect_ref, 0, &pixels), PF_Err_NONE);
        EXPECT_EQ(extra->cb->checkout_layer_pixels(in->effect_ref, 0, &again), PF_Err_NONE);
        EXPECT_EQ(extra->cb->checkout_layer_pixels(in->effect_ref, 7, &picture), PF_Err_NONE);
        if (pixels) {
            inputWidth = pixels->width;
            inputHeight = pixels->height;
        }
        EXPECT_EQ(host.ledger().count(Ledger::kLayerCheckouts), 2);
        EXPECT_EQ(extra->cb->checkin_layer_pixels(in->effect_ref, 7), PF_Err_NONE);
        EXPECT_EQ(host.ledger().count(Ledger::kLayerCheckouts), 1);

        EXPECT_EQ(extra->cb->checkout_output(in->effect_ref, &output), PF_Err_NONE);
        EXPECT_EQ(extra->cb->checkout_output(in->effect_ref, &sameOutput), PF_Err_NONE);
        EXPECT_EQ(host.ledger().count(SmartRenderHost::kOutputCheckouts), 1);
        // The effect writes its output through the description.
        static_cast<PF_PixelFloat *>(static_cast<void *>(output->data))[0] = {1.f, 0.25f, 0.5f, 0.75f};

        const PF_WorldSuite2 *worlds = nullptr;
        EXPECT_EQ(in->pica_basicP->AcquireSuite("PF World Suite", 2,
                                                reinterpret_cast<const void **>(&worlds)),
                  kSPNoError);
        PF_PixelFormat format = 0;
        EXPECT_EQ(worlds->PF_GetPixelFormat(output, &format), PF_Err_NONE);
        EXPECT_EQ(format, PF_PixelFormat_ARGB128);
        in->pica_basicP->ReleaseSuite("PF World Suite", 2);
        return PF_Err_NONE;
    };
    RenderResult frame = renderFrame(*effect, 0.0, 32, 1);
    ASSERT_TRUE(frame.ok());

    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(again, pixels);
    EXPECT_EQ(inputWidth, 30);
    EXPECT_EQ(inputHeight, 20);
    EXPECT_EQ(picture, nullptr); // no texture chosen: the checkout holds no pixels
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(sameOutput, output);
    EXPECT_EQ(frame.output->width(), 30);
    EXPECT_EQ(frame.output->height(), 20);
    EXPECT_EQ(frame.output->depth(), PixelDepth::Float);
    EXPECT_GT(frame.output->rowbytes(), 30 * 16);
    const PF_PixelFloat first = frame.pixel(0, 0);
    EXPECT_EQ(first.red, 0.25f);
    EXPECT_EQ(first.blue, 0.75f);
    EXPECT_TRUE(std::isnan(frame.pixel(1, 0).alpha)); // what the effect did not write shows
    // Everything lent is back once the frame is over.
    EXPECT_EQ(host.ledger().count(Ledger::kLayerCheckouts), 0);
    EXPECT_EQ(host.ledger().count(SmartRenderHost::kOutputCheckouts), 0);
    EXPECT_EQ(host.ledger().count(EffectInstance::kLayerParamPixels), 0);
}

TEST_F(Protocol, OutputWorldsComeInTheRequestedDepthAtTheDownsample) {
    g_preRender = [&](PF_PreRenderExtra *extra) { return checkOutInput(extra, host.inData()); };
    g_smartRender = [&](PF_InData *in, PF_SmartRenderExtra *extra) {
        PF_EffectWorld *output = nullptr;
        return extra->cb->checkout_output(in->effect_ref, &output);
    };
    for (int depth : {8, 16, 32})
        for (int downsample : {1, 2, 4}) {
            const RenderResult frame = renderFrame(*effect, 0.0, depth, downsample);
            ASSERT_TRUE(frame.ok()) << depth << " bits, downsample " << downsample;
            EXPECT_EQ(frame.output->width(), (30 + downsample - 1) / downsample);
            EXPECT_EQ(frame.output->height(), (20 + downsample - 1) / downsample);
            EXPECT_EQ(frame.output->bytesPerPixel(), std::size_t(depth / 2));
            EXPECT_EQ(frame.resultRect.right, frame.output->width());
        }
    EXPECT_EQ(renderFrame(*effect, 0.0, 12, 1).err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(renderFrame(*effect, 0.0, 8, 0).err, PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Protocol, MisuseIsAProblemAndAnErrorNeverACrash) {
    PF_InData *in = host.inData();
    PF_PreRenderCallbacks keptPre{};
    PF_SmartRenderCallbacks keptRender{};
    g_preRender = [&](PF_PreRenderExtra *extra) {
        keptPre = *extra->cb;
        PF_CheckoutResult result{};
        auto checkout = [&](PF_ParamIndex index, A_long id) {
            return extra->cb->checkout_layer(in->effect_ref, index, id,
                                             &extra->input->output_request, in->current_time,
                                             in->time_step, in->time_scale, &result);
        };
        EXPECT_EQ(checkout(sliderParam, 1), PF_Err_BAD_CALLBACK_PARAM); // not a layer
        EXPECT_EQ(checkout(99, 1), PF_Err_BAD_CALLBACK_PARAM);          // no such parameter
        EXPECT_EQ(checkout(0, 0), PF_Err_NONE);
        EXPECT_EQ(checkout(0, 0), PF_Err_BAD_CALLBACK_PARAM);           // id used twice
        EXPECT_EQ(extra->cb->checkout_layer(in->effect_ref, 0, 3, nullptr, 0, 1, 30, &result),
                  PF_Err_BAD_CALLBACK_PARAM);
        return PF_Err_NONE;
    };
    g_smartRender = [&](PF_InData *, PF_SmartRenderExtra *extra) {
        keptRender = *extra->cb;
        PF_EffectWorld *world = nullptr;
        EXPECT_EQ(extra->cb->checkout_layer_pixels(in->effect_ref, 5, &world),
                  PF_Err_BAD_CALLBACK_PARAM); // never checked out in pre-render
        EXPECT_EQ(world, nullptr);
        EXPECT_EQ(extra->cb->checkin_layer_pixels(in->effect_ref, 0), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(extra->cb->checkout_output(in->effect_ref, nullptr), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(extra->cb->checkout_output(nullptr, &world), PF_Err_BAD_CALLBACK_PARAM);
        return PF_Err_NONE;
    };
    EXPECT_EQ(renderFrame(*effect, 0.0, 8, 1).err, PF_Err_NONE);
    const auto during = host.ledger().problems();
    EXPECT_EQ(during.size(), 7u);

    // Callbacks kept past their frame are refused: there is no frame any more.
    PF_CheckoutResult result{};
    PF_RenderRequest request{};
    PF_EffectWorld *world = nullptr;
    EXPECT_EQ(keptPre.checkout_layer(in->effect_ref, 0, 9, &request, 0, 1, 30, &result),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(keptRender.checkout_output(in->effect_ref, &world), PF_Err_BAD_CALLBACK_PARAM);
    // Inside a frame but in the other command, they are refused too.
    {
        SmartRenderHost frame(*effect, 8);
        g_preRender = [&](PF_PreRenderExtra *) {
            return keptRender.checkout_output(in->effect_ref, &world);
        };
        g_smartRender = [&](PF_InData *, PF_SmartRenderExtra *) {
            return keptPre.checkout_layer(in->effect_ref, 0, 9, &request, 0, 1, 30, &result);
        };
        PF_PreRenderOutput rects{};
        EXPECT_EQ(frame.preRender(frame.fullRequest(), rects), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(frame.smartRender(), PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(host.ledger().problems().size(), during.size() + 2);
    host.ledger().clear();
}

TEST_F(Protocol, FaultsFailEachCheckoutWithNothingHandedOut) {
    PF_InData *in = host.inData();
    PF_EffectWorld *pixels = nullptr, *output = nullptr;
    PF_CheckoutResult result{};
    g_preRender = [&](PF_PreRenderExtra *extra) {
        result.result_rect = {1, 2, 3, 4};
        const PF_Err err = extra->cb->checkout_layer(in->effect_ref, 0, 0,
                                                     &extra->input->output_request, 0, 1, 30,
                                                     &result);
        extra->output->result_rect = result.result_rect;
        return err;
    };
    g_smartRender = [&](PF_InData *, PF_SmartRenderExtra *extra) {
        pixels = output = reinterpret_cast<PF_EffectWorld *>(&result); // anything but null
        PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, 0, &pixels);
        const PF_Err outErr = extra->cb->checkout_output(in->effect_ref, &output);
        return err ? err : outErr;
    };

    host.faults().arm(service::kCheckoutLayer, 1, PF_Err_OUT_OF_MEMORY);
    RenderResult frame = renderFrame(*effect, 0.0, 8, 1);
    EXPECT_EQ(frame.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(frame.smartRenderSent);
    EXPECT_TRUE(IsEmpty(result.result_rect)); // a failed checkout answers nothing

    host.faults().arm(service::kCheckoutLayerPixels, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    frame = renderFrame(*effect, 0.0, 8, 1);
    EXPECT_EQ(frame.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(pixels, nullptr);
    ASSERT_NE(frame.output, nullptr);

    host.faults().arm(service::kCheckoutOutput, 1, PF_Err_OUT_OF_MEMORY);
    frame = renderFrame(*effect, 0.0, 8, 1);
    EXPECT_EQ(frame.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(frame.output, nullptr);
    EXPECT_EQ(host.faults().calls(service::kCheckoutOutput), 2);
}

int g_deletions = 0;
void deletePreRenderData(void *data) {
    ++g_deletions;
    delete static_cast<int *>(data);
}

TEST_F(Protocol, PreRenderDataReachesTheRenderAndIsDeletedOnce) {
    void *seen = nullptr;
    g_deletions = 0;
    g_preRender = [&](PF_PreRenderExtra *extra) {
        extra->output->pre_render_data = new int(42);
        extra->output->delete_pre_render_data_func = deletePreRenderData;
        return checkOutInput(extra, host.inData());
    };
    g_smartRender = [&](PF_InData *, PF_SmartRenderExtra *extra) {
        seen = extra->input->pre_render_data;
        EXPECT_EQ(g_deletions, 0);
        return PF_Err_NONE;
    };
    EXPECT_EQ(renderFrame(*effect, 0.0, 8, 1).err, PF_Err_NONE);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(g_deletions, 1);

    // Also when pre-render fails and the render never comes.
    g_preRender = [&](PF_PreRenderExtra *extra) {
        extra->output->pre_render_data = new int(7);
        extra->output->delete_pre_render_data_func = deletePreRenderData;
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    };
    EXPECT_EQ(renderFrame(*effect, 0.0, 8, 1).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(g_deletions, 2);
}

TEST_F(Protocol, OneFrameAtATimePerHost) {
    SmartRenderHost frame(*effect, 8);
    EXPECT_THROW(SmartRenderHost(*effect, 8), std::invalid_argument);
    EXPECT_THROW(SmartRenderHost(*effect, 10), std::invalid_argument);
    EXPECT_EQ(SmartRenderHost::of(host.effectRef()), &frame);
}

} // namespace
