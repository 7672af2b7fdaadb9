// RollingRows: the rows of a large summed-area table, held as a window of
// consecutive rows that follows the samples instead of all at once.
//
// Samplers sweeping an image read rows near the one they are on; a box
// needs only its top and bottom rows. The window makes rows as samples reach
// them (AreaTableRows, so the entries equal those of a whole table bit for
// bit) and reuses the memory of rows it leaves behind. A sample reaching
// behind the window widens it and starts again from the nearest checkpoint
// (the making's state every few rows), so the window settles at the span the
// samples actually use: a blur of radius r on an image swept by two threads
// holds about 2r rows plus the rows between the threads, not the image.
//
// Thread safety: read() may be called from any number of threads at once.
// Reading takes no lock while the rows are held, and reads the values as
// plain memory: a reading thread first posts the lowest row it is about to
// read (its hazard), and a row's memory is never given to another row while
// a posted hazard is at or below the row it held (the memory waits, or the
// window takes more). Rows are made under the lock, as are the reads of
// threads beyond the posts there are and of rows not held; a thread whose
// rows are among those another thread is making right now waits for them to
// be published instead of for the lock (the maker holds it for the whole run
// of rows it makes, which after a jump ahead may be dozens). The world's
// pixels must not change while the window lives.
#pragma once

#include "headless/images/AreaTableRows.h"
#include "headless/images/SpareMemory.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace headless {

template <class T> class RollingRows {
public:
    // Throws std::bad_alloc.
    explicit RollingRows(const HostWorld &world);
    ~RollingRows();
    RollingRows(const RollingRows &) = delete;
    RollingRows &operator=(const RollingRows &) = delete;

    // Calls read(r0, r1, r2, r3) with the values of table rows `rows` (each
    // in [0, height]) and returns what it returns. `read` must not keep the
    // pointers. Throws std::bad_alloc when a row's memory is not there.
    template <class Read> auto read(const A_long (&rows)[4], Read &&read) const;

    // Rows whose memory is allocated now (the window never gives memory back
    // before it dies), and how often the window had to start again.
    std::size_t rowsAllocated() const;
    long restarts() const;

private:
    // A row's memory. Consecutive rows with the same values (below a
    // transparent pixel row) share one slot; a slot is free once no row of
    // the window is in it.
    struct Slot {
        A_long heldRow = -1; // the last row put in it (under mutex_)
        T *values = nullptr; // stride() entries in a chunk's memory
    };
    // A thread's post: the lowest row its read in progress reads, or kNoRow.
    // One per cache line, so that posting stays within the thread's cache.
    static constexpr A_long kNoRow = 0x7fffffff;
    struct alignas(64) Hazard {
        std::atomic<A_long> row{kNoRow};
    };
    // Row memory comes in chunks of several rows: a window that widens
    // allocates a few times, not once per row.
    struct Chunk {
        std::unique_ptr<Slot[]> slots;
        SpareBlock values;
    };

    // Holds rows [first, last] in the window (under mutex_).
    void hold(A_long first, A_long last) const;
    // Whether all of `rows` are published now (seq_cst, after the reader's
    // post), each then read through `values`.
    bool lookUpHeld(const A_long (&rows)[4], const T *(&values)[4]) const
    {
        for (int k = 0; k < 4; ++k) {
            const Slot *slot = slotOfRow_[rows[k]].load(std::memory_order_seq_cst);
            if (!slot) return false;
            values[k] = slot->values;
        }
        return true;
    }
    // Whether `rows`, all at most making_, were published while the rows
    // through making_ were being made (false once the making is over, or
    // after a long wait), each then read through `values`.
    bool awaitMaking(const A_long (&rows)[4], const T *(&values)[4]) const;
    void restartAt(A_long first) const;
    void makeThrough(A_long last, A_long keepFrom, A_long wanted) const;
    void keepCurrent(A_long wanted) const;
    bool shareCurrent(A_long wanted) const;
    Slot *slotForNext(A_long wanted) const;
    bool evictionDue(A_long wanted) const;
    void unpublish(A_long row) const;
    void publish(Slot *slot) const;
    Slot *freeSlot() const;
    A_long lowestHazard() const;
    void saveCheckpointIfDue() const;
    void addSlots() const;
    void dropWindow() const;

    const A_long rows_; // height + 1
    const A_long checkpointSpacing_;
    std::unique_ptr<std::atomic<Slot *>[]> slotOfRow_;
    std::unique_ptr<Hazard[]> hazards_; // kReaderPosts of them, by rollingReaderPost()
    // While rows are made (under mutex_), the last row of the run being made;
    // -1 otherwise.
    mutable std::atomic<A_long> making_{-1};

    mutable std::mutex mutex_; // guards everything below
    mutable AreaTableRows<T> maker_;
    // The maker's state after rows 0, spacing, 2 spacing, ... (those reached
    // so far), in one block taken up front.
    SpareBlock checkpoints_;
    mutable std::size_t checkpointsSaved_ = 0;
    mutable std::vector<Chunk> chunks_;
    mutable std::size_t slotCount_ = 0;
    mutable std::vector<Slot *> free_;
    mutable A_long first_ = 0, last_ = -1; // the window; empty when last_ < first_
    mutable A_long capacity_;
    mutable long restarts_ = 0;
};

// The memory of windows' rows and checkpoints, kept for the next frame's
// windows (of worlds the same width, the same sizes): up to this many bytes.
// A window lives as long as its world; fresh memory for the next one would
// be a page fault for every page its rows first write, taken by the thread
// making a row while the others wait for it.
inline constexpr std::size_t kRollingRowMemoryBytes = std::size_t{32} << 20;
SpareMemory &rollingRowMemory();

// This thread's post among kReaderPosts (the same in every window), or a
// negative number where every post is taken by a live thread.
inline constexpr int kReaderPosts = 64;
int rollingReaderPost();

template <class T> template <class Read> auto RollingRows<T>::read(const A_long (&rows)[4], Read &&read) const {
    const int post = rollingReaderPost();
    if (post >= 0) {
        // Posted before the rows are looked up, in one total order with the
        // writer's unpublishing of a row and its look at the posts: either the
        // writer sees the post and keeps the row's memory, or this sees the
        // row gone.
        A_long lowest = rows[0];
        for (A_long row : rows) lowest = std::min(lowest, row);
        std::atomic<A_long> &hazard = hazards_[post].row;
        hazard.store(lowest, std::memory_order_seq_cst);
        const T *values[4];
        const bool held = lookUpHeld(rows, values) || awaitMaking(rows, values);
        if (held) {
            auto result = read(values[0], values[1], values[2], values[3]);
            hazard.store(kNoRow, std::memory_order_release);
            return result;
        }
        hazard.store(kNoRow, std::memory_order_release);
    }
    // Under the lock: make the rows, then read them while nothing can move.
    std::lock_guard lock(mutex_);
    A_long first = rows[0], last = rows[0];
    for (A_long row : rows) {
        first = std::min(first, row);
        last = std::max(last, row);
    }
    hold(first, last);
    return read(slotOfRow_[rows[0]].load(std::memory_order_relaxed)->values,
                slotOfRow_[rows[1]].load(std::memory_order_relaxed)->values,
                slotOfRow_[rows[2]].load(std::memory_order_relaxed)->values,
                slotOfRow_[rows[3]].load(std::memory_order_relaxed)->values);
}

extern template class RollingRows<std::uint64_t>;
extern template class RollingRows<double>;

} // namespace headless
