// The effect's side of the smart-render pair: the rectangle rule, what
// pre-render asks the host and reports, and how smart render treats a host
// whose records are missing or whose first checkout fails.
#include "host/SmartRender.h"

#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/ParamIds.h"

#include <gtest/gtest.h>

#include <vector>

using namespace headless;

namespace {

bool operator==(const PF_LRect &a, const PF_LRect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool IsEmpty(const PF_LRect &r) { return r.left >= r.right || r.top >= r.bottom; }

PF_LRect unite(PF_LRect src, PF_LRect dst) {
    UnionLRect(&src, &dst);
    return dst;
}

TEST(UnionLRect, EmptyRectanglesGiveWayAndOthersGrowToTheirBoundingBox) {
    const PF_LRect a{10, 20, 30, 40};
    const PF_LRect b{-5, 25, 15, 60};
    const PF_LRect zero{0, 0, 0, 0};
    EXPECT_TRUE(unite(a, zero) == a);                              // empty dst takes src
    EXPECT_TRUE(unite(zero, a) == a);                              // empty src changes nothing
    EXPECT_TRUE(unite(a, b) == (PF_LRect{-5, 20, 30, 60}));
    EXPECT_TRUE(unite(b, a) == (PF_LRect{-5, 20, 30, 60}));
    // A rectangle without width or without height is empty, wherever it lies.
    EXPECT_TRUE(unite(PF_LRect{-100, -100, -100, 100}, a) == a);
    EXPECT_TRUE(unite(PF_LRect{0, 50, 100, 50}, a) == a);
    EXPECT_TRUE(unite(a, PF_LRect{40, 0, 20, 10}) == a);           // inverted: empty
    // An empty dst takes even an empty src as it stands.
    EXPECT_TRUE(unite(PF_LRect{3, 4, 3, 9}, zero) == (PF_LRect{3, 4, 3, 9}));
    UnionLRect(nullptr, nullptr); // no records: nothing happens
}

// ---- pre-render through the loaded plug-in, with a scripted checkout ----------------

struct Checkout {
    PF_ParamIndex index = -1;
    A_long id = -1;
    PF_RenderRequest request{};
    A_long time = 0, step = 0;
    A_u_long scale = 0;
};
std::vector<Checkout> g_checkouts;
PF_CheckoutResult g_answer{};
PF_Err g_answerErr = PF_Err_NONE;

PF_Err scriptedCheckout(PF_ProgPtr, PF_ParamIndex index, A_long id, const PF_RenderRequest *req,
                        A_long time, A_long step, A_u_long scale, PF_CheckoutResult *result) {
    g_checkouts.push_back({index, id, *req, time, step, scale});
    if (g_answerErr == PF_Err_NONE) *result = g_answer;
    return g_answerErr;
}

struct SmartRenderCommands : ::testing::Test {
    Plugin plugin{VELTRIX_PLUGIN_PATH};
    Host host{plugin};
    std::unique_ptr<EffectInstance> effect;

    PF_PreRenderInput input{};
    PF_PreRenderOutput output{};
    PF_PreRenderCallbacks callbacks{scriptedCheckout};
    PF_PreRenderExtra extra{&input, &output, &callbacks};

    void SetUp() override {
        Composition comp;
        comp.layers.push_back(makeSolid(comp, "Canvas", 200, 100, {1, 1, 1, 1}));
        effect = std::make_unique<EffectInstance>(host, std::move(comp), 0);
        ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        g_checkouts.clear();
        g_answer = {};
        g_answer.result_rect = {0, 0, 200, 100};
        g_answer.max_result_rect = {-10, -10, 210, 110};
        g_answerErr = PF_Err_NONE;
        input.output_request.rect = {5, 6, 150, 90};
        input.output_request.channel_mask = PF_ChannelMask_ARGB;
        host.setTime(45, 3, 90);
    }
    void TearDown() override {
        host.globalSetdown();
        effect.reset();
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }
};

TEST_F(SmartRenderCommands, AsksForTheInputOnceWithTheHostsRequestKeepingColourUnderZeroAlpha) {
    ASSERT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, &extra), PF_Err_NONE);
    ASSERT_EQ(g_checkouts.size(), 1u);
    const Checkout &c = g_checkouts[0];
    EXPECT_EQ(c.index, PARAM_INPUT);
    EXPECT_EQ(c.id, 0);
    EXPECT_TRUE(c.request.rect == input.output_request.rect);
    EXPECT_EQ(c.request.channel_mask, PF_ChannelMask_ARGB);
    EXPECT_TRUE(c.request.preserve_rgb_of_zero_alpha);
    EXPECT_FALSE(input.output_request.preserve_rgb_of_zero_alpha); // the host's own is left alone
    EXPECT_EQ(c.time, 45);
    EXPECT_EQ(c.step, 3);
    EXPECT_EQ(c.scale, 90u);
    // Empty output rectangles end as the checkout's.
    EXPECT_TRUE(output.result_rect == g_answer.result_rect);
    EXPECT_TRUE(output.max_result_rect == g_answer.max_result_rect);
    EXPECT_EQ(output.pre_render_data, nullptr);
}

TEST_F(SmartRenderCommands, RectanglesTheHostAlreadyReportsAreGrownNotReplaced) {
    output.result_rect = {-20, 50, 20, 300};
    output.max_result_rect = {0, 0, 10, 10};
    ASSERT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, &extra), PF_Err_NONE);
    EXPECT_TRUE(output.result_rect == (PF_LRect{-20, 0, 200, 300}));
    EXPECT_TRUE(output.max_result_rect == g_answer.max_result_rect);
}

TEST_F(SmartRenderCommands, AFailedCheckoutIsTheResultAndAddsNothingToTheRectangles) {
    g_answerErr = PF_Err_OUT_OF_MEMORY;
    output.result_rect = {1, 2, 3, 4};
    EXPECT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, &extra), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(g_checkouts.size(), 1u);
    EXPECT_TRUE(output.result_rect == (PF_LRect{1, 2, 3, 4}));
    EXPECT_TRUE(IsEmpty(output.max_result_rect));
}

TEST_F(SmartRenderCommands, MissingRecordsAreRefusedWithoutACall) {
    for (PF_PreRenderExtra broken : {PF_PreRenderExtra{nullptr, &output, &callbacks},
                                     PF_PreRenderExtra{&input, nullptr, &callbacks},
                                     PF_PreRenderExtra{&input, &output, nullptr}})
        EXPECT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, &broken), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderCallbacks none{};
    PF_PreRenderExtra noCheckout{&input, &output, &none};
    EXPECT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, &noCheckout), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.send(PF_Cmd_SMART_PRE_RENDER, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(g_checkouts.empty());
}

// ---- smart render with a host that fails it early --------------------------------------

long g_outputCheckouts = 0;
PF_Err failingInput(PF_ProgPtr, A_long, PF_EffectWorld **pixels) {
    *pixels = nullptr;
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}
PF_Err countedOutput(PF_ProgPtr, PF_EffectWorld **output) {
    ++g_outputCheckouts;
    *output = nullptr;
    return PF_Err_NONE;
}

TEST_F(SmartRenderCommands, SmartRenderAfterAFailedInputCheckoutReturnsItsErrorAndHoldsNothing) {
    PF_SmartRenderInput renderInput{};
    PF_SmartRenderCallbacks renderCallbacks{failingInput, nullptr, countedOutput};
    PF_SmartRenderExtra renderExtra{&renderInput, &renderCallbacks};
    g_outputCheckouts = 0;
    host.faults().resetCounts();
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER, &renderExtra), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(g_outputCheckouts, 0); // no output without the input
    EXPECT_EQ(host.faults().calls(service::kIterate), 0);
    // The parameter readers still ran and checked everything back in.
    EXPECT_GT(host.faults().calls(service::kCheckoutParam), 0);
    EXPECT_EQ(host.params().outstandingCheckouts(), 0);

    // An output checkout that succeeds without a world is the host's fault,
    // reported as a bad callback rather than followed.
    PF_SmartRenderCallbacks noWorld{[](PF_ProgPtr, A_long, PF_EffectWorld **p) -> PF_Err {
                                        *p = nullptr;
                                        return PF_Err_NONE;
                                    },
                                    nullptr, countedOutput};
    PF_SmartRenderExtra noWorldExtra{&renderInput, &noWorld};
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER, &noWorldExtra), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(g_outputCheckouts, 1);
    EXPECT_EQ(host.faults().calls(service::kIterate), 0);

    PF_SmartRenderCallbacks none{};
    PF_SmartRenderExtra noCallbacks{&renderInput, &none};
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER, &noCallbacks), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(SmartRenderCommands, TheClassicRenderLeavesTheOutputAlone) {
    std::vector<PF_Pixel> pixels(4 * 3, PF_Pixel{1, 2, 3, 4});
    PF_LayerDef world{};
    world.data = reinterpret_cast<PF_PixelPtr>(pixels.data());
    world.width = 4;
    world.height = 3;
    world.rowbytes = 4 * sizeof(PF_Pixel);
    EXPECT_EQ(host.send(PF_Cmd_RENDER, nullptr, &world), PF_Err_NONE);
    for (const PF_Pixel &p : pixels) EXPECT_TRUE(p.alpha == 1 && p.red == 2 && p.green == 3 && p.blue == 4);
}

} // namespace
