// Host memory handles, as the utility callbacks hand them to the effect.
//
// A `PF_Handle` is a `void **`: it points at the handle's master pointer, and
// the master pointer is the start of the handle's block. The block never moves
// (locking only counts), so a locked address stays valid until unlock and an
// unlocked one until dispose. New blocks are filled with the byte 0xA5 so that
// code reading memory it never wrote fails the same way on every run.
//
// The memory of the last few large handles disposed is kept for the next
// handles of the same sizes: an effect asks for its per-frame working memory
// (scratch for each render thread, a survey of its layers) frame after frame,
// and fresh memory costs a page fault for every page the fill first writes,
// about a millisecond a frame for half a megabyte on the command's thread.
//
// Every handle the table hands out is known by its address; an unknown,
// foreign or already disposed handle is never dereferenced: the call does
// nothing (or returns null / 0) and the misuse is recorded in the ledger.
// The ledger counts live handles and locked handles (a handle locked twice
// counts once).
//
// Thread safety: every member may be called from any thread at any time.
#pragma once

#include "headless/SdkHeaders.h"
#include "headless/images/SpareMemory.h"

#include <cstddef>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace headless {

class Ledger;
class Faults;

class HandleTable {
public:
    HandleTable(Ledger &ledger, Faults &faults);
    // Frees every handle still live (without touching the ledger).
    ~HandleTable();
    HandleTable(const HandleTable &) = delete;
    HandleTable &operator=(const HandleTable &) = delete;

    // host_new_handle: a handle of `size` bytes, or null when the memory is
    // not there or a fault is armed on service::kNewHandle.
    PF_Handle create(A_HandleSize size);
    // host_lock_handle: the block address, or null for an unknown handle or
    // a fault armed on service::kLockHandle (the handle stays unlocked then).
    void *lock(PF_Handle handle);
    // host_unlock_handle: unlocking a handle that is not locked is a problem.
    void unlock(PF_Handle handle);
    // host_dispose_handle: frees the handle, locked or not. Null is ignored.
    void dispose(PF_Handle handle);
    // host_get_handle_size: 0, and a problem, for an unknown handle.
    A_HandleSize size(PF_Handle handle) const;

    // For tests: whether the handle is live, how often it is locked, and its
    // block without locking it (null when unknown).
    bool isLive(PF_Handle handle) const;
    int lockCount(PF_Handle handle) const;
    void *peek(PF_Handle handle) const;
    std::size_t liveCount() const;

private:
    struct Record;

    Record *find(PF_Handle handle) const; // caller holds mutex_
    void forget(Record *record);          // caller holds mutex_

    Ledger &ledger_;
    Faults &faults_;
    mutable std::mutex mutex_;
    std::unordered_map<PF_Handle, Record *> live_;
    std::unordered_set<PF_Handle> disposed_; // for "disposed twice" messages
    SpareMemory spare_; // large blocks disposed, for the next handles of their sizes
};

// The handle functions of PF_UtilCallbacks. The SDK gives them no context, so
// they act on the handle table of Host::current(); without a current host,
// allocation returns null and everything else does nothing.
PF_Handle host_new_handle(A_HandleSize size);
void *host_lock_handle(PF_Handle pf_handle);
void host_unlock_handle(PF_Handle pf_handle);
void host_dispose_handle(PF_Handle pf_handle);
A_HandleSize host_get_handle_size(PF_Handle pf_handle);

} // namespace headless
