#include "headless/images/SpareMemory.h"

#include <iterator>
#include <new>

namespace headless {

void *SpareMemory::take(std::size_t bytes) {
    if (bytes >= limits_.fromBytes) {
        std::vector<Held> released; // freed after the lock
        {
            std::lock_guard lock(mutex_);
            for (auto it = held_.rbegin(); it != held_.rend(); ++it)
                if (it->bytes == bytes) {
                    void *block = it->block;
                    heldBytes_ -= bytes;
                    held_.erase(std::next(it).base());
                    return block;
                }
            if (limits_.missReleasesAll) {
                released.swap(held_);
                heldBytes_ = 0;
            }
        }
        for (const Held &h : released) ::operator delete(h.block);
    }
    return ::operator new(bytes);
}

void SpareMemory::give(void *block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes < limits_.fromBytes || bytes > limits_.maxBytes || limits_.maxBlocks == 0) {
        ::operator delete(block);
        return;
    }
    std::vector<void *> dropped; // the oldest, to make room; freed after the lock
    {
        std::lock_guard lock(mutex_);
        std::size_t oldest = 0, bytesLeft = heldBytes_;
        while (held_.size() - oldest >= limits_.maxBlocks || bytesLeft + bytes > limits_.maxBytes)
            bytesLeft -= held_[oldest++].bytes;
        try {
            // Both reserved first: nothing changes unless all of it can.
            held_.reserve(held_.size() - oldest + 1);
            dropped.reserve(oldest);
        } catch (const std::bad_alloc &) {
            ::operator delete(block); // no room to note it (under the lock: only a free)
            return;
        }
        for (std::size_t k = 0; k < oldest; ++k) dropped.push_back(held_[k].block);
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(oldest));
        held_.push_back({block, bytes});
        heldBytes_ = bytesLeft + bytes;
    }
    for (void *old : dropped) ::operator delete(old);
}

void SpareMemory::releaseAll() noexcept {
    std::vector<Held> released;
    {
        std::lock_guard lock(mutex_);
        released.swap(held_);
        heldBytes_ = 0;
    }
    for (const Held &h : released) ::operator delete(h.block);
}

std::size_t SpareMemory::blocks() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

std::size_t SpareMemory::heldBytes() const {
    std::lock_guard lock(mutex_);
    return heldBytes_;
}

} // namespace headless
