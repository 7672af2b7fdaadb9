// RowMemoryCache: memory for the rows of rolling windows (RollingRows.h),
// kept from one window to the next.
//
// A window lives as long as its world, a frame or so; the next frame's
// windows, over worlds of the same width, ask for blocks of the same sizes.
// Memory the process has written before costs nothing more to write again,
// while fresh memory costs the system a page fault for every page first
// written: on the thread making a row, while every other thread that needs
// the row waits for it. The cache keeps blocks given back, up to
// kHeldBytes in all, and hands them out again by size (as the host keeps the
// memory of its last image-sized worlds for the next ones, HostWorld.h).
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>

namespace headless {

class RowMemoryCache {
public:
    // The most the cache holds between windows.
    static constexpr std::size_t kHeldBytes = std::size_t{32} << 20;

    // A block of `bytes` (suitably aligned for any row value): one given back
    // earlier at that size, or new memory. Throws std::bad_alloc.
    static void *take(std::size_t bytes);
    // Gives back a block take() returned for `bytes`: kept for a later take,
    // or freed when the cache is full.
    static void give(void *block, std::size_t bytes) noexcept;
    // Bytes held for later takes now.
    static std::size_t heldBytes();
    // Frees every block held (as a host purging its caches).
    static void releaseAll() noexcept;
};

// A block from the cache, given back when it goes.
class RowBlock {
public:
    RowBlock() = default;
    explicit RowBlock(std::size_t bytes) : data_(RowMemoryCache::take(bytes)), bytes_(bytes) {}
    ~RowBlock() {
        if (data_) RowMemoryCache::give(data_, bytes_);
    }
    RowBlock(RowBlock &&other) noexcept : data_(other.data_), bytes_(other.bytes_) { other.data_ = nullptr; }
    RowBlock &operator=(RowBlock &&other) noexcept {
        if (this != &other) {
            if (data_) RowMemoryCache::give(data_, bytes_);
            data_ = other.data_;
            bytes_ = other.bytes_;
            other.data_ = nullptr;
        }
        return *this;
    }
    RowBlock(const RowBlock &) = delete;
    RowBlock &operator=(const RowBlock &) = delete;

    template <class T> T *as() const { return static_cast<T *>(data_); }

private:
    void *data_ = nullptr;
    std::size_t bytes_ = 0;
};

} // namespace headless
