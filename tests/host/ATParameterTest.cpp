// The parameter reader: one checkout at a time, re-checkout only when the
// index or the time changes, and the conversions of its value readers.

#include "headless/boundary/Host.h"
#include "host/ATParameter.h"

#include <gtest/gtest.h>

#include <array>
#include <numbers>
#include <vector>

namespace {

using headless::Ledger;
using headless::service::kCheckoutParam;

// Parameter indices of the test effect; 0 is the host's input layer.
enum { kFixed = 1, kPoint = 2, kAngle = 3, kColor = 4 };

class ATParameterTest : public testing::Test {
protected:
    void SetUp() override {
        PF_ParamDef d[4] = {};
        d[0].param_type = PF_Param_FIX_SLIDER;
        d[0].u.fd.value = -98304; // -1.5
        d[1].param_type = PF_Param_POINT;
        d[1].u.td.x_value = 6553600; // 100 layer pixels
        d[1].u.td.y_value = 3276800; // 50
        d[2].param_type = PF_Param_ANGLE;
        d[2].u.ad.value = 5898240; // 90 degrees
        d[3].param_type = PF_Param_COLOR;
        d[3].u.cd.value = PF_Pixel{200, 10, 20, 255};
        for (const PF_ParamDef &def : d) ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
    }

    long checkouts() { return host.faults().calls(kCheckoutParam); }

    headless::Host host;
};

TEST_F(ATParameterTest, HoldsOneCheckoutAndReusesIt) {
    host.run(PF_Cmd_SMART_RENDER, [&] {
        {
            ATParameter reader(host.inData());
            EXPECT_EQ(checkouts(), 1) << "parameter 0 at construction";
            reader.param(kAngle);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 2) << "the same index at the same time is not checked out again";
            reader.param(kColor);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 4) << "another index in between forces a new checkout";

            reader.param(kAngle, 10); // the time counts as much as the index
            reader.param(kAngle, 10);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 6);
            host.setTime(3);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 7) << "the current time moved";
            EXPECT_EQ(host.ledger().count(Ledger::kParamCheckouts), 1) << "never more than one held";
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST_F(ATParameterTest, ChecksOutAtTheRequestedTimeWithTheInDataStepAndScale) {
    std::vector<std::array<A_long, 4>> seen; // index, time, step, scale
    host.params().setValueSource([&](PF_ParamIndex index, A_long time, A_long step,
                                     A_u_long scale, PF_ParamDef &value) {
        seen.push_back({index, time, step, static_cast<A_long>(scale)});
        value.u.fd.value = time * 65536; // the value follows the time
        return PF_Err_NONE;
    });
    host.setTime(30, 2, 60);
    host.run(PF_Cmd_SMART_RENDER, [&] {
        ATParameter reader(host.inData());
        EXPECT_EQ(reader.valueFromFixed(kFixed), 30.0);
        EXPECT_EQ(reader.valueFromFixed(kFixed, 45), 45.0);
    });
    using Seen = std::vector<std::array<A_long, 4>>;
    EXPECT_EQ(seen, (Seen{{0, 30, 2, 60}, {kFixed, 30, 2, 60}, {kFixed, 45, 2, 60}}));
}

TEST_F(ATParameterTest, ValueReadersConvert) {
    host.inData()->downsample_x = {1, 2}; // half resolution across
    host.inData()->downsample_y = {1, 4};
    host.run(PF_Cmd_SMART_RENDER, [&] {
        ATParameter reader(host.inData());
        EXPECT_EQ(reader.valueFromFixed(kFixed), -1.5);
        EXPECT_EQ(reader.valueFromPointX(kPoint), 200.0) << "back to full-resolution pixels";
        EXPECT_EQ(reader.valueFromPointY(kPoint), 200.0);
        EXPECT_EQ(reader.angleInRadian(kAngle), std::numbers::pi / 2);
        PF_Pixel c = reader.valueColor(kColor);
        EXPECT_EQ((std::array<int, 4>{c.alpha, c.red, c.green, c.blue}),
                  (std::array<int, 4>{200, 10, 20, 255}));
    });

    // Double precision throughout: a single-precision step would round these.
    host.params().at(kFixed).u.fd.value = 16777217; // 256 + 1/65536
    host.params().at(kPoint).u.td.x_value = 65537;
    host.inData()->downsample_x = {2, 3};
    host.run(PF_Cmd_SMART_RENDER, [&] {
        ATParameter reader(host.inData());
        EXPECT_EQ(reader.valueFromFixed(kFixed), 256.0 + 1.0 / 65536.0);
        EXPECT_EQ(reader.valueFromPointX(kPoint), (65537.0 / 65536.0) / (2.0 / 3.0));
    });
}

TEST_F(ATParameterTest, CheckoutErrorsAreKeptNotThrown) {
    host.run(PF_Cmd_SMART_RENDER, [&] {
        {
            ATParameter reader(host.inData());
            host.faults().arm(kCheckoutParam, 1, PF_Err_OUT_OF_MEMORY);
            EXPECT_EQ(reader.param(kColor).u.cd.value.blue, 0) << "a failed checkout yields a cleared record";
            EXPECT_EQ(reader.err(), PF_Err_OUT_OF_MEMORY);
            EXPECT_EQ(reader.valueFromFixed(kFixed), -1.5);
            EXPECT_EQ(reader.err(), PF_Err_NONE) << "err() is the last checkout's";
            reader.param(999);
            EXPECT_EQ(reader.err(), PF_Err_INVALID_INDEX);
        }
        // Only granted checkouts went back: nothing held, no misuse recorded.
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });

    ATParameter orphan(nullptr);
    EXPECT_EQ(orphan.err(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(orphan.valueFromFixed(kFixed), 0.0);
}

} // namespace
