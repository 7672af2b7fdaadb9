#include "headless/images/RollingRows.h"

#include <algorithm>

namespace headless {

namespace {
// Rows the window holds before the samples show it needs more.
constexpr A_long kFirstCapacity = 64;
// Rows made beyond the last one asked for, so that a sweep takes the lock
// once every few rows rather than at every row.
constexpr A_long kLookahead = 4;
// Starting again, the window begins this part of its capacity before the
// first row asked for.
constexpr A_long kBackMarginPart = 4;
// At most this many checkpoints (plus one), at least this many rows apart:
// starting again costs at most one spacing of rows made for nothing.
constexpr A_long kCheckpoints = 16;
constexpr A_long kMinSpacing = 32;
// Rows of memory allocated at a time, at least.
constexpr std::size_t kChunkRows = 16;
} // namespace

template <class T>
RollingRows<T>::RollingRows(const HostWorld &world)
    : rows_(world.height() + 1), checkpointSpacing_(std::max(kMinSpacing, rows_ / kCheckpoints + 1)),
      slotOfRow_(new std::atomic<Slot *>[static_cast<std::size_t>(rows_)]), maker_(world),
      checkpoints_(new T[static_cast<std::size_t>((rows_ - 1) / checkpointSpacing_ + 1) * maker_.stateSize()]),
      capacity_(std::min(kFirstCapacity, rows_)) {
    for (A_long row = 0; row < rows_; ++row) slotOfRow_[row].store(nullptr, std::memory_order_relaxed);
    saveCheckpointIfDue();
}

template <class T> RollingRows<T>::~RollingRows() = default;

template <class T> std::size_t RollingRows<T>::rowsAllocated() const {
    std::lock_guard lock(mutex_);
    return slotCount_;
}

template <class T> long RollingRows<T>::restarts() const {
    std::lock_guard lock(mutex_);
    return restarts_;
}

template <class T> void RollingRows<T>::hold(A_long first, A_long last) const {
    if (first_ <= first && last <= last_) return; // held
    capacity_ = std::max(capacity_, last - first + 1);
    if (last_ < first_ || first < first_) {
        // Behind the window (or nothing held yet): the samples reach further
        // back than the window holds, so it widens to cover them, a margin
        // before them (boxes of varying size creep back a row at a time) and
        // what it held, and starts again from there.
        const A_long start = std::max(A_long{0}, first - capacity_ / kBackMarginPart);
        const A_long through = std::max(last, last_);
        if (last_ >= first_) {
            ++restarts_;
        }
        capacity_ = std::min(std::max(capacity_, through - start + 1), rows_);
        dropWindow();
        restartAt(start);
        makeThrough(std::min(rows_ - 1, std::max(through, first + kLookahead)), start, start);
        return;
    }
    // Ahead of the window: the rows on the way are kept too (the window is
    // one run of rows, and another thread may be just behind), unless the
    // window could not hold them anyway.
    A_long keepFrom = last_ + 1;
    if (first - last_ > capacity_) {
        dropWindow();
        keepFrom = first;
    }
    makeThrough(std::min(rows_ - 1, last + kLookahead), keepFrom, first);
}

// Puts the maker at the latest state at or before `first`.
template <class T> void RollingRows<T>::restartAt(A_long first) const {
    if (maker_.current() <= first) return; // it gets there going on
    const std::size_t index = std::min(checkpointsSaved_ - 1, static_cast<std::size_t>(first / checkpointSpacing_));
    maker_.restoreState(static_cast<A_long>(index) * checkpointSpacing_, checkpoints_.get() + index * maker_.stateSize());
}

// Makes rows up to `last`, holding those from `keepFrom` on (evicting the
// oldest beyond the capacity, but never a row at or after `wanted`).
template <class T> void RollingRows<T>::makeThrough(A_long last, A_long keepFrom, A_long wanted) const {
    if (maker_.current() >= keepFrom && maker_.current() > last_) keepCurrent(wanted);
    while (maker_.current() < last) {
        maker_.advance();
        saveCheckpointIfDue();
        if (maker_.current() >= keepFrom) keepCurrent(wanted);
    }
}

// Puts the maker's current row into the window, after the rows held; the
// oldest row makes way when the window is full, unless it is wanted now.
template <class T> void RollingRows<T>::keepCurrent(A_long wanted) const {
    const A_long row = maker_.current();
    Slot *slot;
    if (last_ >= first_ && last_ - first_ + 1 >= capacity_ && first_ < wanted) {
        slot = slotOfRow_[first_].load(std::memory_order_relaxed);
        slotOfRow_[first_].store(nullptr, std::memory_order_relaxed);
        ++first_;
    } else {
        if (free_.empty()) addSlots();
        slot = free_.back();
        free_.pop_back();
    }

    const std::uint64_t sequence = slot->sequence.load(std::memory_order_relaxed);
    slot->sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot->row.store(row, std::memory_order_relaxed);
    // The count read once: the stores might change the maker's vector as far
    // as the compiler knows, which would otherwise reread its size at every
    // value (the copy is the window's part of making a row, made under the
    // lock while other threads may wait).
    const T *values = maker_.values();
    T *out = slot->values;
    const std::size_t count = maker_.stride();
#pragma GCC unroll 4
    for (std::size_t i = 0; i < count; ++i)
        std::atomic_ref<T>(out[i]).store(values[i], std::memory_order_relaxed);
    slot->sequence.store(sequence + 2, std::memory_order_release);
    slotOfRow_[row].store(slot, std::memory_order_release);

    if (last_ < first_) first_ = row;
    last_ = row;
}

// A quarter more rows (at least kChunkRows, at most what the table has left).
template <class T> void RollingRows<T>::addSlots() const {
    const std::size_t left = static_cast<std::size_t>(rows_) > slotCount_ ? rows_ - slotCount_ : 1;
    const std::size_t count = std::min(left, std::max<std::size_t>(kChunkRows, slotCount_ / 4));
    Chunk chunk{std::make_unique<Slot[]>(count), std::unique_ptr<T[]>(new T[count * maker_.stride()])};
    for (std::size_t i = 0; i < count; ++i) chunk.slots[i].values = chunk.values.get() + i * maker_.stride();
    // Pushed last to first, so that the chunk's rows are handed out in order.
    free_.reserve(free_.size() + count);
    for (std::size_t i = count; i-- > 0;) free_.push_back(&chunk.slots[i]);
    chunks_.push_back(std::move(chunk));
    slotCount_ += count;
}

template <class T> void RollingRows<T>::saveCheckpointIfDue() const {
    const A_long row = maker_.current();
    if (row % checkpointSpacing_ == 0 && static_cast<std::size_t>(row / checkpointSpacing_) == checkpointsSaved_)
        maker_.saveState(checkpoints_.get() + checkpointsSaved_++ * maker_.stateSize());
}

template <class T> void RollingRows<T>::dropWindow() const {
    for (A_long row = first_; row <= last_; ++row) {
        free_.push_back(slotOfRow_[row].load(std::memory_order_relaxed));
        slotOfRow_[row].store(nullptr, std::memory_order_relaxed);
    }
    first_ = 0;
    last_ = -1;
}

template class RollingRows<std::uint64_t>;
template class RollingRows<double>;

} // namespace headless
