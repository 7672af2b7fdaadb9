#include "headless/boundary/Worlds.h"

#include "headless/images/AreaTable.h"
#include "headless/boundary/Ledger.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <sstream>

namespace headless {

namespace {
// Register stamps are drawn from one process-wide sequence, so a memo made
// for one register (or one state of it) never matches another.
std::atomic<std::uint64_t> g_nextStamp{1};

std::uint64_t freshStamp() { return g_nextStamp.fetch_add(1, std::memory_order_relaxed); }

// AEGP world handles are numbers offset into a range no allocation uses, so
// they are never mistaken for (or dereferenced as) addresses.
constexpr std::uintptr_t kHandleBase = 0x57000000;

AEGP_WorldH handleOf(A_long number) {
    return reinterpret_cast<AEGP_WorldH>(kHandleBase + static_cast<std::uintptr_t>(number));
}

// 0 for anything that is not one of our handle numbers.
A_long numberOf(AEGP_WorldH handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value <= kHandleBase || value - kHandleBase > 0x7fffffff) return 0;
    return static_cast<A_long>(value - kHandleBase);
}

std::string describe(std::string_view function, std::string_view what, const void *address) {
    std::ostringstream text;
    text << function << ": " << what << ' ' << address;
    return text.str();
}

// Each render thread remembers the last few worlds it found.
struct Memo {
    std::uint64_t stamp = 0;
    const void *data = nullptr;
    const HostWorld *world = nullptr;
};
constexpr std::size_t kMemoSlots = 4;
thread_local std::array<Memo, kMemoSlots> t_memo;
thread_local std::size_t t_memoNext = 0;
} // namespace

Worlds::Worlds(Ledger &ledger) : ledger_(ledger), stamp_(freshStamp()) {}

Worlds::~Worlds() = default;

void Worlds::restamp() { stamp_.store(freshStamp(), std::memory_order_release); }

// ---- worlds made for the effect ---------------------------------------------------

PF_Err Worlds::create(Maker maker, PixelDepth depth, A_long width, A_long height, WorldFill fill,
                      HostWorld *&world, AEGP_WorldH &handle, const RowRanges &ranges) {
    world = nullptr;
    handle = nullptr;
    if (width < 1 || height < 1 || width > HostWorld::kMaxSide || height > HostWorld::kMaxSide)
        return PF_Err_BAD_CALLBACK_PARAM;

    std::unique_ptr<HostWorld> made;
    try {
        made = std::make_unique<HostWorld>(depth, width, height, fill, ranges);
    } catch (const std::bad_alloc &) {
        return PF_Err_OUT_OF_MEMORY;
    }
    made->setWriteable(true);

    std::lock_guard lock(mutex_);
    const A_long number = maker == Maker::AegpWorldSuite ? nextHandle_++ : 0;
    const void *data = made->effectWorld().data;
    byPixels_[data] = Entry{made.get(), WorldAccess::EffectWrites, true, maker, number};
    if (number) aegpHandles_[number] = data;
    world = made.get();
    handle = number ? handleOf(number) : nullptr;
    owned_.push_back(std::move(made));
    ledger_.add(Ledger::kHostWorlds);
    restamp();
    return PF_Err_NONE;
}

HostWorld *Worlds::byHandle(AEGP_WorldH handle, std::string_view function, bool quiet) {
    std::lock_guard lock(mutex_);
    const A_long number = numberOf(handle);
    auto it = aegpHandles_.find(number);
    if (it != aegpHandles_.end()) return byPixels_.at(it->second).world;
    if (!quiet) {
        const bool stale = number > 0 && number < nextHandle_;
        ledger_.problem(describe(function, stale ? "world handle already disposed of" : "unknown world handle",
                                 handle));
    }
    return nullptr;
}

void Worlds::retire(const std::map<const void *, Entry>::iterator &it) {
    HostWorld *world = it->second.world;
    for (auto owned = owned_.begin(); owned != owned_.end(); ++owned) {
        if (owned->get() != world) continue;
        retired_.push_back(std::move(*owned));
        owned_.erase(owned);
        break;
    }
    if (it->second.handle) aegpHandles_.erase(it->second.handle);
    byPixels_.erase(it);
    ledger_.remove(Ledger::kHostWorlds);
    restamp();
}

bool Worlds::dispose(AEGP_WorldH handle, std::string_view function) {
    if (!byHandle(handle, function)) return false;
    std::lock_guard lock(mutex_);
    auto number = aegpHandles_.find(numberOf(handle));
    if (number == aegpHandles_.end()) return false; // disposed of meanwhile by another thread
    retire(byPixels_.find(number->second));
    return true;
}

bool Worlds::dispose(const PF_EffectWorld &desc, std::string_view function) {
    std::lock_guard lock(mutex_);
    auto it = byPixels_.find(desc.data);
    if (!desc.data || it == byPixels_.end()) {
        ledger_.problem(describe(function, desc.data ? "unknown world with pixels at" : "world without pixels (disposed of already?) at",
                                 desc.data));
        return false;
    }
    const Entry &entry = it->second;
    if (!entry.ours || entry.maker != Maker::PfWorldSuite) {
        ledger_.problem(describe(function, entry.ours ? "world made by AEGP_New, pixels at" : "world the host owns, pixels at",
                                 desc.data));
        return false;
    }
    if (!entry.world->describedBy(desc)) {
        ledger_.problem(describe(function, "description does not match the world with pixels at", desc.data));
        return false;
    }
    retire(it);
    return true;
}

std::size_t Worlds::liveCount() const {
    std::lock_guard lock(mutex_);
    return owned_.size();
}

bool Worlds::effectHasRollingWorld() const {
    std::lock_guard lock(mutex_);
    return std::any_of(owned_.begin(), owned_.end(),
                       [](const std::unique_ptr<HostWorld> &world) { return AreaTable::rollsBySize(*world); });
}

long Worlds::effectRollingTableBuilds() const {
    std::lock_guard lock(mutex_);
    long builds = 0;
    for (const std::unique_ptr<HostWorld> &world : owned_)
        if (AreaTable::rollsBySize(*world)) builds += world->tableBuilds();
    return builds;
}

// ---- published worlds -------------------------------------------------------------

Worlds::Publication Worlds::publish(HostWorld &world, WorldAccess access) {
    if (access == WorldAccess::EffectWrites) world.setWriteable(true);
    std::lock_guard lock(mutex_);
    byPixels_[world.effectWorld().data] = Entry{&world, access, false, Maker::PfWorldSuite, 0};
    restamp();
    return Publication(this, &world);
}

void Worlds::withdraw(const HostWorld *world) {
    std::lock_guard lock(mutex_);
    auto it = byPixels_.find(world->effectWorld().data);
    if (it == byPixels_.end() || it->second.world != world || it->second.ours) return;
    byPixels_.erase(it);
    restamp();
}

Worlds::Publication::Publication(Publication &&other) noexcept : worlds_(other.worlds_), world_(other.world_) {
    other.worlds_ = nullptr;
    other.world_ = nullptr;
}

Worlds::Publication &Worlds::Publication::operator=(Publication &&other) noexcept {
    if (this != &other) {
        withdraw();
        worlds_ = other.worlds_;
        world_ = other.world_;
        other.worlds_ = nullptr;
        other.world_ = nullptr;
    }
    return *this;
}

Worlds::Publication::~Publication() { withdraw(); }

void Worlds::Publication::withdraw() {
    if (worlds_ && world_) worlds_->withdraw(world_);
    worlds_ = nullptr;
    world_ = nullptr;
}

// ---- finding -------------------------------------------------------------------------

const HostWorld *Worlds::find(const PF_EffectWorld &desc) const {
    const std::uint64_t stamp = stamp_.load(std::memory_order_acquire);
    for (const Memo &memo : t_memo)
        if (memo.stamp == stamp && memo.data == desc.data)
            return memo.world && memo.world->describedBy(desc) ? memo.world : nullptr;

    const HostWorld *world = nullptr;
    std::uint64_t current;
    {
        std::lock_guard lock(mutex_);
        current = stamp_.load(std::memory_order_relaxed);
        auto it = byPixels_.find(desc.data);
        if (it != byPixels_.end()) world = it->second.world;
    }
    t_memo[t_memoNext] = Memo{current, desc.data, world};
    t_memoNext = (t_memoNext + 1) % kMemoSlots;
    return world && world->describedBy(desc) ? world : nullptr;
}

// ---- boundaries ---------------------------------------------------------------------

void Worlds::boundary(bool reclaim) {
    std::lock_guard lock(mutex_);
    for (auto &[data, entry] : byPixels_)
        if (entry.access == WorldAccess::EffectWrites) entry.world->pixelsChanged();
    if (!reclaim) return;
    retired_.clear();
    for (auto &[data, entry] : byPixels_) entry.world->dropStaleTables();
}

void Worlds::commandBoundary() { boundary(passDepth_.load() == 0); }

void Worlds::passBegins() { boundary(passDepth_.fetch_add(1) == 0); }

void Worlds::passEnds() { boundary(passDepth_.fetch_sub(1) == 1); }

void Worlds::problemOnce(const std::string &text) {
    std::lock_guard lock(mutex_);
    if (problemsSeen_[text]++ == 0) ledger_.problem(text);
}

} // namespace headless
