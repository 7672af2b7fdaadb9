// Host-backed memory: blocks in locked host handles, the aligned carving, the
// allocation-aware types, and the rule that memory needs an open context.

#include "headless/boundary/Host.h"
#include "host/aeLibInit.h"
#include "host/aeMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using headless::Ledger;

std::uintptr_t address(const void *p) { return reinterpret_cast<std::uintptr_t>(p); }

// Runs `body` in a command of a fresh headless host with an open context,
// then checks that the host got everything back.
template <class F> void inContext(F &&body) {
    headless::Host host;
    host.run(PF_Cmd_RENDER, [&] {
        {
            aeLibInit context(PF_Cmd_RENDER, 0, host.inData());
            body(host);
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

struct Counted : aeBase {
    explicit Counted(int *destroyed) : destroyed_(destroyed) {}
    ~Counted() override { ++*destroyed_; }
    int *destroyed_;
};

struct AlignedRecord : aeAlignedBase<16> {
    alignas(16) float v[4] = {1, 2, 3, 4};
};

TEST(HostMemory, NothingWithoutAContext) {
    ASSERT_EQ(aeLibInit::_current, nullptr);
    EXPECT_EQ(AEMalloc(1), nullptr);
    EXPECT_EQ(AEAlignedAlloc(160, 16), nullptr);
    // Freeing is left alone too, even for a pointer whose header is garbage.
    std::uint64_t words[2] = {0xdeadbeef, 0xdeadbeef};
    AEFree(&words[1]);
    AEAlignedFree(nullptr);

    int destroyed = 0;
    EXPECT_EQ(new Counted(&destroyed), nullptr) << "no memory, no construction";
    std::vector<int, aeAllocator<int>> list;
    EXPECT_THROW(list.push_back(1), std::bad_alloc);
}

TEST(HostMemory, BlockCarriesItsLockedHandle) {
    inContext([](headless::Host &host) {
        auto *p = static_cast<unsigned char *>(AEMalloc(100));
        ASSERT_NE(p, nullptr);
        PF_Handle handle = getHandle(p);
        EXPECT_EQ(host.handles().lockCount(handle), 1) << "locked for the block's life";
        EXPECT_EQ(host.handles().peek(handle), p - 8) << "the block starts with the header";
        EXPECT_EQ(host.handles().size(handle), 100u + 8u);
        std::memset(p, 0x5a, 100);
        {
            aeLibInit blockless(PF_Cmd_RENDER, 0, nullptr);
            AEFree(p); // the current context has no block: nothing happens
            EXPECT_TRUE(host.handles().isLive(handle));
        }
        AEFree(p);
        EXPECT_FALSE(host.handles().isLive(handle));
    });
}

TEST(HostMemory, FailedHandleOrLockGivesNullAndKeepsNothing) {
    for (std::string_view failing : {headless::service::kNewHandle, headless::service::kLockHandle}) {
        SCOPED_TRACE(std::string(failing));
        inContext([failing](headless::Host &host) {
            host.faults().arm(failing, 1, PF_Err_OUT_OF_MEMORY);
            EXPECT_EQ(AEMalloc(64), nullptr);
            EXPECT_EQ(host.faults().fired(), 1);
        });
    }
}

TEST(HostMemory, AlignedBlockLayout) {
    inContext([](headless::Host &host) {
        for (size_t alignment : {1u, 8u, 16u, 64u, 4096u}) {
            for (size_t size : {0u, 1u, 160u}) {
                SCOPED_TRACE(testing::Message() << "alignment " << alignment << ", size " << size);
                auto *p = static_cast<char *>(AEAlignedAlloc(size, alignment));
                ASSERT_NE(p, nullptr);
                EXPECT_EQ(address(p) % alignment, 0u);

                // The 8 bytes below hold the ordinary block the carving came from.
                char *block;
                std::memcpy(&block, p - 8, sizeof block);
                PF_Handle handle = getHandle(block);
                ASSERT_TRUE(host.handles().isLive(handle));
                EXPECT_EQ(host.handles().size(handle), size + alignment + 7 + 8);
                // The largest multiple of the alignment not above block + alignment + 7.
                EXPECT_EQ(address(p), (address(block) + alignment + 7) & ~(alignment - 1));
                std::memset(p, 0x33, size);

                if (size == 160) {
                    AEFree(block); // the stored pointer is one AEFree accepts
                } else {
                    AEAlignedFree(p);
                }
                EXPECT_FALSE(host.handles().isLive(handle));
            }
        }
        EXPECT_EQ(AEAlignedAlloc(16, 24), nullptr) << "not a power of two";
    });
}

TEST(HostMemory, AllocationAwareTypesDrawFromTheHost) {
    inContext([](headless::Host &host) {
        int destroyed = 0;
        aeBase *object = new Counted(&destroyed);
        ASSERT_NE(object, nullptr);
        EXPECT_TRUE(host.handles().isLive(getHandle(object)));
        delete object; // through the base: virtual destructor, then AEFree
        EXPECT_EQ(destroyed, 1);

        auto *record = new AlignedRecord;
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(address(record->v) % 16, 0u);
        delete record;
        EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 1) << "only the context block";

        {
            aeString name("a name long enough to leave the small-string buffer");
            std::vector<int, aeAllocator<int>> values(100, 7);
            EXPECT_EQ(host.ledger().count(Ledger::kLiveHandles), 3);
            host.faults().arm(headless::service::kNewHandle, 1, PF_Err_OUT_OF_MEMORY);
            EXPECT_THROW(values.push_back(1), std::bad_alloc);
            EXPECT_EQ(values.size(), 100u);
        }
    });
}

} // namespace
