// Host-backed memory. Every dynamic allocation of the effect comes from a host
// memory handle: a handle of size + 8 bytes, locked for the block's life, whose
// first 8 bytes hold the handle itself. Only usable while a command context
// with a data block is open (see aeLibInit.h), and only on that command's
// thread; render threads never allocate.
#pragma once

#include "host/SDK.h"

#include <cstddef>
#include <new>
#include <string>

void *AEMalloc(size_t size);
void AEFree(void *p);
PF_Handle getHandle(void *p);
void *AEAlignedAlloc(size_t size, size_t alignment);
void AEAlignedFree(void *p);

// Standard allocator over AEMalloc/AEFree. Throws std::bad_alloc when the host
// has no memory (or no context is open).
template <class T> struct aeAllocator {
    using value_type = T;
    aeAllocator() noexcept = default;
    template <class U> aeAllocator(const aeAllocator<U> &) noexcept {}
    T *allocate(size_t n) {
        void *p = AEMalloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { AEFree(p); }
    template <class U> bool operator==(const aeAllocator<U> &) const noexcept { return true; }
};

using aeString = std::basic_string<char, std::char_traits<char>, aeAllocator<char>>;
using aeUTF16String =
    std::basic_string<unsigned short, std::char_traits<unsigned short>, aeAllocator<unsigned short>>;

// Base of objects made on host memory: `new` draws from AEMalloc (null on
// failure, never throws), `delete` returns the block with AEFree.
class aeBase {
public:
    virtual ~aeBase() = default;
    static void *operator new(size_t size) noexcept { return AEMalloc(size); }
    static void operator delete(void *p) noexcept { AEFree(p); }
};

// The same for objects that need Align-byte alignment.
template <size_t Align> class aeAlignedBase {
public:
    virtual ~aeAlignedBase() = default;
    static void *operator new(size_t size) noexcept { return AEAlignedAlloc(size, Align); }
    static void operator delete(void *p) noexcept { AEAlignedFree(p); }
};
