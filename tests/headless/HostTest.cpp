// The Host: in_data as the effect receives it, the command protocol around
// the entry point, and running effect code as a command without a plug-in.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

using headless::Host;
using headless::HostOptions;

namespace {

// A small effect: keeps a counter in global data, adds two parameters, throws
// on request. Records what it saw for the test to inspect.
struct Seen {
    PF_Handle globalData = nullptr;
    A_long numParams = -1;
    std::vector<PF_ParamDef *> params;
    Host *current = nullptr;
} g_seen;

constexpr PF_Cmd kThrowRuntimeError = 100;
constexpr PF_Cmd kThrowInteger = 101;

PF_Err FakeEntryPoint(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data,
                      PF_ParamDef *params[], PF_LayerDef *, void *extra) {
    g_seen.current = Host::current();
    g_seen.globalData = in_data->global_data;
    g_seen.numParams = in_data->num_params;
    g_seen.params.assign(params, params + in_data->num_params);
    PF_UtilCallbacks &utils = *in_data->utils;
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP: {
        PF_Handle handle = utils.host_new_handle(sizeof(A_long));
        if (!handle) return PF_Err_OUT_OF_MEMORY;
        *static_cast<A_long *>(*handle) = 0;
        out_data->global_data = handle;
        out_data->my_version = 1;
        return PF_Err_NONE;
    }
    case PF_Cmd_GLOBAL_SETDOWN:
        utils.host_dispose_handle(in_data->global_data);
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP: {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = PF_Param_CHECKBOX;
        for (int i = 0; i < 2; ++i)
            if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
        out_data->num_params = extra ? *static_cast<A_long *>(extra) : 3;
        return PF_Err_NONE;
    }
    case PF_Cmd_FRAME_SETUP:
        ++*static_cast<A_long *>(*in_data->global_data);
        return PF_Err_NONE;
    case kThrowRuntimeError:
        throw std::runtime_error("effect gave up");
    case kThrowInteger:
        throw 516;
    default:
        return PF_Err_NONE;
    }
}

TEST(Host, InDataIsFullyInitialised) {
    HostOptions options;
    options.width = 320;
    options.height = 200;
    options.specMinor = 21;
    Host host(options);
    const PF_InData &in = *host.inData();
    EXPECT_EQ(in.version.major, 13);
    EXPECT_EQ(in.version.minor, 21);
    EXPECT_EQ(in.width, 320);
    EXPECT_EQ(in.height, 200);
    EXPECT_EQ(in.extent_hint.right, 320);
    EXPECT_EQ(in.extent_hint.bottom, 200);
    EXPECT_EQ(in.current_time, 0);
    EXPECT_EQ(in.time_step, 1);
    EXPECT_EQ(in.time_scale, 30u);
    EXPECT_EQ(in.downsample_x.num, 1);
    EXPECT_EQ(in.downsample_x.den, 1u);
    EXPECT_EQ(in.downsample_y.num, 1);
    EXPECT_EQ(in.pixel_aspect_ratio.num, 1);
    EXPECT_EQ(in.pixel_aspect_ratio.den, 1u);
    EXPECT_EQ(in.num_params, 1);
    EXPECT_EQ(in.global_data, nullptr);
    ASSERT_NE(in.pica_basicP, nullptr);
    ASSERT_NE(in.utils, nullptr);
    EXPECT_NE(in.inter.checkout_param, nullptr);
    EXPECT_NE(in.inter.add_param, nullptr);
    EXPECT_NE(in.utils->iterate_generic, nullptr);
    EXPECT_EQ(Host::fromEffectRef(in.effect_ref), &host);
    EXPECT_EQ(Host::fromEffectRef(nullptr), nullptr);
    int notAHost = 0;
    EXPECT_EQ(Host::fromEffectRef(reinterpret_cast<PF_ProgPtr>(&notAHost)), nullptr);

    host.setTime(90, 2, 60);
    EXPECT_EQ(in.current_time, 90);
    EXPECT_EQ(in.time_step, 2);
    EXPECT_EQ(in.time_scale, 60u);
}

TEST(Host, AnsiCallbacksAreTheCLibrary) {
    Host host;
    const PF_ANSICallbacks &ansi = host.inData()->utils->ansi;
    EXPECT_DOUBLE_EQ(ansi.tan(0.5), std::tan(0.5));
    EXPECT_DOUBLE_EQ(ansi.sqrt(2.0), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(ansi.atan2(1.0, -1.0), std::atan2(1.0, -1.0));
    EXPECT_DOUBLE_EQ(ansi.pow(2.0, 10.0), 1024.0);
    EXPECT_DOUBLE_EQ(ansi.fmod(7.5, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(ansi.acos(-1.0), std::acos(-1.0));
    char text[32];
    EXPECT_EQ(ansi.sprintf(text, "%s %d", "frame", 12), 8);
    EXPECT_STREQ(text, "frame 12");
    EXPECT_EQ(ansi.strcpy(text, "Veltrix"), text);
    EXPECT_STREQ(text, "Veltrix");
}

TEST(Host, GlobalDataMakesTheRoundTrip) {
    Host host(FakeEntryPoint);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    PF_Handle global = host.inData()->global_data;
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(host.outData()->my_version, 1u);

    ASSERT_EQ(host.send(PF_Cmd_FRAME_SETUP), PF_Err_NONE);
    ASSERT_EQ(host.send(PF_Cmd_FRAME_SETUP), PF_Err_NONE);
    EXPECT_EQ(g_seen.globalData, global);
    EXPECT_EQ(*static_cast<A_long *>(host.handles().peek(global)), 2);
    EXPECT_EQ(host.outDataBeforeLast().global_data, global) << "out_data starts from in_data";
    EXPECT_EQ(g_seen.current, &host);

    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(host.inData()->global_data, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(Host, ParameterSetupPublishesTheCount) {
    Host host(FakeEntryPoint);
    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
    EXPECT_EQ(host.params().count(), 3);
    EXPECT_EQ(host.inData()->num_params, 3);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    // The parameter array handed to later commands holds every parameter.
    ASSERT_EQ(host.send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    EXPECT_EQ(g_seen.numParams, 3);
    ASSERT_EQ(g_seen.params.size(), 3u);
    EXPECT_EQ(g_seen.params[2], &host.params().at(2));
}

TEST(Host, MiscountedParametersAreAProblem) {
    Host host(FakeEntryPoint);
    A_long claimed = 5;
    ASSERT_EQ(host.send(PF_Cmd_PARAMS_SETUP, &claimed), PF_Err_NONE);
    ASSERT_EQ(host.ledger().problems().size(), 1u);
    EXPECT_NE(host.ledger().problems()[0].find("announced 5"), std::string::npos);
}

TEST(Host, ThrowsOutOfTheEntryPointAreCaught) {
    Host host(FakeEntryPoint);
    EXPECT_EQ(host.send(kThrowRuntimeError), Host::kErrThrown);
    EXPECT_TRUE(host.last().threw);
    EXPECT_NE(host.last().thrown.find("effect gave up"), std::string::npos) << host.last().thrown;

    EXPECT_EQ(host.send(kThrowInteger), Host::kErrThrown);
    EXPECT_EQ(host.last().thrown, "integer 516");

    EXPECT_EQ(host.send(PF_Cmd_ABOUT), PF_Err_NONE);
    EXPECT_FALSE(host.last().threw);
    EXPECT_FALSE(host.inCommand());
    EXPECT_EQ(g_seen.current, &host);
}

TEST(Host, WithoutAPluginSendFailsAndRunWorks) {
    Host host;
    EXPECT_EQ(host.send(PF_Cmd_ABOUT), PF_Err_INVALID_CALLBACK);

    Host other; // with two hosts, only a running command makes one current
    EXPECT_EQ(Host::current(), nullptr);
    PF_Cmd seenCmd = -1;
    PF_Err err = host.run(PF_Cmd_SMART_RENDER, [&] {
        EXPECT_EQ(Host::current(), &host);
        EXPECT_TRUE(host.inCommand());
        seenCmd = host.currentCommand();
        // A nested command of another host takes over and hands back.
        other.run(PF_Cmd_ABOUT, [&] { EXPECT_EQ(Host::current(), &other); });
        EXPECT_EQ(Host::current(), &host);
        return PF_Err_OUT_OF_MEMORY;
    });
    EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(seenCmd, PF_Cmd_SMART_RENDER);
    EXPECT_FALSE(host.inCommand());
    EXPECT_EQ(Host::current(), nullptr);

    // Like the effect's entry point, run() turns an integer thrown into the error.
    EXPECT_EQ(host.run(PF_Cmd_RENDER, [] { throw 516; }), 516);
    EXPECT_TRUE(host.last().threw);
    EXPECT_EQ(host.run(PF_Cmd_RENDER, [] { throw std::logic_error("bad"); }), Host::kErrThrown);
}

TEST(Host, OnlyLiveHostIsCurrentBetweenCommands) {
    EXPECT_EQ(Host::current(), nullptr);
    {
        Host host;
        EXPECT_EQ(Host::current(), &host);
    }
    EXPECT_EQ(Host::current(), nullptr);
}

TEST(Host, FailedGlobalSetupKeepsNoGlobalData) {
    Host host(FakeEntryPoint);
    host.faults().arm(headless::service::kNewHandle, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.globalSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.inData()->global_data, nullptr);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

PF_ParamIndex g_changedIndex = -1;

PF_Err ChangedParamProbe(PF_Cmd cmd, PF_InData *, PF_OutData *, PF_ParamDef **, PF_LayerDef *,
                         void *extra) {
    if (cmd == PF_Cmd_USER_CHANGED_PARAM)
        g_changedIndex = static_cast<PF_UserChangedParamExtra *>(extra)->param_index;
    return PF_Err_NONE;
}

TEST(Host, UserChangedParamCarriesTheIndex) {
    Host host(ChangedParamProbe);
    EXPECT_EQ(host.userChangedParam(4), PF_Err_NONE);
    EXPECT_EQ(g_changedIndex, 4);
}

} // namespace
