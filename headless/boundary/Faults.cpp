#include "headless/boundary/Faults.h"

namespace headless {

namespace {
std::string detailKey(std::string_view service, std::string_view detail) {
    std::string key(service);
    key += '\n';
    key.append(detail);
    return key;
}

template <class Map> long lookup(const Map &map, std::string_view key) {
    auto it = map.find(key);
    return it == map.end() ? 0 : it->second;
}
} // namespace

void Faults::arm(std::string_view service, long nth, PF_Err err, std::string_view detail,
                 bool sticky) {
    if (nth < 1) return;
    std::lock_guard lock(mutex_);
    armed_.push_back(Armed{std::string(service), std::string(detail), nth, 0, err, sticky, false});
    armedCount_.store(static_cast<long>(armed_.size()), std::memory_order_release);
}

void Faults::disarm() {
    std::lock_guard lock(mutex_);
    armed_.clear();
    armedCount_.store(0, std::memory_order_release);
}

PF_Err Faults::check(std::string_view service, std::string_view detail) {
    std::lock_guard lock(mutex_);
    ++calls_[std::string(service)];
    if (!detail.empty()) ++detailCalls_[detailKey(service, detail)];

    PF_Err result = PF_Err_NONE;
    for (Armed &fault : armed_) {
        if (fault.spent || fault.service != service) continue;
        if (!fault.detail.empty() && fault.detail != detail) continue;
        ++fault.seen;
        if (fault.seen < fault.nth) continue;
        if (!fault.sticky) fault.spent = true;
        // Every matching fault counts this call; the first one decides the error.
        if (result == PF_Err_NONE) result = fault.err;
    }
    if (result != PF_Err_NONE) ++fired_;
    return result;
}

long Faults::calls(std::string_view service) const {
    std::lock_guard lock(mutex_);
    return lookup(calls_, service);
}

long Faults::calls(std::string_view service, std::string_view detail) const {
    std::lock_guard lock(mutex_);
    return lookup(detailCalls_, detailKey(service, detail));
}

long Faults::fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
}

void Faults::resetCounts() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    detailCalls_.clear();
    fired_ = 0;
}

} // namespace headless
