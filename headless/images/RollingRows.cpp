#include "headless/images/RollingRows.h"

#include "headless/images/ProgramThreadLocal.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

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

// The widest a window of a table of each size (rows and entries a row) grew
// to, for the next windows of that size: a frame's windows span what the
// last frame's did, and one that starts narrower starts again once it finds
// out, remaking its rows while the other threads wait for them. The last
// few sizes are kept. A window holds as many rows as it may before it lets
// the oldest go, so a width taken over holds that many rows: only widths up
// to a quarter of the table are taken over (kWidestTakenOverPart), and a frame
// after one with a blur wider than that starts narrow, as before.
class WindowWidths {
public:
    A_long widthFor(A_long rows, std::size_t stride) {
        std::lock_guard lock(mutex_);
        for (const Entry &e : entries_)
            if (e.rows == rows && e.stride == stride) return e.capacity;
        return 0;
    }
    void grewTo(A_long rows, std::size_t stride, A_long capacity) {
        std::lock_guard lock(mutex_);
        for (Entry &e : entries_)
            if (e.rows == rows && e.stride == stride) {
                e.capacity = std::max(e.capacity, capacity);
                return;
            }
        entries_[next_] = Entry{rows, stride, capacity};
        next_ = (next_ + 1) % kSizes;
    }

private:
    struct Entry {
        A_long rows = 0;
        std::size_t stride = 0;
        A_long capacity = 0;
    };
    static constexpr std::size_t kSizes = 4;
    std::mutex mutex_;
    Entry entries_[kSizes];
    std::size_t next_ = 0;
};

// Never destroyed: a window may still go while the program exits.
WindowWidths &windowWidths() {
    static WindowWidths *const instance = new WindowWidths;
    return *instance;
}

// The rows a window starts with, given the width the last window of its
// size grew to (0: none).
constexpr A_long kWidestTakenOverPart = 4;
A_long startingWidth(A_long rows, A_long lastWidth) {
    const A_long takenOver = lastWidth <= rows / kWidestTakenOverPart ? lastWidth : 0;
    return std::max(kFirstCapacity, takenOver);
}

// A spinning thread's pause between looks at a row on its way.
inline void pauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}
} // namespace

template <class T>
RollingRows<T>::RollingRows(const HostWorld &world)
    : rows_(world.height() + 1), checkpointSpacing_(std::max(kMinSpacing, rows_ / kCheckpoints + 1)),
      slotOfRow_(new std::atomic<Slot *>[static_cast<std::size_t>(rows_)]), hazards_(new Hazard[kReaderPosts]),
      maker_(world),
      checkpoints_(rollingRowMemory(), static_cast<std::size_t>((rows_ - 1) / checkpointSpacing_ + 1) * maker_.stateSize() * sizeof(T)),
      capacity_(std::min(startingWidth(rows_, windowWidths().widthFor(rows_, maker_.stride())), rows_)) {
    for (A_long row = 0; row < rows_; ++row) slotOfRow_[row].store(nullptr, std::memory_order_relaxed);
    saveCheckpointIfDue();
}

template <class T> RollingRows<T>::~RollingRows() { windowWidths().grewTo(rows_, maker_.stride(), capacity_); }

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

template <class T> bool RollingRows<T>::awaitMaking(const A_long (&rows)[4], const T *(&values)[4]) const {
    A_long highest = rows[0];
    for (A_long row : rows) highest = std::max(highest, row);
    // A row takes microseconds to make: a short wait, given up after about
    // a millisecond (the maker may have been put off the processor).
    constexpr int kLooks = 1 << 14;
    for (int look = 0; look < kLooks; ++look) {
        if (making_.load(std::memory_order_acquire) < highest) return false; // not on the way
        if (lookUpHeld(rows, values)) return true;
        pauseBriefly();
    }
    return false;
}

// Puts the maker at the latest state at or before `first`.
template <class T> void RollingRows<T>::restartAt(A_long first) const {
    if (maker_.current() <= first) return; // it gets there going on
    const std::size_t index = std::min(checkpointsSaved_ - 1, static_cast<std::size_t>(first / checkpointSpacing_));
    maker_.restoreState(static_cast<A_long>(index) * checkpointSpacing_, checkpoints_.template as<T>() + index * maker_.stateSize());
}

// Makes rows up to `last`, holding those from `keepFrom` on (evicting the
// oldest beyond the capacity, but never a row at or after `wanted`). A row
// held is made in its slot, from the row before it, with no copy; a row the
// same as the one before it (below a transparent pixel row, as the empty
// parts of a blur's layers are) shares that row's slot.
template <class T> void RollingRows<T>::makeThrough(A_long last, A_long keepFrom, A_long wanted) const {
    if (maker_.current() >= keepFrom && maker_.current() > last_) keepCurrent(wanted);
    // Readers of the rows on the way wait for them, not for the lock.
    making_.store(last, std::memory_order_release);
    struct Done {
        std::atomic<A_long> &making;
        ~Done() { making.store(-1, std::memory_order_release); }
    } done{making_};
    while (maker_.current() < last) {
        if (maker_.current() + 1 >= keepFrom) {
            if (!shareCurrent(wanted)) {
                Slot *slot = slotForNext(wanted);
                maker_.advanceInto(slot->values);
                publish(slot);
            }
        } else {
            maker_.advance();
        }
        saveCheckpointIfDue();
    }
}

// Where the maker's current row is the window's last, in its slot, and the
// next adds nothing to it: makes the next row in that slot, as it is, and
// publishes it there. False, with nothing done, otherwise, and where making
// room would free that very slot (a window of one row).
template <class T> bool RollingRows<T>::shareCurrent(A_long wanted) const {
    if (last_ < first_ || last_ != maker_.current()) return false;
    Slot *slot = slotOfRow_[last_].load(std::memory_order_relaxed);
    if (slot->values != maker_.values()) return false;
    const bool full = evictionDue(wanted);
    if (full && first_ == last_) return false;
    if (!maker_.advanceIfNothingAdded()) return false;
    if (full) unpublish(first_++);
    publish(slot);
    return true;
}

// Puts the maker's current row, made before the window held it (a
// checkpoint's, or one made while the window was dropped), into the window.
template <class T> void RollingRows<T>::keepCurrent(A_long wanted) const {
    Slot *slot = slotForNext(wanted);
    // The maker may still read the row from the memory it made it in, which
    // may be this slot's (freed, and written by no one since).
    if (slot->values != maker_.values()) std::memcpy(slot->values, maker_.values(), maker_.stride() * sizeof(T));
    publish(slot);
}

// Memory for the row after those held; the oldest row makes way when the
// window is full, unless it is wanted now. No thread reads the memory now
// (freeSlot), and none finds it before publish(): plain writes.
template <class T> typename RollingRows<T>::Slot *RollingRows<T>::slotForNext(A_long wanted) const {
    if (evictionDue(wanted)) unpublish(first_++);
    return freeSlot();
}

// Whether the window is full, so that the next row held takes the oldest
// one's place, and that one is not wanted now.
template <class T> bool RollingRows<T>::evictionDue(A_long wanted) const {
    return last_ >= first_ && last_ - first_ + 1 >= capacity_ && first_ < wanted;
}

// Unpublishes held row `row`; its slot is free unless the next row held is
// in it too.
template <class T> void RollingRows<T>::unpublish(A_long row) const {
    Slot *slot = slotOfRow_[row].load(std::memory_order_relaxed);
    slotOfRow_[row].store(nullptr, std::memory_order_seq_cst);
    if (row == last_ || slotOfRow_[row + 1].load(std::memory_order_relaxed) != slot) free_.push_back(slot);
}

// Publishes the slot as the maker's current row, after the rows held.
template <class T> void RollingRows<T>::publish(Slot *slot) const {
    const A_long row = maker_.current();
    slot->heldRow = row;
    slotOfRow_[row].store(slot, std::memory_order_release);
    if (last_ < first_) first_ = row;
    last_ = row;
}

// Memory for a row: the most recently freed whose last row lies below every
// posted read (a read posted later finds that row unpublished: it was
// unpublished before this looked at the posts), or new memory.
template <class T> typename RollingRows<T>::Slot *RollingRows<T>::freeSlot() const {
    if (!free_.empty()) {
        const A_long lowest = lowestHazard();
        for (auto it = free_.rbegin(); it != free_.rend(); ++it) {
            Slot *slot = *it;
            if (slot->heldRow >= lowest) continue;
            free_.erase(std::next(it).base());
            return slot;
        }
    }
    addSlots();
    Slot *slot = free_.back();
    free_.pop_back();
    return slot;
}

template <class T> A_long RollingRows<T>::lowestHazard() const {
    A_long lowest = kNoRow;
    for (int post = 0; post < kReaderPosts; ++post)
        lowest = std::min(lowest, hazards_[post].row.load(std::memory_order_seq_cst));
    return lowest;
}

// A quarter more rows (at least kChunkRows, at most what the table has left).
template <class T> void RollingRows<T>::addSlots() const {
    const std::size_t left = static_cast<std::size_t>(rows_) > slotCount_ ? rows_ - slotCount_ : 1;
    const std::size_t count = std::min(left, std::max<std::size_t>(kChunkRows, slotCount_ / 4));
    // A window of the frame before left memory of this size.
    Chunk chunk{std::make_unique<Slot[]>(count), SpareBlock(rollingRowMemory(), count * maker_.stride() * sizeof(T))};
    for (std::size_t i = 0; i < count; ++i) chunk.slots[i].values = chunk.values.template as<T>() + i * maker_.stride();
    // Pushed last to first, so that the chunk's rows are handed out in order.
    free_.reserve(free_.size() + count);
    for (std::size_t i = count; i-- > 0;) free_.push_back(&chunk.slots[i]);
    chunks_.push_back(std::move(chunk));
    slotCount_ += count;
}

template <class T> void RollingRows<T>::saveCheckpointIfDue() const {
    const A_long row = maker_.current();
    if (row % checkpointSpacing_ == 0 && static_cast<std::size_t>(row / checkpointSpacing_) == checkpointsSaved_)
        maker_.saveState(checkpoints_.template as<T>() + checkpointsSaved_++ * maker_.stateSize());
}

template <class T> void RollingRows<T>::dropWindow() const {
    for (A_long row = first_; row <= last_; ++row) unpublish(row);
    first_ = 0;
    last_ = -1;
}

// Never destroyed: a window may still go while the program exits.
SpareMemory &rollingRowMemory() {
    static SpareMemory *const instance = new SpareMemory({0, std::numeric_limits<std::size_t>::max(), kRollingRowMemoryBytes, false});
    return *instance;
}

// ---- the readers' posts -------------------------------------------------------

namespace {
// Which posts live threads hold. A thread takes one on its first read and
// gives it back when it ends; the post it leaves is kNoRow in every window.
std::mutex g_postsMutex;
bool g_postTaken[kReaderPosts] = {};

// The post of this thread: -1 before it has one, -2 where none was free.
thread_local int t_post VELTRIX_PROGRAM_TLS = -1;

// Reads made later while the thread ends (by other thread-local objects'
// destructors) go through the lock: no post is taken again.
struct PostRelease {
    ~PostRelease() {
        const int post = t_post;
        t_post = -2;
        if (post < 0) return;
        std::lock_guard lock(g_postsMutex);
        g_postTaken[post] = false;
    }
};

[[gnu::noinline]] int takePost() {
    thread_local PostRelease release; // gives the post back when the thread ends
    (void)release;
    std::lock_guard lock(g_postsMutex);
    t_post = -2;
    for (int post = 0; post < kReaderPosts; ++post)
        if (!g_postTaken[post]) {
            g_postTaken[post] = true;
            t_post = post;
            break;
        }
    return t_post;
}
} // namespace

int rollingReaderPost() {
    const int post = t_post;
    return post != -1 ? post : takePost();
}

template class RollingRows<std::uint64_t>;
template class RollingRows<double>;

} // namespace headless
