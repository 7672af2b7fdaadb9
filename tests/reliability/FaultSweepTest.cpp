// The fault sweep over the loaded plug-in: every command sequence a host
// sends, with each host service failing at each of its call indices in turn.
//
// By default the samplers (thousands of calls a frame) are failed at a spread
// of indices and every other service at every index. VELTRIX_SWEEP=full fails
// every index of every service (run by hand; see the README). Each sequence
// prints its figures; run the binary directly to get the totals as well:
//     VELTRIX_SWEEP=full build/tests/test_reliability --gtest_filter='Sweep/*'
#include "tests/reliability/FaultSweep.h"
#include "tests/reliability/Scenarios.h"

#include "headless/boundary/Plugin.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

using namespace reliability;

namespace {

bool fullSweep() {
    const char *mode = std::getenv("VELTRIX_SWEEP");
    return mode && std::strcmp(mode, "full") == 0;
}

// Totals over every sequence this process swept, printed at its end.
SweepFigures &totals() {
    static SweepFigures figures;
    return figures;
}

class PrintTotals : public ::testing::Environment {
public:
    void TearDown() override {
        if (totals().scenarios.size() < 2) return;
        std::cout << "\n==== all sequences ====\n";
        totals().print(std::cout);
    }
};
const auto *const kPrintTotals = ::testing::AddGlobalTestEnvironment(new PrintTotals);

headless::Composition oneSolid() {
    headless::Composition comp;
    comp.layers.push_back(headless::makeSolid(comp, "Surface", 16, 16, {}));
    return comp;
}

// ---- test doubles: effects with known faults, to prove the sweep finds them --------

// Global data: one locked handle, given back at set-down.
PF_Err SoundSetup(PF_InData *in, PF_OutData *out) {
    PF_Handle handle = in->utils->host_new_handle(16);
    if (!handle) return PF_Err_OUT_OF_MEMORY;
    if (!in->utils->host_lock_handle(handle)) {
        in->utils->host_dispose_handle(handle);
        return PF_Err_OUT_OF_MEMORY;
    }
    out->global_data = handle;
    return PF_Err_NONE;
}

PF_Err Setdown(PF_InData *in) {
    if (!in->global_data) return PF_Err_NONE;
    in->utils->host_unlock_handle(in->global_data);
    in->utils->host_dispose_handle(in->global_data);
    return PF_Err_NONE;
}

PF_Err SoundEffect(PF_Cmd cmd, PF_InData *in, PF_OutData *out, PF_ParamDef *[], PF_LayerDef *,
                   void *) {
    if (cmd == PF_Cmd_GLOBAL_SETUP) return SoundSetup(in, out);
    if (cmd == PF_Cmd_GLOBAL_SETDOWN) return Setdown(in);
    return PF_Err_NONE;
}

// Forgets the handle when it cannot lock it.
PF_Err LeakyEffect(PF_Cmd cmd, PF_InData *in, PF_OutData *out, PF_ParamDef *[], PF_LayerDef *,
                   void *) {
    if (cmd == PF_Cmd_GLOBAL_SETDOWN) return Setdown(in);
    if (cmd != PF_Cmd_GLOBAL_SETUP) return PF_Err_NONE;
    PF_Handle handle = in->utils->host_new_handle(16);
    if (!handle) return PF_Err_OUT_OF_MEMORY;
    if (!in->utils->host_lock_handle(handle)) return PF_Err_OUT_OF_MEMORY;
    out->global_data = handle;
    return PF_Err_NONE;
}

// Reports success although the host refused a parameter.
PF_Err CarelessEffect(PF_Cmd cmd, PF_InData *in, PF_OutData *out, PF_ParamDef *[], PF_LayerDef *,
                      void *) {
    if (cmd != PF_Cmd_PARAMS_SETUP) return SoundEffect(cmd, in, out, nullptr, nullptr, nullptr);
    for (int i = 0; i < 3; ++i) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = PF_Param_CHECKBOX;
        in->inter.add_param(in->effect_ref, -1, &def); // error ignored
    }
    out->num_params = 4;
    return PF_Err_NONE;
}

Scenario doubleSetupScenario() {
    Scenario s;
    s.name = "double: global set-up";
    s.comp = oneSolid();
    s.act = [](Session &session) {
        Outcome outcome;
        outcome.err = session.host().globalSetup();
        outcome.seen.bytes = session.host().inData()->global_data ? "global data" : "none";
        return outcome;
    };
    s.actIsGlobalSetup = true;
    return s;
}

Scenario doubleParamsScenario() {
    Scenario s;
    s.name = "double: parameter set-up";
    s.comp = oneSolid();
    s.setup = [](Session &session) { return session.host().globalSetup(); };
    s.act = [](Session &session) {
        Outcome outcome;
        outcome.err = session.host().paramsSetup();
        outcome.seen.bytes = std::to_string(session.host().params().count());
        return outcome;
    };
    return s;
}

} // namespace

// ---- the sweep itself ------------------------------------------------------------------

TEST(SweepIndices, SampledServicesFailAtASpreadUnlessTheSweepIsFull) {
    SweepOptions options;
    options.sampleSpread = 5;
    EXPECT_EQ(indicesToFail(0, false, options), std::vector<long>{});
    EXPECT_EQ(indicesToFail(3, false, options), (std::vector<long>{1, 2, 3}));
    EXPECT_EQ(indicesToFail(4, true, options), (std::vector<long>{1, 2, 3, 4}));
    EXPECT_EQ(indicesToFail(101, true, options), (std::vector<long>{1, 26, 51, 76, 101}));
    EXPECT_EQ(indicesToFail(101, false, options).size(), 101u);
    options.full = true;
    EXPECT_EQ(indicesToFail(101, true, options).size(), 101u);
}

TEST(SweepDoubles, ASoundEffectPassesEveryRun) {
    SweepFigures figures;
    sweep(&SoundEffect, doubleSetupScenario(), {}, figures);
    ASSERT_EQ(figures.scenarios.size(), 1u);
    EXPECT_EQ(figures.scenarios[0].services.at("host_new_handle").runs, 1);
    EXPECT_EQ(figures.scenarios[0].services.at("host_lock_handle").errors, 1);
    EXPECT_EQ(figures.runs(), 2);
    EXPECT_EQ(figures.leaks, 0);
    EXPECT_TRUE(figures.failures.empty()) << figures.failures.front();
}

TEST(SweepDoubles, AHandleForgottenOnAFailurePathIsALeak) {
    SweepFigures figures;
    sweep(&LeakyEffect, doubleSetupScenario(), {}, figures);
    EXPECT_EQ(figures.leaks, 1);
    ASSERT_EQ(figures.failures.size(), 1u);
    EXPECT_NE(figures.failures[0].find("host_lock_handle call 1 of 1"), std::string::npos)
        << figures.failures[0];
}

TEST(SweepDoubles, ASuccessThatIgnoredAFailureIsBroken) {
    SweepFigures figures;
    sweep(&CarelessEffect, doubleParamsScenario(), {}, figures);
    const ServiceFigures &add = figures.scenarios.at(0).services.at("add_param");
    EXPECT_EQ(add.calls, 3);
    EXPECT_EQ(add.broken, 3);
    EXPECT_NE(figures.failures.at(0).find("differs from the clean run"), std::string::npos)
        << figures.failures.at(0);
}

namespace reliability {
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }
} // namespace reliability

// ---- the loaded plug-in ---------------------------------------------------------------

class HostSequences : public ::testing::TestWithParam<Scenario> {};

TEST_P(HostSequences, EveryHostFailureEndsInAnErrorOrASoundResult) {
    static const headless::Plugin plugin(VELTRIX_PLUGIN_PATH);
    SweepOptions options;
    options.full = fullSweep();
    SweepFigures figures;
    sweep(plugin.entryPoint(), GetParam(), options, figures);
    figures.print(std::cout);

    for (const std::string &line : figures.failures) ADD_FAILURE() << line;
    EXPECT_EQ(figures.leaks, 0);
    EXPECT_EQ(figures.escapes, 0);
    EXPECT_GT(figures.runs(), 0);

    SweepFigures &all = totals();
    all.scenarios.insert(all.scenarios.end(), figures.scenarios.begin(), figures.scenarios.end());
    all.leaks += figures.leaks;
    all.escapes += figures.escapes;
    all.failures.insert(all.failures.end(), figures.failures.begin(), figures.failures.end());
}

INSTANTIATE_TEST_SUITE_P(Sweep, HostSequences, ::testing::ValuesIn(hostSequences()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                             std::string name;
                             for (char c : info.param.name)
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });
