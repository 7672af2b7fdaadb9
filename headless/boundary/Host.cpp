#include "headless/boundary/Host.h"

#include "headless/boundary/Ansi.h"
#include "headless/boundary/AreaSampler.h"
#include "headless/boundary/Plugin.h"
#include "headless/boundary/WorldSuites.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <typeinfo>
#include <vector>

namespace headless {

// effect_ref points at one of these; the magic number lets a stale or
// foreign reference be told apart without trusting it.
struct Host::Token {
    static constexpr std::uint64_t kMagic = 0x56454c5452495848ull;
    std::uint64_t magic = kMagic;
    Host *host = nullptr;
};

namespace {

// Every live Host, and the one whose command is running.
std::mutex g_registryMutex;
std::vector<Host *> g_liveHosts;

constexpr A_long fourCharCode(char a, char b, char c, char d) {
    auto byte = [](char ch) { return A_u_long(std::uint8_t(ch)); };
    return static_cast<A_long>((byte(a) << 24) | (byte(b) << 16) | (byte(c) << 8) | byte(d));
}
constexpr A_long kApplicationId = fourCharCode('F', 'X', 'T', 'C');
constexpr PF_Quality kQualityHigh = 1;

// ---- interaction callbacks: they carry the effect reference ----------------------

PF_Err checkoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                     A_long time_step, A_u_long time_scale, PF_ParamDef *param) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    return host->params().checkout(index, what_time, time_step, time_scale, param);
}

PF_Err checkinParam(PF_ProgPtr effect_ref, PF_ParamDef *param) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    return host->params().checkin(param);
}

PF_Err addParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    // Parameters are fixed once set-up is over; the host refuses late additions.
    if (!host->inCommand() || host->currentCommand() != PF_Cmd_PARAMS_SETUP) {
        host->ledger().problem("add_param called outside parameter set-up");
        return PF_Err_INVALID_CALLBACK;
    }
    return host->params().add(index, def);
}

PF_Err abortCallback(PF_ProgPtr effect_ref) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = host->faults().check(service::kAbort)) return err;
    return host->abortRequested() ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err progressCallback(PF_ProgPtr effect_ref, A_long, A_long) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = host->faults().check(service::kProgress)) return err;
    return host->abortRequested() ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

// ---- the generic iterator: no context, so the current host ----------------------

PF_Err iterateGeneric(A_long iterationsL, void *refconPV, PF_IterateGenericFunc fn_func) {
    Host *host = Host::current();
    if (!host) return PF_Err_INVALID_CALLBACK;
    if (PF_Err err = host->faults().check(service::kIterate)) return err;
    // The effect's writes to its worlds before and during the pass become
    // visible to the samplers at these two boundaries.
    host->worlds().passBegins();
    const PF_Err err = host->iterate(iterationsL, refconPV, fn_func);
    host->worlds().passEnds();
    return err;
}

} // namespace

// ---- construction ----------------------------------------------------------------

Host::Host(HostOptions options)
    : options_(options), handles_(ledger_, faults_), suites_(ledger_, faults_),
      params_(ledger_, faults_), workers_(options.threads), worlds_(ledger_) {
    token_ = new Token;
    token_->host = this;
    basic_ = *basicSuite();
    installWorldSuites(suites_);
    installSamplingSuites(suites_);
    initInData();
    std::lock_guard lock(g_registryMutex);
    g_liveHosts.push_back(this);
}

Host::Host(PF_EntryPointFunc entry, HostOptions options) : Host(options) { entry_ = entry; }

Host::Host(const Plugin &plugin, HostOptions options) : Host(plugin.entryPoint(), options) {}

Host::~Host() {
    {
        std::lock_guard lock(g_registryMutex);
        g_liveHosts.erase(std::remove(g_liveHosts.begin(), g_liveHosts.end(), this),
                          g_liveHosts.end());
    }
    Host *self = this;
    inCommand_.compare_exchange_strong(self, nullptr);
    token_->magic = 0;
    delete token_;
}

void Host::initInData() {
    utils_.host_new_handle = host_new_handle;
    utils_.host_lock_handle = host_lock_handle;
    utils_.host_unlock_handle = host_unlock_handle;
    utils_.host_dispose_handle = host_dispose_handle;
    utils_.host_get_handle_size = host_get_handle_size;
    fillAnsiCallbacks(utils_.ansi);
    utils_.iterate_generic = iterateGeneric;

    std::memset(&inData_, 0, sizeof inData_);
    inData_.inter.checkout_param = checkoutParam;
    inData_.inter.checkin_param = checkinParam;
    inData_.inter.add_param = addParam;
    inData_.inter.abort = abortCallback;
    inData_.inter.progress = progressCallback;
    inData_.utils = &utils_;
    inData_.effect_ref = reinterpret_cast<PF_ProgPtr>(token_);
    inData_.quality = kQualityHigh;
    inData_.version = {options_.specMajor, options_.specMinor};
    inData_.appl_id = kApplicationId;
    inData_.num_params = params_.count();
    inData_.current_time = options_.currentTime;
    inData_.time_step = options_.timeStep;
    inData_.local_time_step = options_.timeStep;
    inData_.total_time = options_.totalTime;
    inData_.time_scale = options_.timeScale;
    inData_.width = options_.width;
    inData_.height = options_.height;
    inData_.extent_hint = {0, 0, options_.width, options_.height};
    inData_.downsample_x = {1, 1};
    inData_.downsample_y = {1, 1};
    inData_.pixel_aspect_ratio = {1, 1};
    inData_.pica_basicP = &basic_;

    prepareOutData(outData_);
    outBefore_ = outData_;
}

void Host::setTime(A_long currentTime) { inData_.current_time = currentTime; }

void Host::setTime(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    inData_.current_time = currentTime;
    inData_.time_step = timeStep;
    inData_.local_time_step = timeStep;
    inData_.time_scale = timeScale;
}

// ---- the current host ----------------------------------------------------------------

Host *Host::current() {
    if (Host *host = inCommand_.load()) return host;
    std::lock_guard lock(g_registryMutex);
    return g_liveHosts.size() == 1 ? g_liveHosts.front() : nullptr;
}

Host *Host::fromEffectRef(PF_ProgPtr ref) {
    if (!ref) return nullptr;
    if (Host *running = runningWith(ref)) return running;
    std::lock_guard lock(g_registryMutex);
    for (Host *host : g_liveHosts)
        if (reinterpret_cast<PF_ProgPtr>(host->token_) == ref) return host;
    return nullptr;
}

// ---- commands --------------------------------------------------------------------------

void Host::prepareOutData(PF_OutData &out) const {
    std::memset(&out, 0, sizeof out);
    out.global_data = inData_.global_data;
    out.sequence_data = inData_.sequence_data;
    out.frame_data = inData_.frame_data;
    out.num_params = params_.count();
    out.width = inData_.width;
    out.height = inData_.height;
}

PF_Err Host::send(PF_Cmd cmd, void *extra, PF_LayerDef *output) {
    if (!entry_) {
        last_ = CommandRecord{};
        last_.cmd = cmd;
        last_.err = PF_Err_INVALID_CALLBACK;
        return PF_Err_INVALID_CALLBACK;
    }
    if (beforeSend_) beforeSend_(cmd);
    // Each call gets its own out record, so a nested command cannot disturb
    // the one it interrupts; outData() shows the latest one afterwards.
    PF_OutData out;
    prepareOutData(out);
    outBefore_ = out;
    std::vector<PF_ParamDef *> params = params_.list();
    PF_Err err = guarded(cmd, false, [&]() -> PF_Err {
        return entry_(cmd, &inData_, &out, params.data(), output, extra);
    });
    outData_ = out;
    afterCommand(cmd, err, out);
    return err;
}

PF_Err Host::userChangedParam(PF_ParamIndex index) {
    PF_UserChangedParamExtra extra{index};
    return send(PF_Cmd_USER_CHANGED_PARAM, &extra);
}

void Host::afterCommand(PF_Cmd cmd, PF_Err err, const PF_OutData &out) {
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
        if (err) break;
        // The host keeps the effect's global data and hands it back on every call.
        if (out.global_data && !handles_.isLive(out.global_data))
            ledger_.problem("global set-up returned global data that is not a live handle");
        inData_.global_data = out.global_data;
        break;
    case PF_Cmd_GLOBAL_SETDOWN:
        inData_.global_data = nullptr;
        break;
    case PF_Cmd_SEQUENCE_SETUP:
    case PF_Cmd_SEQUENCE_RESETUP:
        if (!err) inData_.sequence_data = out.sequence_data;
        break;
    case PF_Cmd_SEQUENCE_SETDOWN:
        inData_.sequence_data = nullptr;
        break;
    case PF_Cmd_PARAMS_SETUP:
        if (err) break;
        if (out.num_params != params_.count())
            ledger_.problem("parameter set-up announced " + std::to_string(out.num_params) +
                            " parameters but the host holds " +
                            std::to_string(params_.count()));
        inData_.num_params = params_.count();
        break;
    default:
        break;
    }
}

PF_Err Host::iterate(A_long iterations, void *refcon, PF_IterateGenericFunc fn) {
    const auto start = std::chrono::steady_clock::now();
    // Threads in bands far apart keep each its own part of what the pass
    // reads in its caches; a rolling window of the effect's own layers would
    // have to hold every row between them.
    const bool rolling = worlds_.effectHasRollingWorld();
    const long buildsBefore = rolling ? worlds_.effectRollingTableBuilds() : 0;
    const auto dealing = rolling ? dealingFor(fn) : WorkerPool::Dealing::Bands;
    const PF_Err err = workers_.iterate(iterations, refcon, fn, dealing);
    if (rolling) rememberReads(fn, worlds_.effectRollingTableBuilds() != buildsBefore);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (depth_ > 0) {
        std::lock_guard lock(passTimingsMutex_);
        passTimings_.push_back({iterations, took.count()});
    }
    return err;
}

WorkerPool::Dealing Host::dealingFor(PF_IterateGenericFunc fn) {
    std::lock_guard lock(dealingMutex_);
    const auto it = readsRollingWorld_.find(fn);
    const bool bands = it != readsRollingWorld_.end() && !it->second;
    return bands ? WorkerPool::Dealing::Bands : WorkerPool::Dealing::Together;
}

void Host::rememberReads(PF_IterateGenericFunc fn, bool readRollingWorld) {
    std::lock_guard lock(dealingMutex_);
    readsRollingWorld_[fn] = readRollingWorld;
}

PF_Err Host::guarded(PF_Cmd cmd, bool integersAreErrors, const std::function<PF_Err()> &body) {
    const auto start = std::chrono::steady_clock::now();
    if (depth_ == 0) passTimings_.clear();
    Host *previousHost = inCommand_.exchange(this);
    const PF_Cmd previousCmd = currentCmd_;
    currentCmd_ = cmd;
    ++depth_;
    worlds_.commandBoundary();

    CommandRecord record;
    record.cmd = cmd;
    try {
        record.err = body();
    } catch (...) {
        record.threw = true;
        record.thrown = describeCurrentException();
        record.err = kErrThrown;
        if (integersAreErrors) {
            try {
                throw;
            } catch (int value) {
                record.err = value;
            } catch (long value) {
                record.err = static_cast<PF_Err>(value);
            } catch (...) {
            }
        }
    }

    worlds_.commandBoundary();
    --depth_;
    currentCmd_ = previousCmd;
    inCommand_.store(previousHost);
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    record.passes = passTimings_;
    last_ = std::move(record);
    return last_.err;
}

std::string Host::describeCurrentException() {
    try {
        throw;
    } catch (const std::exception &e) {
        return std::string(typeid(e).name()) + ": " + e.what();
    } catch (int value) {
        return "integer " + std::to_string(value);
    } catch (long value) {
        return "integer " + std::to_string(value);
    } catch (...) {
        return "an exception of unknown type";
    }
}

} // namespace headless
