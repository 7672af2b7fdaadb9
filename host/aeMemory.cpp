#include "host/aeMemory.h"

#include "host/aeLibInit.h"

#include <cstdint>
#include <cstring>

namespace {
constexpr size_t kHeader = kAEBlockHeaderSize; // the owning handle, in front of the caller's bytes
static_assert(sizeof(PF_Handle) <= kHeader && sizeof(void *) <= kHeader);

// The host's utility callbacks of the current command, or null when no
// context with a data block is open.
const PF_UtilCallbacks *currentUtils() {
    const aeLibInit *context = aeLibInit::_current;
    const PF_InData *in_data = context ? context->getInData() : nullptr;
    return in_data ? in_data->utils : nullptr;
}

template <class T> T readHeader(const void *p) {
    T value;
    std::memcpy(&value, static_cast<const char *>(p) - kHeader, sizeof(T));
    return value;
}

template <class T> void writeHeader(void *p, T value) {
    std::memcpy(static_cast<char *>(p) - kHeader, &value, sizeof(T));
}
} // namespace

void *AEMalloc(size_t size) {
    const PF_UtilCallbacks *utils = currentUtils();
    if (!utils || size > static_cast<size_t>(-1) - kHeader) return nullptr;

    PF_Handle handle = utils->host_new_handle(size + kHeader);
    if (!handle) return nullptr;
    void *block = utils->host_lock_handle(handle);
    if (!block) {
        if (utils->host_dispose_handle) utils->host_dispose_handle(handle);
        return nullptr;
    }
    void *p = static_cast<char *>(block) + kHeader;
    writeHeader(p, handle);
    return p;
}

void AEFree(void *p) {
    const PF_UtilCallbacks *utils = currentUtils();
    if (!p || !utils) return;
    PF_Handle handle = readHeader<PF_Handle>(p);
    if (utils->host_unlock_handle) utils->host_unlock_handle(handle);
    if (utils->host_dispose_handle) utils->host_dispose_handle(handle);
}

PF_Handle getHandle(void *p) { return p ? readHeader<PF_Handle>(p) : nullptr; }

void *AEAlignedAlloc(size_t size, size_t alignment) {
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) return nullptr;
    const size_t slack = alignment + kHeader - 1;
    if (size > static_cast<size_t>(-1) - slack) return nullptr;

    void *block = AEMalloc(size + slack);
    if (!block) return nullptr;
    // The largest multiple of the alignment not above block + alignment + 7:
    // at least 8 bytes above the block (room for the back pointer), and the
    // caller's bytes end no later than the block does.
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t aligned = (start + slack) & ~(static_cast<std::uintptr_t>(alignment) - 1);
    void *p = reinterpret_cast<void *>(aligned);
    writeHeader(p, block);
    return p;
}

void AEAlignedFree(void *p) {
    if (!p) return;
    AEFree(readHeader<void *>(p));
}
