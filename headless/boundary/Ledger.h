// The ledger: what the effect currently holds from the host, and what it did
// wrong. Every host service of the headless host books into it, so a test can
// end with `EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();`.
//
// It keeps named counters (live handles, locked handles, parameter checkouts,
// one counter per acquired suite, and whatever later services add: host
// worlds, layer checkouts, ...) and a list of problems (misuse the host
// detected, such as disposing of an unknown handle or releasing a suite that
// was never acquired).
//
// Thread safety: every member may be called from any thread at any time.
#pragma once

#include "headless/SdkHeaders.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace headless {

class Ledger {
public:
    // Counters the core keeps. Later services may use any other name.
    static constexpr std::string_view kLiveHandles = "live handles";
    static constexpr std::string_view kLockedHandles = "locked handles";
    static constexpr std::string_view kParamCheckouts = "parameter checkouts";
    static constexpr std::string_view kBasicBlocks = "basic suite blocks";
    static constexpr std::string_view kHostWorlds = "host worlds";
    static constexpr std::string_view kLayerCheckouts = "layer checkouts";

    // The counter name of suite (name, version): `suite "name" v<version>`.
    static std::string suiteKey(std::string_view name, A_long version);

    // Counts one more held thing (`delta` > 0) or one fewer (`delta` < 0). A
    // counter never goes below zero: an excess release is recorded as a
    // problem and the counter stays at zero.
    void add(std::string_view counter, long delta = 1);
    void remove(std::string_view counter) { add(counter, -1); }

    // Current value of a counter (0 for one never touched).
    long count(std::string_view counter) const;
    long suiteCount(std::string_view name, A_long version) const;

    // Records misuse the host detected. The text should name the service and
    // the object ("host_dispose_handle: unknown handle 0x1234").
    void problem(std::string text);
    std::vector<std::string> problems() const;

    // Every counter that is not zero.
    std::map<std::string, long> outstanding() const;

    // True when the effect holds nothing and no problem was recorded.
    bool empty() const;

    // One line per non-zero counter and per problem; "ledger empty" otherwise.
    std::string report() const;

    // Forgets all counters and problems (the host's objects are not touched).
    void clear();

private:
    mutable std::mutex mutex_;
    std::map<std::string, long, std::less<>> counters_;
    std::vector<std::string> problems_;
};

} // namespace headless
