// SpareMemory: blocks of memory the host keeps after use, for the next
// request of the same size.
//
// A host renders frame after frame, and each frame asks for memory of the
// sizes the last one let go: its output and the layers an effect makes for
// itself (HostWorld), the rows of their tables' windows (RollingRows).
// Memory the process has written before costs nothing more to write again,
// while fresh memory costs the system a page fault for every page first
// written, on the thread that writes it. What is kept, and for how long, is
// each pool's Limits.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <limits>
#include <mutex>
#include <vector>

namespace headless {

class SpareMemory {
public:
    struct Limits {
        std::size_t fromBytes = 0; // smaller blocks are neither kept nor looked for
        std::size_t maxBlocks = std::numeric_limits<std::size_t>::max();
        std::size_t maxBytes = std::numeric_limits<std::size_t>::max();
        // A request of a size none of the blocks has lets them all go first,
        // so that blocks kept never add to what is held.
        bool missReleasesAll = false;
    };
    explicit SpareMemory(const Limits &limits) : limits_(limits) {}
    // Frees the blocks kept (blocks taken and not given back are the takers').
    ~SpareMemory() { releaseAll(); }
    SpareMemory(const SpareMemory &) = delete;
    SpareMemory &operator=(const SpareMemory &) = delete;

    // A block of `bytes` (aligned for any scalar): the latest kept at that
    // size, or new memory. Throws std::bad_alloc.
    void *take(std::size_t bytes);
    // Gives back a block take() returned for `bytes`: kept (the oldest going
    // to make room within the limits) or freed.
    void give(void *block, std::size_t bytes) noexcept;
    // Frees every block kept.
    void releaseAll() noexcept;
    std::size_t blocks() const;
    std::size_t heldBytes() const;

private:
    struct Held {
        void *block;
        std::size_t bytes;
    };
    const Limits limits_;
    mutable std::mutex mutex_;
    std::vector<Held> held_; // the latest given back last
    std::size_t heldBytes_ = 0;
};

// A block taken from a SpareMemory, given back when it goes.
class SpareBlock {
public:
    SpareBlock() = default;
    SpareBlock(SpareMemory &memory, std::size_t bytes) : memory_(&memory), data_(memory.take(bytes)), bytes_(bytes) {}
    ~SpareBlock() { reset(); }
    SpareBlock(SpareBlock &&other) noexcept : memory_(other.memory_), data_(other.data_), bytes_(other.bytes_) {
        other.data_ = nullptr;
    }
    SpareBlock &operator=(SpareBlock &&other) noexcept {
        if (this != &other) {
            reset();
            memory_ = other.memory_;
            data_ = other.data_;
            bytes_ = other.bytes_;
            other.data_ = nullptr;
        }
        return *this;
    }
    SpareBlock(const SpareBlock &) = delete;
    SpareBlock &operator=(const SpareBlock &) = delete;

    template <class T> T *as() const { return static_cast<T *>(data_); }

private:
    void reset() noexcept {
        if (data_) memory_->give(data_, bytes_);
        data_ = nullptr;
    }
    SpareMemory *memory_ = nullptr;
    void *data_ = nullptr;
    std::size_t bytes_ = 0;
};

} // namespace headless
