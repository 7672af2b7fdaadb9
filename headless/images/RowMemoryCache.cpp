#include "headless/images/RowMemoryCache.h"

#include <mutex>
#include <new>
#include <vector>

namespace headless {

namespace {

struct Held {
    void *block;
    std::size_t bytes;
};

struct Cache {
    std::mutex mutex;
    std::vector<Held> blocks; // the latest given back last
    std::size_t bytes = 0;
};

// Never destroyed: windows that end while the program exits still give
// their blocks back to it.
Cache &cache() {
    static Cache *const instance = new Cache;
    return *instance;
}

} // namespace

void *RowMemoryCache::take(std::size_t bytes) {
    Cache &c = cache();
    {
        std::lock_guard lock(c.mutex);
        for (auto it = c.blocks.rbegin(); it != c.blocks.rend(); ++it)
            if (it->bytes == bytes) {
                void *block = it->block;
                c.bytes -= bytes;
                c.blocks.erase(std::next(it).base());
                return block;
            }
    }
    return ::operator new(bytes);
}

void RowMemoryCache::give(void *block, std::size_t bytes) noexcept {
    Cache &c = cache();
    {
        std::lock_guard lock(c.mutex);
        if (c.bytes + bytes <= kHeldBytes) {
            try {
                c.blocks.push_back({block, bytes});
                c.bytes += bytes;
                return;
            } catch (const std::bad_alloc &) {
                // No room to note it: freed below.
            }
        }
    }
    ::operator delete(block);
}

void RowMemoryCache::releaseAll() noexcept {
    Cache &c = cache();
    std::vector<Held> blocks;
    {
        std::lock_guard lock(c.mutex);
        blocks.swap(c.blocks);
        c.bytes = 0;
    }
    for (const Held &held : blocks) ::operator delete(held.block);
}

std::size_t RowMemoryCache::heldBytes() {
    Cache &c = cache();
    std::lock_guard lock(c.mutex);
    return c.bytes;
}

} // namespace headless
