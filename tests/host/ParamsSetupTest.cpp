// The parameter set as the host sees it: the loaded plug-in answers
// PF_Cmd_PARAMS_SETUP and the headless host's parameter array keeps what it
// registered.
#include "headless/boundary/Host.h"
#include "headless/boundary/Plugin.h"
#include "host/Handlers.h"
#include "host/ParamIds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr PF_Fixed F(A_long whole) { return whole * 65536; }

constexpr A_long TWIRL = PF_ParamFlag_COLLAPSE_TWIRLY;
constexpr A_long SUPER = PF_ParamFlag_SUPERVISE;

// What the host must hold at every index after set-up.
struct Expected {
    PF_ParamType type;
    const char *name;
    A_long diskId;
    A_long flags = 0;
    A_long uiFlags = 0;
};

const std::vector<Expected> kTable = {
    {PF_Param_LAYER, "", 0}, // the input layer, supplied by the host
    {PF_Param_LAYER, "Texture", 1},
    {PF_Param_GROUP_START, "Transform", 2},
    {PF_Param_ANGLE, "Slide Texture", 43},
    {PF_Param_LAYER, "Control Layer", 3, SUPER},
    {PF_Param_FIX_SLIDER, "Ellipse X/Y", 5, TWIRL},
    {PF_Param_FLOAT_SLIDER, "Dist. from Center", 6, TWIRL},
    {PF_Param_FIX_SLIDER, "Radius Scale", 44, TWIRL},
    {PF_Param_FIX_SLIDER, "Height Scale", 45, TWIRL},
    {PF_Param_POINT, "Position XY", 7},
    {PF_Param_FIX_SLIDER, "Position Z", 8, TWIRL},
    {PF_Param_ANGLE, "Rotation X", 9},
    {PF_Param_ANGLE, "Rotation Y", 10},
    {PF_Param_ANGLE, "Rotation Z", 11},
    {PF_Param_GROUP_END, "", 12},
    {PF_Param_GROUP_START, "Open Hyperboloid", 13},
    {PF_Param_CHECKBOX, "Show Pivot", 14},
    {PF_Param_FIX_SLIDER, "Fixed Point U", 15, TWIRL},
    {PF_Param_FIX_SLIDER, "Fixed Point V", 16, TWIRL},
    {PF_Param_FIX_SLIDER, "Open Parameter", 17},
    {PF_Param_GROUP_END, "", 13},
    {PF_Param_GROUP_START, "Extend Hyperboloid", 46},
    {PF_Param_POPUP, "Extension Side", 47},
    {PF_Param_SLIDER, "Extensions", 48},
    {PF_Param_CHECKBOX, "Flip Vertical", 49},
    {PF_Param_ANGLE, "Screw", 50},
    {PF_Param_FIX_SLIDER, "Interval", 51},
    {PF_Param_GROUP_END, "", 52},
    {PF_Param_GROUP_START, "Shading", 19},
    {PF_Param_POPUP, "Falloff", 20, SUPER},
    {PF_Param_FIX_SLIDER, "Falloff Radius", 21, TWIRL, PF_PUI_DISABLED},
    {PF_Param_FIX_SLIDER, "Falloff Distance", 22, TWIRL, PF_PUI_DISABLED},
    {PF_Param_CHECKBOX, "Self Shadow", 23},
    {PF_Param_FIX_SLIDER, "Light Transmission", 24},
    {PF_Param_FIX_SLIDER, "Emit", 25},
    {PF_Param_FIX_SLIDER, "Ambient", 26},
    {PF_Param_FIX_SLIDER, "Diffuse", 27},
    {PF_Param_FIX_SLIDER, "Specular", 28},
    {PF_Param_FIX_SLIDER, "Roughness", 29},
    {PF_Param_FIX_SLIDER, "Metal", 30},
    {PF_Param_LAYER, "Reflection Map", 31},
    {PF_Param_FIX_SLIDER, "Reflection Intensity", 32},
    {PF_Param_FIX_SLIDER, "Reflection Rolloff", 32},
    {PF_Param_GROUP_END, "", 34},
    {PF_Param_GROUP_START, "Rendering", 35},
    {PF_Param_POPUP, "Render Side", 36},
    {PF_Param_POPUP, "Render Side2", 60},
    {PF_Param_CHECKBOX, "Use Composition Camera", 37},
    {PF_Param_POPUP, "Depth Of Field", 38},
    {PF_Param_FIX_SLIDER, "Boost DOF Blur", 39},
    {PF_Param_FIX_SLIDER, "Sharpness", 40},
    {PF_Param_GROUP_START, "Depth Composite", 53},
    {PF_Param_POPUP, "Mode", 54},
    {PF_Param_FIX_SLIDER, "Start depth", 55},
    {PF_Param_FIX_SLIDER, "End depth", 56},
    {PF_Param_COLOR, "Fog Color", 57},
    {PF_Param_GROUP_END, "", 58},
    {PF_Param_GROUP_END, "", 41},
    {PF_Param_FIX_SLIDER, "dammy", 42, 0, PF_PUI_INVISIBLE},
};

struct FixedSlider {
    PF_Fixed dflt, validMin, validMax, sliderMin, sliderMax;
    A_short precision;
};

const std::map<int, FixedSlider> kFixedSliders = {
    {PARAM_ELLIPSE_XY, {0, -65470, 65470, -65470, 65470, 2}},
    {PARAM_RADIUS_SCALE, {F(100), 0, F(32767), 0, F(255), 1}},
    {PARAM_HEIGHT_SCALE, {F(100), 0, F(32767), 0, F(255), 1}},
    {PARAM_POSITION_Z, {0, F(-32767), F(32767), F(-1000), F(1000), 1}},
    {PARAM_FIXED_POINT_U, {32768, 0, F(1), 0, F(1), 2}},
    {PARAM_FIXED_POINT_V, {32768, 65, 65470, 65, 65470, 2}},
    {PARAM_OPEN_PARAMETER, {0, 0, F(2), 0, F(2), 2}},
    {PARAM_INTERVAL, {0, 0, F(32767), 0, F(1000), 1}},
    {PARAM_FALLOFF_RADIUS, {F(200), F(1), F(32767), F(1), F(1000), 1}},
    {PARAM_FALLOFF_DISTANCE, {F(200), F(1), F(32767), F(1), F(1000), 1}},
    {PARAM_LIGHT_TRANSMISSION, {0, 0, F(100), 0, F(100), 1}},
    {PARAM_EMIT, {F(100), 0, F(100), 0, F(100), 1}},
    {PARAM_AMBIENT, {F(100), 0, F(100), 0, F(100), 1}},
    {PARAM_DIFFUSE, {F(50), 0, F(100), 0, F(100), 1}},
    {PARAM_SPECULAR, {F(50), 0, F(100), 0, F(100), 1}},
    {PARAM_ROUGHNESS, {655, 0, 65470, 0, 65470, 3}},
    {PARAM_METAL, {0, 0, F(100), 0, F(100), 1}},
    {PARAM_REFLECTION_INTENSITY, {F(100), 0, F(100), 0, F(100), 1}},
    {PARAM_REFLECTION_ROLLOFF, {F(10), 0, F(100), 0, F(100), 1}},
    {PARAM_BOOST_DOF_BLUR, {F(100), 0, F(2000), 0, F(1000), 1}},
    {PARAM_SHARPNESS, {32768, 0, F(1), 0, F(1), 2}},
    {PARAM_START_DEPTH, {0, 0, F(32767), 0, F(1000), 1}},
    {PARAM_END_DEPTH, {F(1000), 0, F(32767), 0, F(1000), 1}},
    {PARAM_CONTROL_WATCH, {0, F(-32767), F(32767), F(-32767), F(32767), 1}},
};

struct Popup {
    const char *choices;
    A_short dflt;
};

const std::map<int, Popup> kPopups = {
    {PARAM_EXTENSION_SIDE, {"Head Side|Tail Side|Both Sides", 3}},
    {PARAM_FALLOFF, {"None|Smooth|Inverse Square Clamped", 1}},
    {PARAM_RENDER_SIDE, {"Full|Inside|Outside", 1}},
    {PARAM_RENDER_SIDE2, {"Head Side|Tail Side|Both Sides", 3}},
    {PARAM_DEPTH_OF_FIELD, {"Off|Camera Settings|On", 1}},
    {PARAM_DEPTH_COMPOSITE_MODE, {"Off|Fog|Fade Out", 1}},
};

class ParamsSetupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plugin_ = new headless::Plugin(VELTRIX_PLUGIN_PATH); }
    static void TearDownTestSuite() {
        delete plugin_;
        plugin_ = nullptr;
    }

    // One instance of the effect after a successful parameter set-up.
    struct Instance {
        headless::Host host{*plugin_};
        PF_Err err = host.paramsSetup();
        const PF_ParamDef &at(int i) { return host.params().at(i); }
    };

    static headless::Plugin *plugin_;
};

headless::Plugin *ParamsSetupTest::plugin_ = nullptr;

TEST_F(ParamsSetupTest, RegistersEveryParameterWithItsNameTypeDiskIdAndFlags) {
    Instance fx;
    ASSERT_EQ(fx.err, PF_Err_NONE) << fx.host.last().thrown;
    EXPECT_EQ(fx.host.outData()->num_params, 59);
    ASSERT_EQ(fx.host.params().count(), 59);
    EXPECT_EQ(fx.host.params().addCalls(), 58);
    for (int i = 1; i < PARAM_COUNT; ++i) {
        const PF_ParamDef &p = fx.at(i);
        const Expected &e = kTable[i];
        SCOPED_TRACE("index " + std::to_string(i) + " \"" + e.name + "\"");
        EXPECT_EQ(p.param_type, e.type);
        EXPECT_STREQ(p.name, e.name);
        EXPECT_EQ(p.uu.id, e.diskId);
        EXPECT_EQ(p.flags, e.flags);
        EXPECT_EQ(p.ui_flags, e.uiFlags);
    }
    EXPECT_TRUE(fx.host.ledger().empty()) << fx.host.ledger().report();
}

TEST_F(ParamsSetupTest, DiskIdsKeepTheirGapsAndTheTwoSharedIds) {
    Instance fx;
    ASSERT_EQ(fx.err, PF_Err_NONE);
    std::multiset<A_long> ids;
    for (int i = 1; i < PARAM_COUNT; ++i) ids.insert(fx.at(i).uu.id);
    for (A_long id = 1; id <= 60; ++id) {
        const bool unused = id == 4 || id == 18 || id == 33 || id == 59;
        const size_t times = unused ? 0 : (id == 13 || id == 32) ? 2 : 1;
        EXPECT_EQ(ids.count(id), times) << "disk id " << id;
    }
    EXPECT_EQ(fx.at(PARAM_OPEN_END).uu.id, fx.at(PARAM_OPEN_START).uu.id);
    EXPECT_EQ(fx.at(PARAM_REFLECTION_ROLLOFF).uu.id, fx.at(PARAM_REFLECTION_INTENSITY).uu.id);
}

TEST_F(ParamsSetupTest, FixedSlidersHoldTheirDefaultsRangesAndPrecision) {
    Instance fx;
    ASSERT_EQ(fx.err, PF_Err_NONE);
    int sliders = 0;
    for (int i = 1; i < PARAM_COUNT; ++i) {
        if (fx.at(i).param_type != PF_Param_FIX_SLIDER) continue;
        ++sliders;
        SCOPED_TRACE(kTable[i].name);
        ASSERT_EQ(kFixedSliders.count(i), 1u);
        const FixedSlider &e = kFixedSliders.at(i);
        const PF_FixedSliderDef &fd = fx.at(i).u.fd;
        EXPECT_EQ(fd.value, e.dflt);
        EXPECT_EQ(fd.dephault, e.dflt);
        EXPECT_EQ(fd.valid_min, e.validMin);
        EXPECT_EQ(fd.valid_max, e.validMax);
        EXPECT_EQ(fd.slider_min, e.sliderMin);
        EXPECT_EQ(fd.slider_max, e.sliderMax);
        EXPECT_EQ(fd.precision, e.precision);
        EXPECT_EQ(fd.display_flags, 0);
        EXPECT_EQ(fd.value_str[0], '\0');
        EXPECT_EQ(fd.value_desc[0], '\0');
    }
    EXPECT_EQ(sliders, static_cast<int>(kFixedSliders.size()));
}

TEST_F(ParamsSetupTest, TheOtherValueTypesHoldTheirDefaults) {
    Instance fx;
    ASSERT_EQ(fx.err, PF_Err_NONE);

    const PF_FloatSliderDef &fs = fx.at(PARAM_DIST_FROM_CENTER).u.fs_d;
    EXPECT_EQ(fs.value, 100.0);
    EXPECT_EQ(fs.phase, 0.0);
    EXPECT_EQ(fs.dephault, 100.0f);
    EXPECT_EQ(fs.valid_min, 0.0001f);
    EXPECT_EQ(fs.valid_max, std::numeric_limits<float>::max());
    EXPECT_EQ(fs.slider_min, 0.0001f);
    EXPECT_EQ(fs.slider_max, 1000.0f);
    EXPECT_EQ(fs.precision, 1);
    EXPECT_EQ(fs.display_flags, 0);
    EXPECT_EQ(fs.fs_flags, 0u);
    EXPECT_EQ(fs.curve_tolerance, 0.05f);
    EXPECT_FALSE(fs.useExponent);

    const PF_SliderDef &sd = fx.at(PARAM_EXTENSIONS).u.sd;
    EXPECT_EQ(sd.value, 0);
    EXPECT_EQ(sd.dephault, 0);
    EXPECT_EQ(sd.valid_min, 0);
    EXPECT_EQ(sd.valid_max, 32767);
    EXPECT_EQ(sd.slider_min, 0);
    EXPECT_EQ(sd.slider_max, 254);

    const std::map<int, A_long> angles = {{PARAM_SLIDE_TEXTURE, 0}, {PARAM_ROTATION_X, -90},
                                          {PARAM_ROTATION_Y, 0},    {PARAM_ROTATION_Z, -90},
                                          {PARAM_SCREW, 0}};
    for (const auto &[index, degrees] : angles) {
        EXPECT_EQ(fx.at(index).u.ad.value, F(degrees)) << kTable[index].name;
        EXPECT_EQ(fx.at(index).u.ad.dephault, F(degrees)) << kTable[index].name;
    }

    const std::map<int, bool> boxes = {{PARAM_SHOW_PIVOT, false}, {PARAM_FLIP_VERTICAL, false},
                                       {PARAM_SELF_SHADOW, false}, {PARAM_USE_COMP_CAMERA, true}};
    for (const auto &[index, on] : boxes) {
        const PF_CheckBoxDef &bd = fx.at(index).u.bd;
        EXPECT_EQ(bd.value != 0, on) << kTable[index].name;
        EXPECT_EQ(bd.dephault != 0, on) << kTable[index].name;
        ASSERT_NE(bd.u.nameptr, nullptr) << kTable[index].name;
        EXPECT_STREQ(bd.u.nameptr, "");
    }

    for (const auto &[index, e] : kPopups) {
        const PF_PopupDef &pd = fx.at(index).u.pd;
        SCOPED_TRACE(kTable[index].name);
        EXPECT_EQ(pd.num_choices, 3);
        EXPECT_EQ(pd.dephault, e.dflt);
        EXPECT_EQ(pd.value, e.dflt);
        ASSERT_NE(pd.u.namesptr, nullptr);
        EXPECT_STREQ(pd.u.namesptr, e.choices);
    }

    for (int index : {PARAM_TEXTURE, PARAM_CONTROL_LAYER, PARAM_REFLECTION_MAP})
        EXPECT_EQ(fx.at(index).u.ld.dephault, PF_LayerDefault_NONE) << kTable[index].name;

    const PF_PointDef &td = fx.at(PARAM_POSITION_XY).u.td;
    EXPECT_EQ(td.x_dephault, F(50));
    EXPECT_EQ(td.y_dephault, F(50));
    EXPECT_FALSE(td.restrict_bounds);

    const PF_ColorDef &cd = fx.at(PARAM_FOG_COLOR).u.cd;
    for (const PF_Pixel &px : {cd.value, cd.dephault}) {
        EXPECT_EQ(px.alpha, 255);
        EXPECT_EQ(px.red, 255);
        EXPECT_EQ(px.green, 255);
        EXPECT_EQ(px.blue, 255);
    }
}

TEST_F(ParamsSetupTest, GroupsNestAsTheControlsAreShown) {
    Instance fx;
    ASSERT_EQ(fx.err, PF_Err_NONE);
    // Pair each group end with its start and note how deep every entry sits.
    std::vector<int> open;
    std::map<int, int> endOf;
    std::vector<int> depth(PARAM_COUNT, 0);
    for (int i = 1; i < PARAM_COUNT; ++i) {
        const PF_ParamDef &p = fx.at(i);
        if (p.param_type == PF_Param_GROUP_END) {
            ASSERT_FALSE(open.empty()) << "group end at " << i << " closes nothing";
            EXPECT_STREQ(p.name, "") << i;
            endOf[open.back()] = i;
            open.pop_back();
        }
        depth[i] = static_cast<int>(open.size());
        if (p.param_type == PF_Param_GROUP_START) open.push_back(i);
    }
    EXPECT_TRUE(open.empty());
    const std::map<int, int> expected = {{2, 14}, {15, 20}, {21, 27}, {28, 43}, {44, 57}, {51, 56}};
    EXPECT_EQ(endOf, expected);
    EXPECT_EQ(depth[PARAM_TEXTURE], 0);
    EXPECT_EQ(depth[PARAM_CONTROL_WATCH], 0);
    EXPECT_EQ(depth[PARAM_DEPTH_COMPOSITE_START], 1);
    EXPECT_EQ(depth[PARAM_FOG_COLOR], 2);
    EXPECT_EQ(depth[PARAM_SHARPNESS], 1);
}

TEST_F(ParamsSetupTest, AHostRefusingParameterKStopsSetUpWithItsError) {
    for (long k = 1; k <= 58; ++k) {
        SCOPED_TRACE("refused parameter " + std::to_string(k));
        headless::Host host(*plugin_);
        const PF_Err refusal = PF_Err_OUT_OF_MEMORY + static_cast<PF_Err>(k);
        host.faults().arm(headless::service::kAddParam, k, refusal);
        EXPECT_EQ(host.paramsSetup(), refusal);
        EXPECT_EQ(host.params().addCalls(), k);
        EXPECT_EQ(host.params().count(), k); // the input layer and the k - 1 accepted
        // num_params keeps whatever the host handed in.
        EXPECT_NE(host.outDataBeforeLast().num_params, PARAM_COUNT);
        EXPECT_EQ(host.outData()->num_params, host.outDataBeforeLast().num_params);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }
}

// Called directly, as the effect's own code: a host record without the
// callbacks set-up needs is refused before anything is registered.
TEST(ParamsSetupWithoutCallbacks, RefusesAndLeavesTheCountAlone) {
    static int added = 0;
    PF_InData in{};
    PF_OutData out{};
    out.num_params = 1;
    EXPECT_EQ(ParamsSetup(nullptr, &out, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ParamsSetup(&in, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ParamsSetup(&in, &out, nullptr, nullptr), PF_Err_INVALID_CALLBACK);
    in.inter.add_param = [](PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr) -> PF_Err {
        ++added;
        return PF_Err_NONE;
    };
    EXPECT_EQ(ParamsSetup(&in, &out, nullptr, nullptr), PF_Err_INVALID_CALLBACK); // no utils
    PF_UtilCallbacks utils{};
    in.utils = &utils;
    EXPECT_EQ(ParamsSetup(&in, &out, nullptr, nullptr), PF_Err_INVALID_CALLBACK); // no strcpy
    EXPECT_EQ(added, 0);
    EXPECT_EQ(out.num_params, 1);
}

} // namespace
