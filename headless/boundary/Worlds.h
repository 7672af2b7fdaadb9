// Worlds: the host's register of the images the effect can reach.
//
// Two kinds of world are in it:
// - Worlds made for the effect through the world suites ("AEGP World Suite" 3
//   and "PF World Suite" 2, WorldSuites.h). The register owns them, counts
//   each live one under Ledger::kHostWorlds and frees what the effect left
//   behind when it is destroyed (without touching the ledger). AEGP worlds are
//   known by handle: opaque numbers, never reused, so a stale handle is told
//   from a live one. PF worlds are known by their description's pixels.
//   Disposing of a world the register does not know, or twice, or through the
//   other suite, is a problem in the ledger and an error, never a crash.
// - Worlds the host owns elsewhere (layer pixels, smart-render outputs), made
//   known with publish() for as long as the returned Publication lives.
//
// The samplers and PF_GetPixelFormat find a world from the description the
// effect hands them (which may be a copy) by its data address, and accept it
// only if its size and rowbytes match too.
//
// Pixels the effect writes. The effect writes its own worlds (and outputs)
// through their descriptions without telling anyone, so at every pass and
// command boundary the register moves on the pixel generation of every world
// the effect may write (HostWorld.h): an area table built before the effect
// wrote is never used after. The effect's writes are seen from the next
// boundary on: the start or end of an iterate_generic pass, or a command.
//
// Lifetime while samplers run. A sampler finds its world without a lock (a
// per-thread memo checked against the register's stamp, which changes with
// every change of membership), so a world the effect disposes of is not freed
// at once but retired, together with stale area tables, and freed at the next
// boundary where no pass runs. Host code withdrawing a published world does so
// between passes.
//
// Thread safety: every member may be called from any thread; find() is meant
// for render threads and takes no lock in the common case. The boundary calls
// belong to the thread that runs commands.
#pragma once

#include "headless/images/HostWorld.h"
#include "headless/SdkHeaders.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace headless {

class Ledger;

// Whether the effect may write a world's pixels.
enum class WorldAccess { ReadOnly, EffectWrites };

class Worlds {
public:
    // Which suite made a world for the effect.
    enum class Maker { AegpWorldSuite, PfWorldSuite };

    explicit Worlds(Ledger &ledger);
    ~Worlds();
    Worlds(const Worlds &) = delete;
    Worlds &operator=(const Worlds &) = delete;

    // ---- worlds made for the effect ----

    // Makes a world for the effect (the suites check their faults first).
    // Fails with PF_Err_BAD_CALLBACK_PARAM for a size outside
    // [1, HostWorld::kMaxSide] or PF_Err_OUT_OF_MEMORY. On success `world` is
    // the new world and, for AEGP worlds, `handle` its handle. A large world
    // is filled through `ranges` where given (Host::rowRanges).
    PF_Err create(Maker maker, PixelDepth depth, A_long width, A_long height, WorldFill fill,
                  HostWorld *&world, AEGP_WorldH &handle, const RowRanges &ranges = {});

    // The live AEGP world of `handle`, or null (recorded as a problem of
    // `function` unless `quiet`).
    HostWorld *byHandle(AEGP_WorldH handle, std::string_view function, bool quiet = false);

    // Disposal through each suite; false (and a problem of `function`) for
    // an unknown, already disposed or other-suite world.
    bool dispose(AEGP_WorldH handle, std::string_view function);
    bool dispose(const PF_EffectWorld &desc, std::string_view function);

    // Worlds made for the effect and not yet disposed of.
    std::size_t liveCount() const;

    // Whether a world made for the effect is large enough for its area table
    // to be held as a rolling window of rows. The effect's own images (the
    // layers of a blur) are sampled about where they are written, so such a
    // window follows the threads of the pass that reads them.
    bool effectHasRollingWorld() const;
    // How many area tables those worlds have had built, all told. The
    // boundary before a pass moves their pixels on, so a pass that moves this
    // count read one of them through the samplers.
    long effectRollingTableBuilds() const;

    // ---- worlds the host owns elsewhere ----

    class Publication {
    public:
        Publication() = default;
        Publication(Publication &&other) noexcept;
        Publication &operator=(Publication &&other) noexcept;
        ~Publication();
        // Withdraws the world now (also done by the destructor).
        void withdraw();

    private:
        friend class Worlds;
        Publication(Worlds *worlds, const HostWorld *world) : worlds_(worlds), world_(world) {}
        Worlds *worlds_ = nullptr;
        const HostWorld *world_ = nullptr;
    };
    // Makes `world` reachable by samplers and PF_GetPixelFormat until the
    // publication ends; the world must outlive it. EffectWrites also marks
    // the description writeable.
    [[nodiscard]] Publication publish(HostWorld &world, WorldAccess access);

    // ---- finding worlds ----

    // The world whose pixels `desc` describes, or null when there is none or
    // the description does not match it (size, rowbytes). The pointer stays
    // valid at least until the next boundary.
    const HostWorld *find(const PF_EffectWorld &desc) const;

    // The register's stamp: it changes whenever a world joins or leaves (and
    // no two registers, or states of one, share a stamp). A world found while
    // the stamp was s is the one its description names, and stays alive until
    // the next boundary, for as long as the stamp is still s. Lock-free.
    std::uint64_t stamp() const { return stamp_.load(std::memory_order_acquire); }

    // ---- boundaries (called by the Host) ----

    void commandBoundary();
    void passBegins();
    void passEnds();

    // Records `text` as a problem in the ledger the first time it comes up;
    // later occurrences are only counted (a render may repeat one mistake
    // for every pixel).
    void problemOnce(const std::string &text);

private:
    struct Entry {
        HostWorld *world;
        WorldAccess access;
        bool ours;      // made for the effect
        Maker maker;    // when ours
        A_long handle;  // AEGP handle number, 0 for others
    };

    // Under mutex_: membership changed, so per-thread memos must not be used.
    void restamp();
    // Under mutex_: the effect may have written its worlds; with no pass
    // running, free what was retired.
    void boundary(bool reclaim);
    void retire(const std::map<const void *, Entry>::iterator &it); // under mutex_
    void withdraw(const HostWorld *world);

    Ledger &ledger_;
    mutable std::mutex mutex_;
    std::map<const void *, Entry> byPixels_;            // every world, by data address
    std::map<A_long, const void *> aegpHandles_;        // live AEGP handle number -> data address
    std::vector<std::unique_ptr<HostWorld>> owned_;     // the effect's live worlds
    std::vector<std::unique_ptr<HostWorld>> retired_;   // disposed, freed at a boundary
    A_long nextHandle_ = 1;
    std::atomic<std::uint64_t> stamp_;
    std::atomic<int> passDepth_{0};
    std::map<std::string, long> problemsSeen_;
};

} // namespace headless
