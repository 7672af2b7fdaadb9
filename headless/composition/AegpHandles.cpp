#include "headless/composition/AegpHandles.h"

#include <new>

namespace headless {

namespace {

// Every live handle of every owner.
std::mutex g_registryMutex;
std::unordered_map<const void *, AegpObject *> g_registry;

void enrol(AegpObject *object) {
    std::lock_guard lock(g_registryMutex);
    g_registry[object] = object;
}

void withdraw(const void *handle) {
    std::lock_guard lock(g_registryMutex);
    g_registry.erase(handle);
}

} // namespace

AegpHandles::AegpHandles(EffectInstance &owner) : owner_(owner) {}

AegpHandles::~AegpHandles() {
    std::lock_guard lock(mutex_);
    for (auto &entry : stable_) withdraw(entry.second.get());
    for (auto &entry : owned_) withdraw(entry.first);
}

void *AegpHandles::stable(AegpKind kind, int index) {
    std::lock_guard lock(mutex_);
    std::unique_ptr<AegpObject> &slot = stable_[{kind, index}];
    if (!slot) {
        slot.reset(new AegpObject{kind, &owner_, index, {}, 0});
        enrol(slot.get());
    }
    return slot.get();
}

AegpObject *AegpHandles::create(AegpKind kind, int index) {
    // Out of memory at any step is a null handle (the suites answer
    // A_Err_ALLOC), never an exception into the effect, nor a handle half
    // registered.
    try {
        auto object = std::make_unique<AegpObject>(AegpObject{kind, &owner_, index, {}, 0});
        AegpObject *raw = object.get();
        std::lock_guard lock(mutex_);
        owned_.emplace(raw, std::move(object));
        try {
            enrol(raw);
        } catch (...) {
            owned_.erase(raw);
            throw;
        }
        return raw;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

bool AegpHandles::release(const void *handle, AegpKind kind) {
    std::lock_guard lock(mutex_);
    auto it = owned_.find(handle);
    if (it == owned_.end() || it->second->kind != kind) return false;
    withdraw(handle);
    owned_.erase(it);
    return true;
}

std::size_t AegpHandles::live(AegpKind kind) const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto &entry : owned_)
        if (entry.second->kind == kind) ++count;
    return count;
}

AegpObject *AegpHandles::find(const void *handle, AegpKind kind) {
    if (!handle) return nullptr;
    std::lock_guard lock(g_registryMutex);
    auto it = g_registry.find(handle);
    if (it == g_registry.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

} // namespace headless
