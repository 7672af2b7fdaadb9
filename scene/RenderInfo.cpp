#include "scene/RenderInfo.h"

#include "host/aeMemory.h"
#include "imaging/TextureSampling.h"

#include <cstring>
#include <new>

// ---- vLightList ------------------------------------------------------------------

bool vLightList::append(vLight *light) {
    if (!light) return false;
    if (size_ == capacity_) {
        const size_t grown = capacity_ ? capacity_ * 2 : 1;
        vLight **storage = nullptr;
        try {
            storage = aeAllocator<vLight *>().allocate(grown);
        } catch (const std::bad_alloc &) {
            delete light; // the list owns what it is given, stored or not
            return false;
        }
        if (size_) std::memcpy(storage, items_, size_ * sizeof(vLight *));
        if (items_) aeAllocator<vLight *>().deallocate(items_, capacity_);
        items_ = storage;
        capacity_ = grown;
    }
    items_[size_++] = light;
    return true;
}

void vLightList::clear() {
    for (size_t i = 0; i < size_; ++i)
        delete items_[i]; // virtual: returns the block with AEAlignedFree
    if (items_) aeAllocator<vLight *>().deallocate(items_, capacity_);
    items_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

// ---- RenderInfoTemplate ------------------------------------------------------------

namespace {
// Serial 0 is never given out, so zeroed per-thread state matches no pass.
std::atomic<std::uint64_t> g_lastPassSerial{0};
std::uint64_t NextPassSerial() { return g_lastPassSerial.fetch_add(1, std::memory_order_relaxed) + 1; }
} // namespace

template <class Shape> void RenderInfoTemplate<Shape>::beginPass()
{
    passSerial = NextPassSerial();
    footprintBound = footprintBoundScale(*this);
    quotients.make(openFactor, textureHeight, shape.radii.getZ(), textureLayer.height);
}

template <class Shape>
RenderInfoTemplate<Shape>::RenderInfoTemplate(PF_InData *in_data)
    : inData(in_data), suites(in_data ? in_data->pica_basicP : nullptr), passSerial(NextPassSerial()) {
    // Every byte zero: a null first pointer means "no layer chosen".
    std::memset(&textureLayer, 0, sizeof textureLayer);
    std::memset(&reflectionLayer, 0, sizeof reflectionLayer);
}

template <class Shape> RenderInfoTemplate<Shape>::~RenderInfoTemplate() {
    // The lights and their list go first, while the suites are still held.
    lights.clear();
}

template class RenderInfoTemplate<Hyperboloid>;
