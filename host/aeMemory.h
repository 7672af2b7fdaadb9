// Host-backed memory. Every dynamic allocation of the effect comes from a host
// memory handle: a handle of size + 8 bytes, locked for the block's life, whose
// first 8 bytes hold the handle itself. Because the block carries its handle,
// an object's handle can be given to the host (global data) and the block can
// be freed from nothing but its address.
//
// Thread safety: usable only while a command context with a data block is
// open (see aeLibInit.h), and only on that command's thread; render threads
// never allocate.
#pragma once

#include "host/SDK.h"

#include <cstddef>
#include <new>
#include <string>

// Bytes in front of every AEMalloc block, holding its handle.
constexpr size_t kAEBlockHeaderSize = 8;

// A block of `size` bytes, 8-byte aligned; null when no context with a data
// block is open or when the host has no memory.
void *AEMalloc(size_t size);
// Returns a block from AEMalloc to the host. Does nothing for null, and
// nothing at all while no context with a data block is open (a block must be
// freed while the host is inside a command).
void AEFree(void *p);
// The host handle that owns an AEMalloc block; null for null.
PF_Handle getHandle(void *p);
// A block whose address is a multiple of `alignment` (a power of two), carved
// from an AEMalloc block of size + alignment + 7 bytes; the 8 bytes just below
// the returned address hold the AEMalloc block's address. Null when AEMalloc
// fails or `alignment` is not a power of two.
void *AEAlignedAlloc(size_t size, size_t alignment);
// Returns a block from AEAlignedAlloc. Does nothing for null.
void AEAlignedFree(void *p);

// Standard allocator over AEMalloc/AEFree. Throws std::bad_alloc when the host
// has no memory (or no context is open).
template <class T> struct aeAllocator {
    using value_type = T;
    aeAllocator() noexcept = default;
    template <class U> aeAllocator(const aeAllocator<U> &) noexcept {}
    T *allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void *p = AEMalloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { AEFree(p); }
    template <class U> bool operator==(const aeAllocator<U> &) const noexcept { return true; }
};

using aeString = std::basic_string<char, std::char_traits<char>, aeAllocator<char>>;
// Host text in UTF-16.
using aeUTF16String =
    std::basic_string<unsigned short, std::char_traits<unsigned short>, aeAllocator<unsigned short>>;

// Base of objects made on host memory: `new` draws from AEMalloc (null on
// failure, never throws; the constructor then does not run), `delete` returns
// the block with AEFree. Placement new constructs in a block from AEMalloc.
// Arrays of such objects are not supported.
class aeBase {
public:
    virtual ~aeBase() = default;
    static void *operator new(size_t size) noexcept { return AEMalloc(size); }
    static void operator delete(void *p) noexcept { AEFree(p); }
    static void *operator new(size_t, void *place) noexcept { return place; }
    static void operator delete(void *, void *) noexcept {}
    static void *operator new[](size_t) = delete;
    static void operator delete[](void *) = delete;
};

// The same for objects that need Align-byte alignment (AEAlignedAlloc /
// AEAlignedFree).
template <size_t Align> class aeAlignedBase {
    static_assert(Align >= 1 && (Align & (Align - 1)) == 0, "alignment must be a power of two");

public:
    virtual ~aeAlignedBase() = default;
    static void *operator new(size_t size) noexcept { return AEAlignedAlloc(size, Align); }
    static void operator delete(void *p) noexcept { AEAlignedFree(p); }
    // Chosen for derived types declared with a stricter alignment.
    static void *operator new(size_t size, std::align_val_t al) noexcept {
        size_t a = static_cast<size_t>(al);
        return AEAlignedAlloc(size, a > Align ? a : Align);
    }
    static void operator delete(void *p, std::align_val_t) noexcept { AEAlignedFree(p); }
    static void *operator new(size_t, void *place) noexcept { return place; }
    static void operator delete(void *, void *) noexcept {}
    static void *operator new[](size_t) = delete;
    static void operator delete[](void *) = delete;
};
