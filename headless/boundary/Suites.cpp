#include "headless/boundary/Suites.h"

#include "headless/boundary/Faults.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/Ledger.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace headless {

SuiteRegistry::SuiteRegistry(Ledger &ledger, Faults &faults) : ledger_(ledger), faults_(faults) {}

SuiteRegistry::~SuiteRegistry() {
    for (auto &entry : blocks_) std::free(entry.first);
}

void SuiteRegistry::add(std::string_view name, A_long version, const void *table) {
    std::lock_guard lock(mutex_);
    tables_[Key(std::string(name), version)] = table;
}

void SuiteRegistry::remove(std::string_view name, A_long version) {
    std::lock_guard lock(mutex_);
    tables_.erase(Key(std::string(name), version));
}

bool SuiteRegistry::contains(std::string_view name, A_long version) const {
    std::lock_guard lock(mutex_);
    return tables_.count(Key(std::string(name), version)) != 0;
}

SPErr SuiteRegistry::acquire(const char *name, A_long version, const void **suite) {
    if (!suite) {
        ledger_.problem("AcquireSuite: null result pointer");
        return kSPBadParameterError;
    }
    *suite = nullptr;
    if (!name) {
        ledger_.problem("AcquireSuite: null suite name");
        return kSPBadParameterError;
    }
    if (faults_.check(service::kAcquireSuite, name) != PF_Err_NONE) return kSPSuiteNotFoundError;

    std::lock_guard lock(mutex_);
    Key key(name, version);
    auto it = tables_.find(key);
    if (it == tables_.end() || !it->second) return kSPSuiteNotFoundError;
    *suite = it->second;
    ++outstanding_[key];
    ledger_.add(Ledger::suiteKey(name, version));
    return kSPNoError;
}

SPErr SuiteRegistry::release(const char *name, A_long version) {
    if (!name) {
        ledger_.problem("ReleaseSuite: null suite name");
        return kSPBadParameterError;
    }
    std::lock_guard lock(mutex_);
    auto it = outstanding_.find(Key(name, version));
    if (it == outstanding_.end() || it->second == 0) {
        ledger_.problem("ReleaseSuite: \"" + std::string(name) + "\" v" +
                        std::to_string(version) + " released without an acquisition");
        return kSPBadParameterError;
    }
    --it->second;
    ledger_.remove(Ledger::suiteKey(name, version));
    return kSPNoError;
}

long SuiteRegistry::outstanding(std::string_view name, A_long version) const {
    std::lock_guard lock(mutex_);
    auto it = outstanding_.find(Key(std::string(name), version));
    return it == outstanding_.end() ? 0 : it->second;
}

SPErr SuiteRegistry::allocateBlock(size_t size, void **block) {
    if (!block) return kSPBadParameterError;
    *block = std::malloc(size > 0 ? size : 1);
    if (!*block) return kSPOutOfMemoryError;
    std::lock_guard lock(mutex_);
    blocks_[*block] = size;
    ledger_.add(Ledger::kBasicBlocks);
    return kSPNoError;
}

SPErr SuiteRegistry::freeBlock(void *block) {
    if (!block) return kSPNoError;
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
        std::ostringstream text;
        text << "FreeBlock: unknown block " << block;
        ledger_.problem(text.str());
        return kSPBadParameterError;
    }
    blocks_.erase(it);
    std::free(block);
    ledger_.remove(Ledger::kBasicBlocks);
    return kSPNoError;
}

SPErr SuiteRegistry::reallocateBlock(void *block, size_t newSize, void **newBlock) {
    if (!newBlock) return kSPBadParameterError;
    if (!block) return allocateBlock(newSize, newBlock);
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
        std::ostringstream text;
        text << "ReallocateBlock: unknown block " << block;
        ledger_.problem(text.str());
        *newBlock = nullptr;
        return kSPBadParameterError;
    }
    void *moved = std::realloc(block, newSize > 0 ? newSize : 1);
    if (!moved) {
        *newBlock = nullptr; // the old block stays allocated, as with realloc
        return kSPOutOfMemoryError;
    }
    blocks_.erase(it);
    blocks_[moved] = newSize;
    *newBlock = moved;
    return kSPNoError;
}

// ---- the basic suite ------------------------------------------------------------

namespace {

SPErr acquireSuite(const char *name, A_long version, const void **suite) {
    Host *host = Host::current();
    if (!host) {
        if (suite) *suite = nullptr;
        return kSPSuiteNotFoundError;
    }
    return host->suites().acquire(name, version, suite);
}

SPErr releaseSuite(const char *name, A_long version) {
    Host *host = Host::current();
    return host ? host->suites().release(name, version) : kSPBadParameterError;
}

A_Boolean isEqual(const char *token1, const char *token2) {
    if (!token1 || !token2) return token1 == token2;
    return std::strcmp(token1, token2) == 0;
}

SPErr allocateBlock(size_t size, void **block) {
    Host *host = Host::current();
    if (!host) {
        if (block) *block = nullptr;
        return kSPOutOfMemoryError;
    }
    return host->suites().allocateBlock(size, block);
}

SPErr freeBlock(void *block) {
    Host *host = Host::current();
    return host ? host->suites().freeBlock(block) : kSPBadParameterError;
}

SPErr reallocateBlock(void *block, size_t newSize, void **newBlock) {
    Host *host = Host::current();
    if (!host) {
        if (newBlock) *newBlock = nullptr;
        return kSPBadParameterError;
    }
    return host->suites().reallocateBlock(block, newSize, newBlock);
}

SPErr undefined() { return kSPUnimplementedError; }

SPBasicSuite g_basicSuite = {acquireSuite, releaseSuite,    isEqual,  allocateBlock,
                             freeBlock,    reallocateBlock, undefined};

} // namespace

SPBasicSuite *basicSuite() { return &g_basicSuite; }

} // namespace headless
