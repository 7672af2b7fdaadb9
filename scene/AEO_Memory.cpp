#include "scene/AEO_Memory.h"

namespace AEO {

Memory::Memory(AEGP_MemHandle handle) : handle_(handle) { requireHandle(handle); }

Memory::~Memory() {
    if (!handle_) return;
    // The handle is ours whatever happened before: give it back.
    setErr(PF_Err_NONE);
    Unlock();
    release(memory_, &AEGP_MemorySuite1::AEGP_FreeMemHandle, handle_);
}

void *Memory::Lock() {
    if (locked_) return contents_;
    void *p = nullptr;
    if (!call(memory_, &AEGP_MemorySuite1::AEGP_LockMemHandle, handle_, &p)) return nullptr;
    locked_ = true;
    contents_ = p;
    return p;
}

void Memory::Unlock() {
    if (!locked_) return;
    locked_ = false;
    contents_ = nullptr;
    call(memory_, &AEGP_MemorySuite1::AEGP_UnlockMemHandle, handle_);
}

AEGP_MemSize Memory::GetSize() {
    AEGP_MemSize size = 0;
    if (!call(memory_, &AEGP_MemorySuite1::AEGP_GetMemHandleSize, handle_, &size)) return 0;
    return size;
}

} // namespace AEO
