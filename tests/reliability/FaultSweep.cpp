#include "tests/reliability/FaultSweep.h"

#include <algorithm>
#include <iterator>
#include <iomanip>
#include <sstream>

namespace reliability {

using headless::Host;
using headless::Ledger;
namespace service = headless::service;

namespace {

// Every suite the effect may ask the host for, by name. The clean run checks
// that no other is acquired, so that none escapes the sweep.
constexpr std::string_view kSuiteNames[] = {
    "AEGP Utility Suite",   "AEGP Comp Suite",           "AEGP Layer Suite",
    "AEGP Stream Suite",    "AEGP Effect Suite",         "AEGP Item Suite",
    "AEGP Camera Suite",    "AEGP Light Suite",          "AEGP PF Interface Suite",
    "PF Path Query Suite",  "AEGP Layer Mask Suite",     "AEGP Dynamic Stream Suite",
    "AEGP Keyframe Suite",  "AEGP Memory Suite",         "AEGP World Suite",
    "PF World Suite",       "PF Param Utils Suite",      "PF SamplingFloat Suite",
    "PF Sampling16 Suite",  "PF Sampling8 Suite",
};

// Every AEGP function the host offers the effect, by name. Those that give
// something back (disposals, frees, unlocks) are not failed: a host that
// refuses to take a thing back keeps it, and the effect has no answer to that
// but the call it already made. The clean run checks that no other function
// is called.
constexpr std::string_view kAegpFunctions[] = {
    "AEGP_ConvertEffectToCompTime", "AEGP_GetCameraType", "AEGP_GetCompLayerByIndex",
    "AEGP_GetCompNumLayers", "AEGP_GetDefaultCameraDistanceToImagePlane",
    "AEGP_GetDynamicStreamFlags", "AEGP_GetEffectCamera", "AEGP_GetEffectLayer",
    "AEGP_GetExpression", "AEGP_GetItemDimensions", "AEGP_GetItemFromComp",
    "AEGP_GetItemPixelAspectRatio", "AEGP_GetLayerDuration", "AEGP_GetLayerFlags",
    "AEGP_GetLayerInPoint", "AEGP_GetLayerName", "AEGP_GetLayerNumMasks",
    "AEGP_GetLayerObjectType", "AEGP_GetLayerParentComp", "AEGP_GetLayerSourceItem",
    "AEGP_GetLayerStreamValue", "AEGP_GetLayerToWorldXform", "AEGP_GetLightType",
    "AEGP_GetMemHandleSize", "AEGP_GetNewEffectForEffect", "AEGP_GetNewEffectStreamByIndex",
    "AEGP_GetStreamNumKFs", "AEGP_LockMemHandle", "AEGP_NewMemHandle", "AEGP_RegisterWithAEGP",
    "AEGP_SetDynamicStreamFlag", "AEGP_SetExpression", "AEGP_SetLayerName",
};
constexpr std::string_view kAegpReleases[] = {"AEGP_DisposeEffect", "AEGP_DisposeStream",
                                              "AEGP_FreeMemHandle", "AEGP_UnlockMemHandle"};

long callsOf(const headless::Faults &faults, const ServiceFault &fault) {
    return fault.detail.empty() ? faults.calls(fault.service)
                                : faults.calls(fault.service, fault.detail);
}

// Armed in the clean run so that the samplers count their calls (they consult
// the fault injector only while some fault is armed); never called.
constexpr std::string_view kNeverCalled = "no such service";

using Held = std::map<std::string, long>;

// A session with the scenario's parameters set and its set-up commands sent.
std::unique_ptr<Session> start(PF_EntryPointFunc entry, const Scenario &scenario,
                               std::string &problem) {
    auto session =
        std::make_unique<Session>(entry, scenario.comp, scenario.effectLayer, scenario.options);
    if (scenario.configure) scenario.configure(session->effect());
    if (scenario.setup) {
        const PF_Err err = scenario.setup(*session);
        if (err != PF_Err_NONE) problem = "clean set-up failed with " + std::to_string(err);
    }
    return session;
}

// Whether `held` holds nothing beyond `allowed`, counter by counter.
bool holdsNoMoreThan(const Held &held, const Held &allowed) {
    for (const auto &[counter, count] : held) {
        auto it = allowed.find(counter);
        if (count > (it == allowed.end() ? 0 : it->second)) return false;
    }
    return true;
}

std::string describe(const Held &held) {
    std::string text;
    for (const auto &[counter, count] : held) text += counter + " " + std::to_string(count) + "; ";
    return text;
}

// Sets the effect down the way a host ends its life, then reads the ledger:
// empty, or the reason it is not.
std::string finish(Session &session, const Scenario &scenario, bool actSucceeded) {
    Host &host = session.host();
    host.faults().disarm();
    const bool setUp = !scenario.actIsGlobalSetdown && (!scenario.actIsGlobalSetup || actSucceeded);
    std::string problem;
    if (setUp) {
        const PF_Err err = host.globalSetdown();
        if (err != PF_Err_NONE) problem = "global set-down failed with " + std::to_string(err) + "; ";
    }
    if (!host.ledger().empty()) problem += "ledger after set-down: " + host.ledger().report();
    return problem;
}

struct CleanRun {
    Outcome outcome;
    Held heldAfterAct;
    std::map<std::string, long, std::less<>> calls;
};

bool cleanRun(PF_EntryPointFunc entry, const Scenario &scenario, CleanRun &clean,
              std::vector<std::string> &failures) {
    std::string problem;
    auto session = start(entry, scenario, problem);
    Host &host = session->host();
    host.faults().resetCounts();
    host.faults().arm(kNeverCalled, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    if (problem.empty()) clean.outcome = scenario.act(*session);
    // Calls by name, to prove that every suite and AEGP function is swept.
    std::map<std::string_view, long> named;
    for (const ServiceFault &fault : sweptServices()) {
        clean.calls[faultName(fault)] = callsOf(host.faults(), fault);
        named[fault.service] += callsOf(host.faults(), fault);
    }
    for (std::string_view function : kAegpReleases)
        named[service::kAegp] += host.faults().calls(service::kAegp, function);
    clean.heldAfterAct = host.ledger().outstanding();

    if (problem.empty() && clean.outcome.err != PF_Err_NONE)
        problem = "the clean run failed with " + std::to_string(clean.outcome.err) + " " +
                  host.last().thrown;
    if (problem.empty() && !clean.outcome.seen.defect.empty())
        problem = "the clean run's result is ill formed: " + clean.outcome.seen.defect;
    for (std::string_view byName : {service::kAcquireSuite, service::kAegp})
        if (problem.empty() && named[byName] != host.faults().calls(byName))
            problem = "a " + std::string(byName) + " the sweep does not know by name was made";
    for (const std::string &name : scenario.mustCall)
        if (problem.empty() && host.faults().calls(name) == 0)
            problem = "the clean run never calls " + name;
    const std::string ending = finish(*session, scenario, clean.outcome.err == PF_Err_NONE);
    if (problem.empty()) problem = ending;
    if (!problem.empty()) failures.push_back(scenario.name + ": " + problem);
    return problem.empty();
}

struct FailingRun {
    RunResult result = RunResult::Broken;
    bool leaked = false;
    bool escaped = false;
    std::string why;
};

// Where two observations part, for the report.
std::string firstDifference(const std::string &a, const std::string &b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    return " (from byte " + std::to_string(at) + " of " + std::to_string(b.size()) + ")";
}

// Judges what a run with one failure produced against the clean run.
RunResult judge(const Scenario &scenario, const ServiceFault &fault, long fired,
                const Outcome &outcome, const CleanRun &clean, std::string &why) {
    if (fired == 0) {
        if (outcome.err == PF_Err_NONE && outcome.seen.bytes == clean.outcome.seen.bytes)
            return RunResult::NotReached;
        why = "the fault never fired, yet the result differs from the clean run";
        return RunResult::Broken;
    }
    if (outcome.err != PF_Err_NONE) return RunResult::Error;
    if (outcome.seen.bytes == clean.outcome.seen.bytes) return RunResult::SameAsClean;
    if (!scenario.degradable || !scenario.degradable(fault.service, fault.detail)) {
        why = "succeeded with a result that differs from the clean run" +
              firstDifference(outcome.seen.bytes, clean.outcome.seen.bytes);
        return RunResult::Broken;
    }
    if (!outcome.seen.defect.empty()) {
        why = "succeeded with an ill-formed result: " + outcome.seen.defect;
        return RunResult::Broken;
    }
    return RunResult::Degraded;
}

FailingRun failingRun(PF_EntryPointFunc entry, const Scenario &scenario,
                      const ServiceFault &fault, long index, const CleanRun &clean) {
    FailingRun run;
    std::string problem;
    auto session = start(entry, scenario, problem);
    if (!problem.empty()) {
        run.why = problem;
        return run;
    }
    Host &host = session->host();
    host.faults().resetCounts();
    host.faults().arm(fault.service, index, fault.err, fault.detail);
    const Outcome outcome = scenario.act(*session);
    const long fired = host.faults().fired();
    host.faults().disarm();

    run.escaped = host.last().threw || outcome.err == Host::kErrThrown;
    if (run.escaped) {
        run.why = "something was thrown out of the entry point: " + host.last().thrown;
    } else {
        run.result = judge(scenario, fault, fired, outcome, clean, run.why);
    }

    const Held held = host.ledger().outstanding();
    if (!holdsNoMoreThan(held, clean.heldAfterAct) || !host.ledger().problems().empty()) {
        run.leaked = true;
        run.why += "; after the failure the effect holds " + describe(held) +
                   host.ledger().report();
    }

    // The same host must work again once the failure has passed.
    if (scenario.repeatable && run.why.empty()) {
        const Outcome again = scenario.act(*session);
        if (again.err != PF_Err_NONE || again.seen.bytes != clean.outcome.seen.bytes)
            run.why = "the clean repetition after the failure gives " +
                      (again.err ? "error " + std::to_string(again.err)
                                 : std::string("a different result"));
    }

    const std::string ending = finish(*session, scenario, outcome.err == PF_Err_NONE);
    if (!ending.empty()) {
        run.leaked = true;
        run.why += (run.why.empty() ? "" : "; ") + ending;
    }
    if (!run.why.empty()) run.result = RunResult::Broken;
    return run;
}

void count(ServiceFigures &figures, RunResult result) {
    ++figures.runs;
    switch (result) {
    case RunResult::Error: ++figures.errors; break;
    case RunResult::SameAsClean: ++figures.sameAsClean; break;
    case RunResult::Degraded: ++figures.degraded; break;
    case RunResult::NotReached: ++figures.notReached; break;
    case RunResult::Broken: ++figures.broken; break;
    }
}

} // namespace

// ---- sessions ---------------------------------------------------------------------

Session::Session(PF_EntryPointFunc entry, const headless::Composition &comp,
                 int effectLayer, headless::HostOptions options) {
    options.threads = 1; // call indices must be the same in every run
    host_ = std::make_unique<Host>(entry, options);
    effect_ = std::make_unique<headless::EffectInstance>(*host_, comp, effectLayer);
}

Session::~Session() {
    effect_.reset();
    host_.reset();
}

// ---- services ---------------------------------------------------------------------

const std::vector<ServiceFault> &sweptServices() {
    static const std::vector<ServiceFault> services = [] {
        std::vector<ServiceFault> list = {
            {service::kNewHandle, {}, PF_Err_OUT_OF_MEMORY},
            {service::kLockHandle, {}, PF_Err_OUT_OF_MEMORY},
        };
        for (std::string_view suite : kSuiteNames)
            list.push_back({service::kAcquireSuite, suite, PF_Err_BAD_CALLBACK_PARAM});
        for (std::string_view function : kAegpFunctions)
            list.push_back({service::kAegp, function, A_Err_GENERIC});
        const ServiceFault rest[] = {
            {service::kAddParam, {}, PF_Err_OUT_OF_MEMORY},
            {service::kCheckoutParam, {}, PF_Err_OUT_OF_MEMORY},
            {service::kCheckoutLayer, {}, PF_Err_OUT_OF_MEMORY},
            {service::kCheckoutLayerPixels, {}, PF_Err_OUT_OF_MEMORY},
            {service::kCheckoutOutput, {}, PF_Err_OUT_OF_MEMORY},
            {service::kNewWorld, {}, PF_Err_OUT_OF_MEMORY},
            {service::kGetPixelFormat, {}, PF_Err_BAD_CALLBACK_PARAM},
            {service::kIterate, {}, PF_Interrupt_CANCEL},
            {service::kAbort, {}, PF_Interrupt_CANCEL},
            {service::kProgress, {}, PF_Interrupt_CANCEL},
            {service::kUpdateParamUI, {}, PF_Err_OUT_OF_MEMORY},
            {service::kAreaSample, {}, PF_Err_OUT_OF_MEMORY, true},
            {service::kPointSample, {}, PF_Err_OUT_OF_MEMORY, true},
        };
        list.insert(list.end(), std::begin(rest), std::end(rest));
        return list;
    }();
    return services;
}

std::string faultName(const ServiceFault &fault) {
    std::string name(fault.service);
    if (!fault.detail.empty()) name += " \"" + std::string(fault.detail) + "\"";
    return name;
}

std::vector<long> indicesToFail(long calls, bool sampled, const SweepOptions &options) {
    std::vector<long> indices;
    if (calls <= 0) return indices;
    if (!sampled || options.full || calls <= options.sampleSpread) {
        for (long n = 1; n <= calls; ++n) indices.push_back(n);
        return indices;
    }
    // The first and last calls, and evenly spaced ones between.
    const long spread = std::max(2L, options.sampleSpread);
    for (long i = 0; i < spread; ++i) indices.push_back(1 + i * (calls - 1) / (spread - 1));
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

// ---- the sweep --------------------------------------------------------------------

void sweep(PF_EntryPointFunc entry, const Scenario &scenario, const SweepOptions &options,
           SweepFigures &figures) {
    ScenarioFigures &mine = figures.scenarios.emplace_back();
    mine.name = scenario.name;
    CleanRun clean;
    if (!cleanRun(entry, scenario, clean, figures.failures)) return;

    for (const ServiceFault &fault : sweptServices()) {
        const long calls = clean.calls[faultName(fault)];
        if (calls == 0) continue;
        ServiceFigures &service = mine.services[faultName(fault)];
        service.calls = calls;
        for (long index : indicesToFail(calls, fault.sampled, options)) {
            const FailingRun run = failingRun(entry, scenario, fault, index, clean);
            count(service, run.result);
            figures.leaks += run.leaked;
            figures.escapes += run.escaped;
            if (run.result != RunResult::Broken) continue;
            figures.failures.push_back(scenario.name + ": " + faultName(fault) +
                                       " call " + std::to_string(index) + " of " +
                                       std::to_string(calls) + ": " + run.why);
            if (service.broken >= options.maxBrokenPerService) break;
        }
    }
}

// ---- figures ------------------------------------------------------------------------

long ScenarioFigures::runs() const {
    long n = 0;
    for (const auto &entry : services) n += entry.second.runs;
    return n;
}

long ScenarioFigures::broken() const {
    long n = 0;
    for (const auto &entry : services) n += entry.second.broken;
    return n;
}

long SweepFigures::runs() const {
    long n = 0;
    for (const ScenarioFigures &s : scenarios) n += s.runs();
    return n;
}

long SweepFigures::servicesSwept() const {
    long n = 0;
    for (const ScenarioFigures &s : scenarios) n += static_cast<long>(s.services.size());
    return n;
}

void SweepFigures::print(std::ostream &out) const {
    out << "fault sweep: " << scenarios.size() << " sequences, " << servicesSwept()
        << " (sequence, service) pairs, " << runs() << " failing runs\n";
    out << std::left << std::setw(34) << "sequence / service" << std::right << std::setw(7)
        << "calls" << std::setw(7) << "runs" << std::setw(7) << "error" << std::setw(7) << "same"
        << std::setw(9) << "degraded" << std::setw(8) << "unrchd" << std::setw(8) << "BROKEN"
        << '\n';
    for (const ScenarioFigures &s : scenarios) {
        out << s.name << '\n';
        for (const auto &[name, f] : s.services)
            out << "  " << std::left << std::setw(32) << name << std::right << std::setw(7)
                << f.calls << std::setw(7) << f.runs << std::setw(7) << f.errors << std::setw(7)
                << f.sameAsClean << std::setw(9) << f.degraded << std::setw(8) << f.notReached
                << std::setw(8) << f.broken << '\n';
    }
    long broken = 0;
    for (const ScenarioFigures &s : scenarios) broken += s.broken();
    out << "totals: " << scenarios.size() << " sequences x " << servicesSwept()
        << " services x call indices = " << runs() << " runs; crashes 0 (every run returned); "
        << "thrown out of the entry point " << escapes << "; leaks " << leaks << "; broken "
        << broken << '\n';
    for (const std::string &line : failures) out << "FAILED " << line << '\n';
}

} // namespace reliability
