#include "headless/boundary/Handles.h"

#include "headless/boundary/Faults.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Ledger.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <sstream>

namespace headless {

// The handle is the address of `master`, so `*handle` is the block start.
struct HandleTable::Record {
    void *master = nullptr;
    A_HandleSize size = 0;
    int locks = 0;
};

namespace {
// Larger requests are refused like any allocation the machine cannot serve
// (and never reach the allocator, which may abort on absurd sizes).
constexpr A_HandleSize kLargestHandle = A_HandleSize(1) << (sizeof(void *) >= 8 ? 40 : 30);
constexpr unsigned char kFreshFill = 0xA5;

// The handles whose memory is kept when they go (SpareMemory): from 64 KiB,
// at most 8 blocks and 32 MiB, and a size none of them has lets them all go,
// so that what is kept follows the sizes in use.
constexpr SpareMemory::Limits kSpareHandles{std::size_t{64} << 10, 8, std::size_t{32} << 20, true};

std::string describe(std::string_view service, PF_Handle handle, std::string_view what) {
    std::ostringstream text;
    text << service << ": " << what << " handle " << static_cast<const void *>(handle);
    return text.str();
}
} // namespace

HandleTable::HandleTable(Ledger &ledger, Faults &faults)
    : ledger_(ledger), faults_(faults), spare_(kSpareHandles) {}

HandleTable::~HandleTable() {
    for (auto &entry : live_) {
        ::operator delete(entry.second->master);
        delete entry.second;
    }
}

HandleTable::Record *HandleTable::find(PF_Handle handle) const {
    auto it = live_.find(handle);
    return it == live_.end() ? nullptr : it->second;
}

void HandleTable::forget(Record *record) {
    PF_Handle handle = &record->master;
    if (record->locks > 0) ledger_.remove(Ledger::kLockedHandles);
    ledger_.remove(Ledger::kLiveHandles);
    live_.erase(handle);
    disposed_.insert(handle);
    spare_.give(record->master, record->size > 0 ? record->size : 1);
    delete record;
}

PF_Handle HandleTable::create(A_HandleSize size) {
    if (faults_.check(service::kNewHandle) != PF_Err_NONE) return nullptr;
    if (size > kLargestHandle) return nullptr;

    auto *record = new (std::nothrow) Record;
    if (!record) return nullptr;
    try {
        record->master = spare_.take(size > 0 ? size : 1);
    } catch (const std::bad_alloc &) {
        record->master = nullptr;
    }
    if (!record->master) {
        delete record;
        return nullptr;
    }
    std::memset(record->master, kFreshFill, size);
    record->size = size;

    PF_Handle handle = &record->master;
    std::lock_guard lock(mutex_);
    live_.emplace(handle, record);
    disposed_.erase(handle);
    ledger_.add(Ledger::kLiveHandles);
    return handle;
}

void *HandleTable::lock(PF_Handle handle) {
    if (faults_.check(service::kLockHandle) != PF_Err_NONE) return nullptr;
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    if (!record) {
        ledger_.problem(describe("host_lock_handle", handle,
                                 disposed_.count(handle) ? "disposed" : "unknown"));
        return nullptr;
    }
    if (record->locks++ == 0) ledger_.add(Ledger::kLockedHandles);
    return record->master;
}

void HandleTable::unlock(PF_Handle handle) {
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    if (!record) {
        ledger_.problem(describe("host_unlock_handle", handle,
                                 disposed_.count(handle) ? "disposed" : "unknown"));
        return;
    }
    if (record->locks == 0) {
        ledger_.problem(describe("host_unlock_handle", handle, "not locked"));
        return;
    }
    if (--record->locks == 0) ledger_.remove(Ledger::kLockedHandles);
}

void HandleTable::dispose(PF_Handle handle) {
    if (!handle) return;
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    if (!record) {
        ledger_.problem(describe("host_dispose_handle", handle,
                                 disposed_.count(handle) ? "already disposed" : "unknown"));
        return;
    }
    forget(record);
}

A_HandleSize HandleTable::size(PF_Handle handle) const {
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    if (!record) {
        ledger_.problem(describe("host_get_handle_size", handle,
                                 disposed_.count(handle) ? "disposed" : "unknown"));
        return 0;
    }
    return record->size;
}

bool HandleTable::isLive(PF_Handle handle) const {
    std::lock_guard lock(mutex_);
    return find(handle) != nullptr;
}

int HandleTable::lockCount(PF_Handle handle) const {
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    return record ? record->locks : 0;
}

void *HandleTable::peek(PF_Handle handle) const {
    std::lock_guard lock(mutex_);
    Record *record = find(handle);
    return record ? record->master : nullptr;
}

std::size_t HandleTable::liveCount() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

// ---- the utility callbacks -----------------------------------------------------

PF_Handle host_new_handle(A_HandleSize size) {
    Host *host = Host::current();
    return host ? host->handles().create(size) : nullptr;
}

void *host_lock_handle(PF_Handle pf_handle) {
    Host *host = Host::current();
    return host ? host->handles().lock(pf_handle) : nullptr;
}

void host_unlock_handle(PF_Handle pf_handle) {
    if (Host *host = Host::current()) host->handles().unlock(pf_handle);
}

void host_dispose_handle(PF_Handle pf_handle) {
    if (Host *host = Host::current()) host->handles().dispose(pf_handle);
}

A_HandleSize host_get_handle_size(PF_Handle pf_handle) {
    Host *host = Host::current();
    return host ? host->handles().size(pf_handle) : 0;
}

} // namespace headless
