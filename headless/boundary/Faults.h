// Fault injection: makes the n-th call of a host service fail with a chosen
// error, so that tests can walk every failure path of the effect.
//
// Every host service calls `check(service, detail)` on entry. The call is
// counted (per service, and per service and detail), and if an armed fault
// matches, its error is returned and the service fails the way the real host
// would: a failed allocation or lock returns null, a failed suite acquisition
// returns the error and a null suite, a failed checkout returns the error.
//
// A sweep runs a scenario once to learn `calls(service)`, then once per call
// index n in [1, calls] with `arm(service, n, err)` on a fresh host.
//
// Services are plain names so that later host services can join without
// touching this file; the names of the services the host offers are below.
//
// Thread safety: every member may be called from any thread at any time.
#pragma once

#include "headless/SdkHeaders.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace headless {

namespace service {
inline constexpr std::string_view kNewHandle = "host_new_handle";
inline constexpr std::string_view kLockHandle = "host_lock_handle";
inline constexpr std::string_view kAcquireSuite = "AcquireSuite"; // detail: suite name
inline constexpr std::string_view kAddParam = "add_param";
inline constexpr std::string_view kCheckoutParam = "checkout_param";
inline constexpr std::string_view kIterate = "iterate_generic";
inline constexpr std::string_view kAbort = "abort";
inline constexpr std::string_view kProgress = "progress";
// Services that later parts of the host provide.
inline constexpr std::string_view kCheckoutLayer = "checkout_layer";
inline constexpr std::string_view kCheckoutLayerPixels = "checkout_layer_pixels";
inline constexpr std::string_view kCheckoutOutput = "checkout_output";
inline constexpr std::string_view kNewWorld = "world creation";        // detail: function name
inline constexpr std::string_view kGetPixelFormat = "PF_GetPixelFormat";
// Samples are far too many to count one by one under a lock: the samplers
// consult check() only while anyArmed(), so calls(kAreaSample) and
// calls(kPointSample) count the samples made while some fault was armed.
inline constexpr std::string_view kAreaSample = "area sample";         // detail: suite name
inline constexpr std::string_view kPointSample = "point sample";       // detail: suite name (nn, subpixel)
// Every function of the AEGP suites (AegpSuites.h) counts as this one
// service; the detail is the function's SDK name, e.g. "AEGP_GetLayerName".
inline constexpr std::string_view kAegp = "AEGP call";                 // detail: function name
inline constexpr std::string_view kUpdateParamUI = "PF_UpdateParamUI";
} // namespace service

class Faults {
public:
    // Arms a fault: counting from now, the `nth` (1-based) call of `service`
    // fails with `err`. With a non-empty `detail`, only calls with that detail
    // (for example the suite name of AcquireSuite) are counted and can fail.
    // A fault fires once, unless `sticky`: then that call and every later
    // matching call fail. Several faults may be armed at once; `nth` < 1 arms
    // nothing.
    void arm(std::string_view service, long nth, PF_Err err, std::string_view detail = {},
             bool sticky = false);

    // Removes every armed fault (call counts are kept).
    void disarm();

    // Whether any fault was armed since construction or the last disarm()
    // (spent ones included). Lock-free, for services on hot paths.
    bool anyArmed() const { return armedCount_.load(std::memory_order_acquire) > 0; }

    // Called by a host service on entry: counts the call and returns the
    // error to fail with, or PF_Err_NONE to proceed.
    PF_Err check(std::string_view service, std::string_view detail = {});

    // Calls counted since construction or the last resetCounts().
    long calls(std::string_view service) const;
    long calls(std::string_view service, std::string_view detail) const;

    // How many calls were failed on purpose since construction or resetCounts().
    long fired() const;

    // Zeroes the call and fired counts (armed faults are kept).
    void resetCounts();

private:
    struct Armed {
        std::string service;
        std::string detail;
        long nth;
        long seen;
        PF_Err err;
        bool sticky;
        bool spent;
    };

    mutable std::mutex mutex_;
    std::vector<Armed> armed_;
    std::map<std::string, long, std::less<>> calls_;
    std::map<std::string, long, std::less<>> detailCalls_; // key: service '\n' detail
    long fired_ = 0;
    std::atomic<long> armedCount_{0};
};

} // namespace headless
