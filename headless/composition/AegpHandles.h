// The AEGP handles the headless host hands to the effect: compositions,
// items, layers, effect references, streams and memory handles.
//
// A handle is the address of an `AegpObject` that says what it stands for
// (its kind, the effect instance it belongs to and an index: the layer index
// for layers and layer source items, -1 for the composition and its item,
// the parameter index for effect streams). Every handle is registered
// process-wide, so a call can tell a live handle of the right kind from a
// null, foreign, stale or wrong-kind one without dereferencing it.
//
// Two lifetimes:
//   - stable handles (compositions, items, layers) are made on first request
//     and stay the same for the owner's life: asking twice for layer 3 gives
//     the same AEGP_LayerH. A layer handle names a position in the layer list.
//   - owned handles (effect references, streams, memory) are made for the
//     effect, which must give each back (release); the AEGP suites count
//     them in the ledger.
// Destroying the owner forgets all of its handles; a later call with one is
// an unknown handle.
//
// Thread safety: every member may be called from any thread; an AegpObject
// returned by find() stays valid until it is released or its owner dies,
// which happens only on the command thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace headless {

class EffectInstance;

enum class AegpKind { Composition, Item, Layer, EffectRef, Stream, Memory };

struct AegpObject {
    AegpKind kind;
    EffectInstance *owner;
    int index;
    std::vector<unsigned char> bytes; // memory handles: the block
    int locks = 0;                    // memory handles: lock count
};

class AegpHandles {
public:
    explicit AegpHandles(EffectInstance &owner);
    ~AegpHandles();
    AegpHandles(const AegpHandles &) = delete;
    AegpHandles &operator=(const AegpHandles &) = delete;

    // The stable handle of (kind, index).
    void *stable(AegpKind kind, int index);
    // A new owned handle; null only when memory runs out.
    AegpObject *create(AegpKind kind, int index);
    // Releases an owned handle of this owner; false when `handle` is not one.
    bool release(const void *handle, AegpKind kind);
    // Owned handles of `kind` not yet released.
    std::size_t live(AegpKind kind) const;

    // The live handle `handle` of `kind`, of any owner; null when there is none.
    static AegpObject *find(const void *handle, AegpKind kind);

private:
    EffectInstance &owner_;
    mutable std::mutex mutex_;
    std::map<std::pair<AegpKind, int>, std::unique_ptr<AegpObject>> stable_;
    std::unordered_map<const void *, std::unique_ptr<AegpObject>> owned_;
};

} // namespace headless
