// Suites: the registry of function tables the host offers by (name, version),
// and the basic suite through which the effect acquires and releases them.
//
// Later parts of the host register their tables here, e.g.
//     host.suites().add("AEGP World Suite", 3, &worldSuiteTable);
// The table must outlive the registry entry. Acquiring an unknown suite (or a
// known one under an armed fault on service::kAcquireSuite) returns
// kSPSuiteNotFoundError and a null suite. The ledger counts outstanding
// acquisitions per (name, version); a release without an outstanding
// acquisition is recorded as a problem and answered with kSPBadParameterError.
//
// Thread safety: every member may be called from any thread at any time
// (render threads acquire sampling suites while a frame is traced).
#pragma once

#include "headless/SdkHeaders.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace headless {

class Ledger;
class Faults;

// Basic-suite error codes (four-character codes, as the basic suite reports them).
inline constexpr SPErr kSPSuiteNotFoundError = ('S' << 24) | ('!' << 16) | ('F' << 8) | 'd';
inline constexpr SPErr kSPBadParameterError = ('P' << 24) | ('a' << 16) | ('r' << 8) | '!';
inline constexpr SPErr kSPOutOfMemoryError = -108;
inline constexpr SPErr kSPUnimplementedError = ('!' << 24) | ('I' << 16) | ('M' << 8) | 'P';

class SuiteRegistry {
public:
    SuiteRegistry(Ledger &ledger, Faults &faults);
    SuiteRegistry(const SuiteRegistry &) = delete;
    SuiteRegistry &operator=(const SuiteRegistry &) = delete;

    // Offers `table` under (name, version), replacing an earlier table there.
    void add(std::string_view name, A_long version, const void *table);
    // Withdraws (name, version); later acquisitions of it fail.
    void remove(std::string_view name, A_long version);
    bool contains(std::string_view name, A_long version) const;

    // The basic suite's AcquireSuite / ReleaseSuite for this registry.
    SPErr acquire(const char *name, A_long version, const void **suite);
    SPErr release(const char *name, A_long version);

    // Acquisitions of (name, version) not yet released.
    long outstanding(std::string_view name, A_long version) const;

    // The basic suite's plain memory blocks. Freeing an unknown block is a
    // problem and kSPBadParameterError.
    SPErr allocateBlock(size_t size, void **block);
    SPErr freeBlock(void *block);
    SPErr reallocateBlock(void *block, size_t newSize, void **newBlock);

    // Frees the blocks still allocated (without touching the ledger).
    ~SuiteRegistry();

private:
    using Key = std::pair<std::string, A_long>;

    Ledger &ledger_;
    Faults &faults_;
    mutable std::mutex mutex_;
    std::map<Key, const void *> tables_;
    std::map<Key, long> outstanding_;
    std::map<void *, size_t> blocks_;
};

// The basic suite the host hands out in `in_data->pica_basicP`. Its functions
// carry no context, so they act on Host::current(); without a current host
// every acquisition fails. AllocateBlock / FreeBlock / ReallocateBlock are
// plain heap blocks counted in the ledger as Ledger::kBasicBlocks.
SPBasicSuite *basicSuite();

} // namespace headless
