// The fault sweep: proves that the effect survives every failure a host can
// hand it, one at a time.
//
// A scenario is one command sequence a host really sends (global set-up, a
// frame, ...) on a fresh host: some clean set-up commands, then the commands
// under test. The sweep runs a scenario once cleanly to learn how often each
// host service is called and what the sequence leaves behind, then once per
// service and call index n with the n-th call of that service failing. Each
// run must end
//   - without anything thrown out of the entry point and without a crash;
//   - with an error, or with a success that is the clean result, or - for a
//     failure the design absorbs (a scenario's "degradable" services, such as
//     an AEGP read the wrappers answer with defaults) - a success whose
//     result is well formed (every output pixel written and in range);
//   - holding no more than the clean run held, and with the ledger empty
//     once the effect is set down;
//   - for repeatable sequences, with a clean repetition in the same host
//     that gives the clean result again (no state left broken).
//
// The effect is reached through an entry point: the loaded plug-in's, or a
// test double's.
//
// Thread safety: none; a sweep runs on the test's thread. Each run uses its
// own Host.
#pragma once

#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace reliability {

// One life of the effect: a fresh host driving `entry`, with a composition
// whose layer `effectLayer` carries the effect.
class Session {
public:
    Session(PF_EntryPointFunc entry, const headless::Composition &comp, int effectLayer,
            headless::HostOptions options);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    headless::Host &host() { return *host_; }
    headless::EffectInstance &effect() { return *effect_; }

private:
    std::unique_ptr<headless::Host> host_;
    std::unique_ptr<headless::EffectInstance> effect_;
};

// What a command sequence left that a user would see, as bytes that compare
// exactly, and what is wrong with it when it is ill formed.
struct Observation {
    std::string bytes;
    std::string defect; // empty when well formed
};

struct Outcome {
    PF_Err err = PF_Err_NONE;
    Observation seen;
};

struct Scenario {
    std::string name;
    headless::HostOptions options; // the sweep runs every pass on one thread
    headless::Composition comp;
    int effectLayer = 0;
    // Parameter values and layer choices, set before anything is sent.
    std::function<void(headless::EffectInstance &)> configure;
    // Clean commands before the ones under test; must succeed.
    std::function<PF_Err(Session &)> setup;
    // The commands under test.
    std::function<Outcome(Session &)> act;
    // Whether `act` is global set-up (a host that sees it fail sends nothing
    // more) or global set-down (nothing follows it).
    bool actIsGlobalSetup = false;
    bool actIsGlobalSetdown = false;
    // Whether `act` can be sent again in the same host to check recovery.
    bool repeatable = false;
    // Whether the design absorbs a failure of `service` (whose calls carry
    // `detail`, for suites their name): the sequence may then succeed with a
    // result that differs from the clean one.
    std::function<bool(std::string_view service, std::string_view detail)> degradable;
    // Services that must be called in the clean run (proves the scenario
    // reaches what it is meant to exercise).
    std::vector<std::string> mustCall;
};

// A host service the sweep fails, and the error it fails with. A service
// with a detail counts and fails only the calls with that detail (suite
// acquisition is swept suite by suite).
struct ServiceFault {
    std::string_view service;
    std::string_view detail;
    PF_Err err;
    // Services whose calls run into the thousands per frame (the samplers)
    // are failed at a spread of indices unless the sweep is full.
    bool sampled = false;
};

const std::vector<ServiceFault> &sweptServices();

// "service" or "service \"detail\"", as the figures name it.
std::string faultName(const ServiceFault &fault);

// How one failing run ended.
enum class RunResult { Error, SameAsClean, Degraded, NotReached, Broken };

struct ServiceFigures {
    long calls = 0;   // in the clean run
    long runs = 0;    // indices failed
    long errors = 0, sameAsClean = 0, degraded = 0, notReached = 0, broken = 0;
};

struct ScenarioFigures {
    std::string name;
    std::map<std::string, ServiceFigures, std::less<>> services;
    long runs() const;
    long broken() const;
};

struct SweepFigures {
    std::vector<ScenarioFigures> scenarios;
    long leaks = 0;    // runs that ended holding something
    long escapes = 0;  // runs where something was thrown out of the entry point
    std::vector<std::string> failures; // one line per broken run
    long runs() const;
    long servicesSwept() const; // (scenario, service) pairs with at least one run
    void print(std::ostream &out) const;
};

struct SweepOptions {
    // Every call index of every service; otherwise sampled services are
    // failed at a spread of `sampleSpread` indices.
    bool full = false;
    long sampleSpread = 12;
    // Stop a service after this many broken runs (the rest say the same).
    long maxBrokenPerService = 3;
};

// The indices 1..calls a sweep fails.
std::vector<long> indicesToFail(long calls, bool sampled, const SweepOptions &options);

// Runs `scenario` cleanly and then with every failure; adds to `figures`.
void sweep(PF_EntryPointFunc entry, const Scenario &scenario, const SweepOptions &options,
           SweepFigures &figures);

} // namespace reliability
