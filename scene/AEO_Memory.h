// A host memory handle that the effect was handed and must free (for example
// the UTF-16 names the host returns). The handle is freed with the memory
// suite when the wrapper dies, whatever errors happened before; if it is still
// locked then, it is unlocked first.
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Memory : public ObjectBase {
public:
    // Takes ownership of `handle` (null is allowed and owns nothing).
    explicit Memory(AEGP_MemHandle handle);
    ~Memory() override;

    // Locks the handle and returns its contents; null after an error.
    // Locking a locked handle returns the same address without a host call.
    void *Lock();
    // Unlocks a handle locked by Lock(); does nothing otherwise.
    void Unlock();
    // Size of the block in bytes; 0 after an error.
    AEGP_MemSize GetSize();

    AEGP_MemHandle handle() const { return handle_; }

private:
    AEGP_MemHandle handle_;
    bool locked_ = false;
    void *contents_ = nullptr;
    Suite<AEGP_MemorySuite1> memory_;
};

} // namespace AEO
