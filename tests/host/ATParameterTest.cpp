// The parameter reader: one checkout at a time, re-checkout only when the
// index or the time changes, and the conversions of its value readers.

#include "headless/core/Host.h"
#include "host/ATParameter.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

using headless::Ledger;
using headless::service::kCheckoutParam;

// Parameter indices of the test effect; 0 is the host's input layer.
enum { kFixed = 1, kPoint = 2, kAngle = 3, kColor = 4, kOther = 5 };

PF_ParamDef def(PF_ParamType type) {
    PF_ParamDef d{};
    d.param_type = type;
    return d;
}

class ATParameterTest : public testing::Test {
protected:
    void SetUp() override {
        PF_ParamDef fixed = def(PF_Param_FIX_SLIDER);
        fixed.u.fd.value = -98304; // -1.5
        PF_ParamDef point = def(PF_Param_POINT);
        point.u.td.x_value = 6553600; // 100 layer pixels
        point.u.td.y_value = 3276800; // 50
        PF_ParamDef angle = def(PF_Param_ANGLE);
        angle.u.ad.value = 5898240; // 90 degrees
        PF_ParamDef color = def(PF_Param_COLOR);
        color.u.cd.value = PF_Pixel{200, 10, 20, 255};
        PF_ParamDef other = def(PF_Param_SLIDER);
        for (const PF_ParamDef *d : {&fixed, &point, &angle, &color, &other})
            ASSERT_EQ(host.params().add(-1, d), PF_Err_NONE);
    }

    long checkouts() { return host.faults().calls(kCheckoutParam); }
    long held() { return host.ledger().count(Ledger::kParamCheckouts); }

    headless::Host host;
};

TEST_F(ATParameterTest, HoldsOneCheckoutAndReusesIt) {
    host.run(PF_Cmd_SMART_RENDER, [&] {
        {
            ATParameter reader(host.inData());
            EXPECT_EQ(checkouts(), 1) << "parameter 0 at construction";
            EXPECT_EQ(held(), 1);

            reader.param(kAngle);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 2) << "the same index at the same time is not checked out again";
            reader.param(kColor);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 4) << "another index in between forces a new checkout";
            EXPECT_EQ(held(), 1) << "the old one went back first";

            // Time counts as much as the index.
            reader.param(kAngle, 10);
            reader.param(kAngle, 10);
            EXPECT_EQ(checkouts(), 5);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 6);
            host.setTime(3);
            reader.param(kAngle);
            EXPECT_EQ(checkouts(), 7) << "the current time moved";
            EXPECT_EQ(reader.err(), PF_Err_NONE);
            EXPECT_EQ(held(), 1);
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST_F(ATParameterTest, ChecksOutAtTheRequestedTimeWithTheInDataStep) {
    struct Seen {
        PF_ParamIndex index;
        A_long time, step;
        A_u_long scale;
    };
    std::vector<Seen> seen;
    host.params().setValueSource([&](PF_ParamIndex index, A_long time, A_long step,
                                     A_u_long scale, PF_ParamDef &value) {
        seen.push_back({index, time, step, scale});
        if (index == kFixed) value.u.fd.value = time * 65536; // the value follows the time
        return PF_Err_NONE;
    });
    host.setTime(30, 2, 60);
    host.run(PF_Cmd_SMART_RENDER, [&] {
        ATParameter reader(host.inData());
        EXPECT_EQ(reader.valueFromFixed(kFixed), 30.0);
        EXPECT_EQ(reader.valueFromFixed(kFixed, 45), 45.0);
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].index, 0);
    EXPECT_EQ(seen[0].time, 30);
    EXPECT_EQ(seen[2].index, kFixed);
    EXPECT_EQ(seen[2].time, 45);
    for (const Seen &s : seen) {
        EXPECT_EQ(s.step, 2);
        EXPECT_EQ(s.scale, 60u);
    }
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
        EXPECT_EQ(c.alpha, 200);
        EXPECT_EQ(c.red, 10);
        EXPECT_EQ(c.green, 20);
        EXPECT_EQ(c.blue, 255);
        EXPECT_EQ(reader.param().u.cd.value.blue, 255) << "param() is the held record";
    });
}

TEST_F(ATParameterTest, ReadersKeepSixteenSixteenPrecision) {
    host.params().at(kFixed).u.fd.value = 1;         // the smallest step
    host.params().at(kAngle).u.ad.value = -11796480; // -180 degrees
    host.inData()->downsample_x = {2, 3};
    host.params().at(kPoint).u.td.x_value = 65537;
    host.run(PF_Cmd_SMART_RENDER, [&] {
        ATParameter reader(host.inData());
        EXPECT_EQ(reader.valueFromFixed(kFixed), 1.0 / 65536.0);
        EXPECT_EQ(reader.angleInRadian(kAngle), -180.0 * 0.017453292519943295);
        EXPECT_EQ(reader.valueFromPointX(kPoint), (65537.0 / 65536.0) / (2.0 / 3.0));
    });
}

TEST_F(ATParameterTest, CheckoutErrorIsKeptNotThrown) {
    host.run(PF_Cmd_SMART_RENDER, [&] {
        {
            ATParameter reader(host.inData());
            host.faults().arm(kCheckoutParam, 1, PF_Err_OUT_OF_MEMORY);
            PF_ParamDef failed = reader.param(kColor);
            EXPECT_EQ(reader.err(), PF_Err_OUT_OF_MEMORY);
            EXPECT_EQ(failed.u.cd.value.blue, 0) << "a failed checkout yields a cleared record";
            EXPECT_EQ(held(), 0) << "the earlier checkout went back";

            EXPECT_EQ(reader.valueFromFixed(kFixed), -1.5);
            EXPECT_EQ(reader.err(), PF_Err_NONE) << "err() is the last checkout's";
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST_F(ATParameterTest, InvalidIndexIsAnErrorNotACrash) {
    host.run(PF_Cmd_SMART_RENDER, [&] {
        {
            ATParameter reader(host.inData());
            reader.param(999);
            EXPECT_EQ(reader.err(), PF_Err_INVALID_INDEX);
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST(ATParameterWithoutHost, NullInDataIsAnError) {
    ATParameter reader(nullptr);
    EXPECT_EQ(reader.err(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(reader.valueFromFixed(1), 0.0);
}

} // namespace
