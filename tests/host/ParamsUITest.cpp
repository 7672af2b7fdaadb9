// The parameter UI behaviour of the loaded plug-in: the hidden slider's
// expression that follows the control layer, and the greying out of the
// controls that the current choices make meaningless.
#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/ParamIds.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace {

using headless::EffectInstance;

// The expression that makes the hidden slider follow a layer named `name`
// (as it must appear in the expression's string literal).
std::string WatchExpression(const std::string &quotedName) {
    return "try{length(thisComp.layer(\"" + quotedName +
           "\").toWorld([1,1,1]));}catch(e){value;}\n";
}

// The plug-in on a headless host with a composition: layer 0 carries the
// effect, layer 1 is a solid that shows its source's name, layer 2 a named null.
class ParamsUI : public ::testing::Test {
protected:
    void start(A_short specMajor = 13, A_short specMinor = 28) {
        headless::HostOptions options;
        options.specMajor = specMajor;
        options.specMinor = specMinor;
        host_ = std::make_unique<headless::Host>(plugin_, options);

        headless::Composition comp;
        comp.layers.push_back(headless::makeSolid(comp, "Surface", 640, 480, {}));
        comp.layers.push_back(headless::makeSolid(comp, "Pale Blue Solid 1", 100, 100, {}));
        comp.layers.push_back(headless::makeNull(comp, "Handle"));
        effect_ = std::make_unique<EffectInstance>(*host_, comp, 0);

        ASSERT_EQ(host_->globalSetup(), PF_Err_NONE);
        ASSERT_EQ(host_->paramsSetup(), PF_Err_NONE);
        baseline_ = host_->ledger().outstanding();
    }

    void TearDown() override {
        if (!host_) return;
        host_->faults().disarm();
        EXPECT_EQ(host_->globalSetdown(), PF_Err_NONE);
        effect_.reset();
        EXPECT_TRUE(host_->ledger().empty()) << host_->ledger().report();
        host_.reset();
    }

    // After every command the effect holds no more than it did after set-up.
    void expectNothingOutstanding() {
        EXPECT_EQ(host_->ledger().outstanding(), baseline_) << host_->ledger().report();
        EXPECT_TRUE(host_->ledger().problems().empty()) << host_->ledger().report();
    }

    PF_Err changed(PF_ParamIndex index) {
        const PF_Err err = host_->userChangedParam(index);
        expectNothingOutstanding();
        return err;
    }

    PF_Err updateUI() {
        const PF_Err err = host_->updateParamsUI();
        expectNothingOutstanding();
        return err;
    }

    PF_Err chooseControlLayer(int layer) {
        effect_->chooseLayer(PARAM_CONTROL_LAYER, layer);
        return changed(PARAM_CONTROL_LAYER);
    }

    std::optional<std::string> watch() const { return effect_->expression(PARAM_CONTROL_WATCH); }

    bool disabled(PF_ParamIndex index) {
        return (host_->params().at(index).ui_flags & PF_PUI_DISABLED) != 0;
    }

    headless::Plugin plugin_{VELTRIX_PLUGIN_PATH};
    std::unique_ptr<headless::Host> host_;
    std::unique_ptr<EffectInstance> effect_;
    std::map<std::string, long> baseline_;
};

constexpr PF_ParamIndex kPlacement[] = {PARAM_ELLIPSE_XY, PARAM_RADIUS_SCALE, PARAM_HEIGHT_SCALE,
                                        PARAM_POSITION_XY, PARAM_POSITION_Z,  PARAM_ROTATION_X,
                                        PARAM_ROTATION_Y,  PARAM_ROTATION_Z};

} // namespace

// ---- the hidden slider's expression ---------------------------------------------------

TEST_F(ParamsUI, ChoosingANamedControlLayerWritesTheExpression) {
    start();
    EXPECT_EQ(chooseControlLayer(2), PF_Err_NONE);
    EXPECT_EQ(watch(), WatchExpression("Handle"));
}

TEST_F(ParamsUI, LayerShowingItsSourceNameIsGivenThatNameFirst) {
    start();
    ASSERT_TRUE(effect_->composition().layers[1].name.empty());
    EXPECT_EQ(chooseControlLayer(1), PF_Err_NONE);
    EXPECT_EQ(effect_->composition().layers[1].name, "Pale Blue Solid 1");
    EXPECT_EQ(watch(), WatchExpression("Pale Blue Solid 1"));
}

TEST_F(ParamsUI, QuotesAndBackslashesInTheNameAreEscaped) {
    start();
    effect_->editComposition().layers[2].name = R"(Say "hi" \ bye)";
    EXPECT_EQ(chooseControlLayer(2), PF_Err_NONE);
    EXPECT_EQ(watch(), WatchExpression(R"(Say \"hi\" \\ bye)"));
}

TEST_F(ParamsUI, ChoosingNoControlLayerRemovesTheExpression) {
    start();
    ASSERT_EQ(chooseControlLayer(2), PF_Err_NONE);
    ASSERT_TRUE(watch().has_value());
    EXPECT_EQ(chooseControlLayer(-1), PF_Err_NONE);
    EXPECT_FALSE(watch().has_value());
}

TEST_F(ParamsUI, OtherParametersLeaveTheExpressionAlone) {
    start();
    ASSERT_EQ(chooseControlLayer(2), PF_Err_NONE);
    effect_->chooseLayer(PARAM_CONTROL_LAYER, 1); // changed, but not reported as changed
    effect_->setParam(PARAM_FALLOFF, {FALLOFF_SMOOTH});
    EXPECT_EQ(changed(PARAM_FALLOFF), PF_Err_NONE);
    EXPECT_EQ(changed(PARAM_TEXTURE), PF_Err_NONE);
    EXPECT_EQ(watch(), WatchExpression("Handle"));
    EXPECT_TRUE(effect_->composition().layers[1].name.empty());
}

TEST_F(ParamsUI, FailingHostCallsLeaveNoExpressionButTheCommandSucceeds) {
    start();
    host_->faults().arm(headless::service::kAegp, 1, PF_Err_OUT_OF_MEMORY, "AEGP_SetExpression");
    EXPECT_EQ(chooseControlLayer(2), PF_Err_NONE);
    EXPECT_FALSE(watch().has_value());

    host_->faults().arm(headless::service::kAegp, 1, PF_Err_OUT_OF_MEMORY, {}, true);
    EXPECT_EQ(chooseControlLayer(1), PF_Err_NONE);
    EXPECT_FALSE(watch().has_value());
}

// ---- hiding the slider on older hosts -----------------------------------------------

TEST_F(ParamsUI, OlderHostsAlsoHideTheSliderFromTheTimeline) {
    start(13, 1);
    EXPECT_EQ(updateUI(), PF_Err_NONE);
    EXPECT_TRUE(effect_->streamFlags(PARAM_CONTROL_WATCH) & AEGP_DynStreamFlag_HIDDEN);
}

TEST_F(ParamsUI, NewerHostsNeedNoTimelineFlag) {
    start(13, 2);
    EXPECT_EQ(updateUI(), PF_Err_NONE);
    EXPECT_FALSE(effect_->streamFlags(PARAM_CONTROL_WATCH) & AEGP_DynStreamFlag_HIDDEN);
}

// ---- greying out ----------------------------------------------------------------------

TEST_F(ParamsUI, ControlLayerGreysOutThePlacementParameters) {
    start();
    effect_->chooseLayer(PARAM_CONTROL_LAYER, 2);
    EXPECT_EQ(updateUI(), PF_Err_NONE);
    for (PF_ParamIndex index : kPlacement) EXPECT_TRUE(disabled(index)) << index;
    EXPECT_FALSE(disabled(PARAM_DIST_FROM_CENTER));
    EXPECT_FALSE(disabled(PARAM_SLIDE_TEXTURE));

    effect_->chooseLayer(PARAM_CONTROL_LAYER, -1);
    EXPECT_EQ(updateUI(), PF_Err_NONE);
    for (PF_ParamIndex index : kPlacement) EXPECT_FALSE(disabled(index)) << index;
}

TEST_F(ParamsUI, FalloffEnablesTheSettingsItUses) {
    start();
    struct Case {
        int falloff;
        bool radiusOff;
        bool distanceOff;
    };
    // Each row starts from the previous row's state; an unknown value changes nothing.
    const Case cases[] = {{FALLOFF_SMOOTH, false, false},
                          {FALLOFF_INVERSE_SQUARE_CLAMPED, false, true},
                          {7, false, true},
                          {FALLOFF_NONE, true, true},
                          {0, true, true}};
    for (const Case &c : cases) {
        const long updatesBefore = effect_->paramUIUpdates();
        effect_->setParam(PARAM_FALLOFF, {double(c.falloff)});
        EXPECT_EQ(updateUI(), PF_Err_NONE);
        EXPECT_EQ(disabled(PARAM_FALLOFF_RADIUS), c.radiusOff) << "falloff " << c.falloff;
        EXPECT_EQ(disabled(PARAM_FALLOFF_DISTANCE), c.distanceOff) << "falloff " << c.falloff;
        const bool known = c.falloff >= FALLOFF_NONE && c.falloff <= FALLOFF_INVERSE_SQUARE_CLAMPED;
        EXPECT_EQ(effect_->paramUIUpdates() - updatesBefore, known ? 10 : 8) << c.falloff;
    }
}

TEST_F(ParamsUI, FailedUpdateStopsTheRemainingUpdates) {
    start();
    effect_->chooseLayer(PARAM_CONTROL_LAYER, 2);
    effect_->setParam(PARAM_FALLOFF, {FALLOFF_SMOOTH});
    host_->faults().arm(headless::service::kUpdateParamUI, 3, PF_Err_OUT_OF_MEMORY);
    const long updatesBefore = effect_->paramUIUpdates();
    EXPECT_EQ(updateUI(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(effect_->paramUIUpdates() - updatesBefore, 2);
    EXPECT_TRUE(disabled(PARAM_ELLIPSE_XY));
    EXPECT_TRUE(disabled(PARAM_RADIUS_SCALE));
    for (PF_ParamIndex index : {PARAM_POSITION_XY, PARAM_POSITION_Z, PARAM_ROTATION_X,
                                PARAM_ROTATION_Y, PARAM_ROTATION_Z})
        EXPECT_FALSE(disabled(index)) << index;
    // "Falloff" says Smooth, but its settings were never reached.
    EXPECT_TRUE(disabled(PARAM_FALLOFF_RADIUS));
    EXPECT_TRUE(disabled(PARAM_FALLOFF_DISTANCE));
}

TEST_F(ParamsUI, HostWithoutParamUtilsSuiteIsAnError) {
    start();
    host_->suites().remove("PF Param Utils Suite", 2);
    EXPECT_EQ(updateUI(), PF_Err_BAD_CALLBACK_PARAM);
}
