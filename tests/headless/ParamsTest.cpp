// The parameter array: add_param during set-up, checkout and checkin.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <cstring>

using headless::Host;
using headless::Ledger;

namespace {

PF_ParamDef slider(const char *name, PF_Fixed value) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FIX_SLIDER;
    std::strcpy(def.name, name);
    def.u.fd.value = value;
    def.u.fd.dephault = value;
    return def;
}

struct ParamsTest : ::testing::Test {
    Host host;
    PF_InData &in = *host.inData();

    PF_Err add(PF_ParamIndex index, PF_ParamDef def) {
        return host.run(PF_Cmd_PARAMS_SETUP,
                        [&] { return in.inter.add_param(in.effect_ref, index, &def); });
    }
};

TEST_F(ParamsTest, InputLayerComesFirstAndAddAppendsInOrder) {
    ASSERT_EQ(host.params().count(), 1);
    EXPECT_EQ(host.params().at(0).param_type, PF_Param_LAYER);

    EXPECT_EQ(add(-1, slider("One", 1 << 16)), PF_Err_NONE);
    EXPECT_EQ(add(-1, slider("Two", 2 << 16)), PF_Err_NONE);
    EXPECT_EQ(add(3, slider("Three", 3 << 16)), PF_Err_NONE) << "the next index appends too";
    ASSERT_EQ(host.params().count(), 4);
    EXPECT_STREQ(host.params().at(1).name, "One");
    EXPECT_STREQ(host.params().at(3).name, "Three");
    EXPECT_EQ(host.params().addCalls(), 3);
}

TEST_F(ParamsTest, BadAdditionsAreRefusedAndCounted) {
    EXPECT_EQ(add(5, slider("Gap", 0)), PF_Err_INVALID_INDEX);
    EXPECT_EQ(add(0, slider("Over input", 0)), PF_Err_INVALID_INDEX);
    PF_ParamDef odd = slider("Odd", 0);
    odd.param_type = 77;
    EXPECT_EQ(add(-1, odd), PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_EQ(host.run(PF_Cmd_PARAMS_SETUP,
                       [&] { return in.inter.add_param(in.effect_ref, -1, nullptr); }),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.params().count(), 1);
    EXPECT_EQ(host.params().addCalls(), 4);
}

TEST_F(ParamsTest, AddOutsideParameterSetupIsRefused) {
    PF_ParamDef def = slider("Late", 0);
    EXPECT_EQ(host.run(PF_Cmd_RENDER, [&] { return in.inter.add_param(in.effect_ref, -1, &def); }),
              PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.params().count(), 1);
    EXPECT_EQ(host.ledger().problems().size(), 1u);
}

TEST_F(ParamsTest, CheckoutCopiesTheValueAndIsBookedUntilCheckin) {
    add(-1, slider("One", 1 << 16));
    host.params().at(1).u.fd.value = 42 << 16; // the user moved the slider

    PF_ParamDef copy;
    ASSERT_EQ(in.inter.checkout_param(in.effect_ref, 1, 0, 1, 30, &copy), PF_Err_NONE);
    EXPECT_EQ(copy.u.fd.value, 42 << 16);
    EXPECT_STREQ(copy.name, "One");
    EXPECT_EQ(host.ledger().count(Ledger::kParamCheckouts), 1);

    copy.u.fd.value = 0; // the copy is the effect's: the stored value does not change
    EXPECT_EQ(host.params().at(1).u.fd.value, 42 << 16);

    ASSERT_EQ(in.inter.checkin_param(in.effect_ref, &copy), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ParamsTest, InvalidCheckoutsFailWithoutHarmAndTheirCheckinIsQuiet) {
    PF_ParamDef copy;
    std::memset(&copy, 0x5A, sizeof copy);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 1, 0, 1, 30, &copy), PF_Err_INVALID_INDEX);
    EXPECT_EQ(copy.param_type, 0) << "a failed checkout leaves a cleared record";
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, -1, 0, 1, 30, &copy), PF_Err_INVALID_INDEX);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 0, 0, 1, 0, &copy), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 0, 0, 1, 30, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(in.inter.checkout_param(nullptr, 0, 0, 1, 30, &copy), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.ledger().count(Ledger::kParamCheckouts), 0);

    // A reader returns what it asked for, whether or not the checkout worked.
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &copy), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ParamsTest, CheckinOfARecordNeverCheckedOutIsAProblem) {
    PF_ParamDef copy;
    ASSERT_EQ(in.inter.checkout_param(in.effect_ref, 0, 0, 1, 30, &copy), PF_Err_NONE);
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &copy), PF_Err_NONE);
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &copy), PF_Err_BAD_CALLBACK_PARAM);
    PF_ParamDef other;
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &other), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.ledger().problems().size(), 2u) << host.ledger().report();
}

TEST_F(ParamsTest, ValueSourceSuppliesValuesAtATime) {
    add(-1, slider("Animated", 0));
    std::vector<A_long> askedTimes;
    host.params().setValueSource([&](PF_ParamIndex index, A_long time, A_long, A_u_long scale,
                                     PF_ParamDef &value) -> PF_Err {
        askedTimes.push_back(time);
        if (index != 1) return PF_Err_NONE;
        if (time < 0) return PF_Err_BAD_CALLBACK_PARAM;
        value.u.fd.value = static_cast<PF_Fixed>(time * 65536 / static_cast<A_long>(scale));
        return PF_Err_NONE;
    });
    PF_ParamDef copy;
    ASSERT_EQ(in.inter.checkout_param(in.effect_ref, 1, 60, 1, 30, &copy), PF_Err_NONE);
    EXPECT_EQ(copy.u.fd.value, 2 << 16);
    in.inter.checkin_param(in.effect_ref, &copy);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 1, -1, 1, 30, &copy),
              PF_Err_BAD_CALLBACK_PARAM);
    in.inter.checkin_param(in.effect_ref, &copy);
    EXPECT_EQ(askedTimes, (std::vector<A_long>{60, -1}));
    EXPECT_EQ(host.params().at(1).u.fd.value, 0) << "the stored value is untouched";
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(ParamsTest, ResetForgetsParametersAndCheckouts) {
    add(-1, slider("One", 0));
    PF_ParamDef copy;
    in.inter.checkout_param(in.effect_ref, 1, 0, 1, 30, &copy);
    host.params().reset();
    EXPECT_EQ(host.params().count(), 1);
    EXPECT_EQ(host.params().addCalls(), 0);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    EXPECT_THROW(host.params().at(1), std::out_of_range);
}

} // namespace
