// The host side of one effect instance: everything the effect receives with a
// command (PF_InData with its callbacks and basic suite, PF_OutData, the
// parameter array) and the services behind it (handles, suites, parameters,
// the worker pool, worlds), with a ledger of what the effect holds and a fault
// injector over every service.
//
// Every Host offers "AEGP World Suite" 3, "PF World Suite" 2 and the three
// sampling suites from its construction on (WorldSuites.h, AreaSampler.h).
// Its passes and commands are the boundaries at which the effect's writes to
// its worlds become visible to the samplers (Worlds.h).
//
// Use it with a loaded plug-in:
//     headless::Plugin plugin(VELTRIX_PLUGIN_PATH);
//     headless::Host host(plugin);
//     host.globalSetup(); host.paramsSetup(); ... host.globalSetdown();
//     EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
// or without one, to give effect code a live host in a unit test:
//     headless::Host host;
//     host.run(PF_Cmd_RENDER, [&] { aeLibInit context(...host.inData()); ... });
//
// The current host. The SDK's handle callbacks and the basic suite carry no
// context, so while a command runs (send or run) its Host is the process-wide
// current host, and those callbacks act on it. Outside any command, the
// current host is the only live Host if there is exactly one. Callbacks that
// carry the effect reference find their Host through it (fromEffectRef).
//
// Thread safety: send, run and the set-up of a Host belong to one thread at a
// time. The services the effect reaches through callbacks may be called from
// any thread while a command runs (render threads do).
#pragma once

#include "headless/SdkHeaders.h"
#include "headless/boundary/Faults.h"
#include "headless/boundary/Handles.h"
#include "headless/boundary/Ledger.h"
#include "headless/boundary/Params.h"
#include "headless/boundary/Suites.h"
#include "headless/boundary/WorkerPool.h"
#include "headless/boundary/Worlds.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace headless {

class Plugin;

struct HostOptions {
    // Effect API version the host announces in in_data->version.
    A_short specMajor = 13;
    A_short specMinor = 28;
    // Layer size in pixels (in_data->width/height, extent hint).
    A_long width = 640;
    A_long height = 480;
    // Time: current_time / time_scale seconds, one frame = time_step.
    A_long currentTime = 0;
    A_long timeStep = 1;
    A_u_long timeScale = 30;
    A_long totalTime = 300;
    // Worker threads of iterate_generic; < 1 means one per hardware thread.
    int threads = 0;
};

// One iterate_generic pass of a command: its iteration count and how long it
// took on the wall clock.
struct PassTiming {
    A_long iterations = 0;
    double seconds = 0.0;
};

// How the last command ended.
struct CommandRecord {
    PF_Cmd cmd = -1;
    PF_Err err = PF_Err_NONE;
    bool threw = false;   // something was thrown out of the entry point / functor
    std::string thrown;   // what was thrown, in words
    // Wall-clock time of the whole command, and of each iterate_generic pass
    // it ran, in the order they ended (a nested pass ends inside its outer one).
    double seconds = 0.0;
    std::vector<PassTiming> passes;
};

class Host {
public:
    // The error send() and run() return when something was thrown out of the
    // entry point (see last() for what).
    static constexpr PF_Err kErrThrown = PF_Err_INTERNAL_STRUCT_DAMAGED;

    // A host without a plug-in: send() fails with PF_Err_INVALID_CALLBACK,
    // run() works.
    explicit Host(HostOptions options = {});
    // A host driving `entry` (for example the effect linked statically).
    explicit Host(PF_EntryPointFunc entry, HostOptions options = {});
    // A host driving a loaded plug-in, which must outlive the Host.
    explicit Host(const Plugin &plugin, HostOptions options = {});
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Calls the entry point with `cmd`, the in/out records, the parameter
    // array, `output` and `extra`. Before the call out_data is reset (its
    // handles copied from in_data, its size from in_data); after it, global
    // set-up hands out_data->global_data on to in_data->global_data (and
    // sequence set-up its sequence data), parameter set-up publishes the
    // parameter count in in_data->num_params, global set-down forgets the
    // global data. Anything thrown out of the entry point is caught: the
    // result is kErrThrown and last() says what was thrown.
    PF_Err send(PF_Cmd cmd, void *extra = nullptr, PF_LayerDef *output = nullptr);

    PF_Err about() { return send(PF_Cmd_ABOUT); }
    PF_Err globalSetup() { return send(PF_Cmd_GLOBAL_SETUP); }
    PF_Err globalSetdown() { return send(PF_Cmd_GLOBAL_SETDOWN); }
    PF_Err paramsSetup() { return send(PF_Cmd_PARAMS_SETUP); }
    PF_Err sequenceSetup() { return send(PF_Cmd_SEQUENCE_SETUP); }
    PF_Err sequenceSetdown() { return send(PF_Cmd_SEQUENCE_SETDOWN); }
    PF_Err userChangedParam(PF_ParamIndex index);
    PF_Err updateParamsUI() { return send(PF_Cmd_UPDATE_PARAMS_UI); }

    // Runs `fn` as if it were the effect handling `cmd`: this Host is current,
    // currentCommand() is `cmd`, and throws are caught as in send() (an
    // integer thrown is returned as the error, like the effect's entry point
    // does). `fn` returns PF_Err or nothing.
    template <class F> PF_Err run(PF_Cmd cmd, F &&fn);

    PF_InData *inData() { return &inData_; }
    PF_OutData *outData() { return &outData_; }
    // out_data as it was handed to the last command, before the effect ran.
    const PF_OutData &outDataBeforeLast() const { return outBefore_; }
    const CommandRecord &last() const { return last_; }

    PF_ProgPtr effectRef() const { return inData_.effect_ref; }
    bool inCommand() const { return depth_ > 0; }
    PF_Cmd currentCommand() const { return currentCmd_; }

    ParamArray &params() { return params_; }
    HandleTable &handles() { return handles_; }
    SuiteRegistry &suites() { return suites_; }
    WorkerPool &workers() { return workers_; }
    // The worker pool's ranges of rows, for filling the worlds the host makes.
    RowRanges rowRanges() {
        return [this](A_long rows, const std::function<void(A_long, A_long)> &work) { workers_.forRanges(rows, work); };
    }
    Ledger &ledger() { return ledger_; }
    Faults &faults() { return faults_; }
    // The images the effect can reach; the world and sampling suites work on
    // them (Worlds.h, WorldSuites.h, AreaSampler.h).
    Worlds &worlds() { return worlds_; }

    // Sets in_data's current time (and, when given, step and scale).
    void setTime(A_long currentTime);
    void setTime(A_long currentTime, A_long timeStep, A_u_long timeScale);

    // Runs `hook` at the start of every send(), on the sending thread, before
    // the parameter list is taken and the entry point called (a composition
    // model writes the parameter values of the current time there). One hook
    // at a time; an empty function removes it.
    void setBeforeSend(std::function<void(PF_Cmd)> hook) { beforeSend_ = std::move(hook); }

    // Makes abort() report PF_Interrupt_CANCEL from now on (until cleared).
    void requestAbort(bool abort = true) { abortRequested_ = abort; }
    bool abortRequested() const { return abortRequested_; }

    // The Host that context-free callbacks act on (see above), or null.
    static Host *current();
    // The live Host whose effect reference is `ref`, or null.
    static Host *fromEffectRef(PF_ProgPtr ref);
    // fromEffectRef's common case, unlocked and inline for the render
    // threads, which ask at every sample: the Host running a command, where
    // `ref` (not null) is its effect reference; null otherwise.
    static Host *runningWith(PF_ProgPtr ref) {
        Host *running = inCommand_.load();
        return running && running->inData_.effect_ref == ref ? running : nullptr;
    }

    // Runs one iterate_generic pass on the workers and keeps its timing for
    // the running command's record. The pass is dealt in bands unless it may
    // read a world of the effect's whose table rolls (see dealingFor).
    PF_Err iterate(A_long iterations, void *refcon, PF_IterateGenericFunc fn);

private:
    struct Token; // what effect_ref points at

    // The Host running a command, the one context-free callbacks act on.
    static inline std::atomic<Host *> inCommand_{nullptr};

    void initInData();
    void prepareOutData(PF_OutData &out) const;
    void afterCommand(PF_Cmd cmd, PF_Err err, const PF_OutData &out);
    // Runs `body` as command `cmd` with this Host current, catching throws.
    // With `integersAreErrors`, an integer thrown is the result (as the
    // effect's entry point treats it); otherwise every throw is kErrThrown.
    PF_Err guarded(PF_Cmd cmd, bool integersAreErrors, const std::function<PF_Err()> &body);
    static std::string describeCurrentException();
    // How to deal a pass of `fn` while the effect holds a world whose table
    // rolls (Worlds::effectHasRollingWorld): together, unless fn's last pass
    // read none of those worlds. An effect's own images are sampled about
    // where its pass is, and a window of rows would have to span the bands;
    // but the pass that writes them (the layers of a blur, say) reads none,
    // and runs faster in bands, each thread writing and reading its own part.
    WorkerPool::Dealing dealingFor(PF_IterateGenericFunc fn);
    void rememberReads(PF_IterateGenericFunc fn, bool readRollingWorld);

    HostOptions options_;
    PF_EntryPointFunc entry_ = nullptr;

    Ledger ledger_;
    Faults faults_;
    HandleTable handles_;
    SuiteRegistry suites_;
    ParamArray params_;
    WorkerPool workers_;
    Worlds worlds_;

    SPBasicSuite basic_{};
    PF_UtilCallbacks utils_{};
    PF_InData inData_{};
    PF_OutData outData_{};
    PF_OutData outBefore_{};
    CommandRecord last_;
    Token *token_ = nullptr;
    std::function<void(PF_Cmd)> beforeSend_;

    // Passes of the command running now (outermost command), for last();
    // a nested pass may record from a worker thread.
    std::mutex passTimingsMutex_;
    std::vector<PassTiming> passTimings_;

    // Whether each callback's last pass read a rolling world of the
    // effect's; passes may start on any thread (nested ones).
    std::mutex dealingMutex_;
    std::unordered_map<PF_IterateGenericFunc, bool> readsRollingWorld_;

    int depth_ = 0;
    PF_Cmd currentCmd_ = -1;
    bool abortRequested_ = false;
};

template <class F> PF_Err Host::run(PF_Cmd cmd, F &&fn) {
    return guarded(cmd, true, [&fn]() -> PF_Err {
        if constexpr (std::is_void_v<std::invoke_result_t<F &>>) {
            fn();
            return PF_Err_NONE;
        } else {
            return static_cast<PF_Err>(fn());
        }
    });
}

} // namespace headless
