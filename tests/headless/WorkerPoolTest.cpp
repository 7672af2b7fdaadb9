// The worker pool behind iterate_generic.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

using headless::Host;
using headless::WorkerPool;

namespace {

// What each call saw, one slot per index.
struct Visits {
    explicit Visits(A_long n) : count(new std::atomic<int>[static_cast<size_t>(n) + 1]()),
                                thread(new std::atomic<int>[static_cast<size_t>(n) + 1]()) {}
    std::unique_ptr<std::atomic<int>[]> count;
    std::unique_ptr<std::atomic<int>[]> thread;
    std::atomic<int> badThread{0};
    std::atomic<int> badTotal{0};
    A_long expectedTotal = 0;
    int threads = 0;
};

PF_Err visit(void *refcon, A_long thread, A_long i, A_long total) {
    auto &v = *static_cast<Visits *>(refcon);
    if (thread < 0 || thread >= v.threads) ++v.badThread;
    if (total != v.expectedTotal) ++v.badTotal;
    v.count[static_cast<size_t>(i)].fetch_add(1, std::memory_order_relaxed);
    v.thread[static_cast<size_t>(i)].store(thread, std::memory_order_relaxed);
    return PF_Err_NONE;
}

class IterateCoverage : public ::testing::TestWithParam<int> {};

TEST_P(IterateCoverage, EveryIndexExactlyOnceInContiguousBlocks) {
    WorkerPool pool(GetParam());
    ASSERT_EQ(pool.threads(), GetParam());
    for (auto dealing : {WorkerPool::Dealing::Bands, WorkerPool::Dealing::Together})
    for (A_long n : {0, 1, 7, 100003, 1000003}) {
        Visits v(n);
        v.expectedTotal = n;
        v.threads = pool.threads();
        ASSERT_EQ(pool.iterate(n, &v, visit, dealing), PF_Err_NONE) << n;
        EXPECT_EQ(v.badThread.load(), 0) << n;
        EXPECT_EQ(v.badTotal.load(), 0) << n;
        for (A_long i = 0; i < n; ++i)
            ASSERT_EQ(v.count[static_cast<size_t>(i)].load(), 1) << "index " << i << " of " << n;

        // A block is one task: all its indices ran on one thread.
        const A_long block = pool.blockSize(n);
        if (n > 0) {
            ASSERT_GE(block, 1);
        }
        if (pool.threads() > 1 && n >= 1000) {
            EXPECT_LT(block, n) << "the work is shared";
        }
        for (A_long start = 0; start < n; start += block)
            for (A_long i = start; i < std::min(n, start + block); ++i)
                ASSERT_EQ(v.thread[static_cast<size_t>(i)].load(),
                          v.thread[static_cast<size_t>(start)].load())
                    << "block at " << start;
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, IterateCoverage, ::testing::Values(1, 2, 8));

TEST(WorkerPool, SeveralThreadsTakePartInALongPass) {
    WorkerPool pool(4);
    std::mutex mutex;
    std::set<A_long> threads;
    ASSERT_EQ(pool.iterate(4000, [&](A_long thread, A_long) -> PF_Err {
                  std::this_thread::sleep_for(std::chrono::microseconds(50));
                  std::lock_guard lock(mutex);
                  threads.insert(thread);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_GT(threads.size(), 1u);
    EXPECT_TRUE(threads.count(0)) << "the calling thread works too";
}

// The first index the helper thread of a 2-thread pass runs, with the caller
// held at index 0 until the helper has started, so that the caller cannot
// have taken every block. `iterate` runs a pass of `fn` over 100000 indices.
template <class Iterate> A_long helperStart(Iterate &&iterate) {
    std::atomic<A_long> helperFirst{-1};
    const PF_Err err = iterate([&](A_long thread, A_long i) -> PF_Err {
        if (thread == 1) {
            A_long none = -1;
            helperFirst.compare_exchange_strong(none, i);
        } else if (i == 0) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (helperFirst.load() < 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
        }
        return PF_Err_NONE;
    });
    EXPECT_EQ(err, PF_Err_NONE);
    return helperFirst.load();
}

// Dealt in bands, each thread works through neighbouring indices of its own:
// the helper starts at the middle of the pass. Dealt together, it starts on
// one of the first two stretches of blocks.
TEST(WorkerPool, BandsStartEachThreadOnItsOwnPart) {
    WorkerPool pool(2);
    const A_long n = 100000;
    const A_long block = pool.blockSize(n);
    const A_long blocks = n / block + (n % block != 0);
    using Dealing = WorkerPool::Dealing;
    for (Dealing dealing : {Dealing::Bands, Dealing::Together}) {
        const A_long first = helperStart([&](const std::function<PF_Err(A_long, A_long)> &fn) {
            return pool.iterate(n, fn, dealing);
        });
        if (dealing == Dealing::Bands)
            EXPECT_EQ(first, block * (blocks / 2));
        else
            EXPECT_LE(first, block * WorkerPool::kTogetherClaim) << "the first stretch or the second, whichever thread came first";
    }
}

TEST(WorkerPool, FirstErrorEndsThePass) {
    for (int threads : {1, 2, 8}) {
        WorkerPool pool(threads);
        std::atomic<long> calls{0};
        std::atomic<bool> failed{false};
        const A_long n = 1000003;
        PF_Err err = pool.iterate(n, [&](A_long, A_long i) -> PF_Err {
            ++calls;
            if (i == 10) {
                failed = true;
                return PF_Interrupt_CANCEL;
            }
            if (i == 11) return PF_Err_OUT_OF_MEMORY; // same block: never reached
            // Every index beyond the failing block waits for the failure, so
            // the count below does not depend on how threads are scheduled.
            while (i > 11 && !failed) std::this_thread::yield();
            return PF_Err_NONE;
        });
        EXPECT_EQ(err, PF_Interrupt_CANCEL) << threads;
        // Indices 0..10, plus at most the index each other thread was already
        // waiting in when the failure came.
        EXPECT_LE(calls.load(), 11 + threads) << threads << " threads ran on after the error";
    }
}

TEST(WorkerPool, AnErrorInEveryBlockStillReturnsOne) {
    WorkerPool pool(8);
    PF_Err err = pool.iterate(100000, [](A_long, A_long i) -> PF_Err {
        return i % 2 ? PF_Err_OUT_OF_MEMORY : PF_Err_BAD_CALLBACK_PARAM;
    });
    EXPECT_TRUE(err == PF_Err_OUT_OF_MEMORY || err == PF_Err_BAD_CALLBACK_PARAM) << err;
}

TEST(WorkerPool, ReusedAcrossManyPasses) {
    WorkerPool pool(8);
    for (int pass = 0; pass < 500; ++pass) {
        std::atomic<long> sum{0};
        const A_long n = 1 + pass % 97;
        ASSERT_EQ(pool.iterate(n, [&](A_long, A_long i) -> PF_Err {
                      sum += i;
                      return PF_Err_NONE;
                  }),
                  PF_Err_NONE);
        ASSERT_EQ(sum.load(), long(n) * (n - 1) / 2) << "pass " << pass;
    }
    // An error in one pass does not linger into the next.
    EXPECT_EQ(pool.iterate(50, [](A_long, A_long) { return PF_Err(PF_Err_OUT_OF_MEMORY); }),
              PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(pool.iterate(50, [](A_long, A_long) { return PF_Err(PF_Err_NONE); }), PF_Err_NONE);
}

TEST(WorkerPool, BadArgumentsAreRefused) {
    WorkerPool pool(2);
    EXPECT_EQ(pool.iterate(-1, nullptr, visit), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pool.iterate(10, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pool.iterate(0, nullptr, visit), PF_Err_NONE) << "nothing to do, nothing called";
}

TEST(WorkerPool, ExceptionInACallbackIsAnError) {
    for (int threads : {1, 4}) {
        WorkerPool pool(threads);
        PF_Err err = pool.iterate(1000, [](A_long, A_long i) -> PF_Err {
            if (i == 500) throw std::runtime_error("pixel 500 broke");
            return PF_Err_NONE;
        });
        EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_NE(pool.lastException().find("pixel 500 broke"), std::string::npos);
        EXPECT_EQ(pool.iterate(10, [](A_long, A_long) { return PF_Err(PF_Err_NONE); }),
                  PF_Err_NONE);
    }
}

TEST(WorkerPool, NestedPassRunsInlineOnItsThread) {
    WorkerPool pool(4);
    std::atomic<int> inner{0}, mismatched{0};
    ASSERT_EQ(pool.iterate(64, [&](A_long outerThread, A_long) -> PF_Err {
                  return pool.iterate(3, [&](A_long innerThread, A_long) -> PF_Err {
                      ++inner;
                      if (innerThread != outerThread) ++mismatched;
                      return PF_Err_NONE;
                  });
              }),
              PF_Err_NONE);
    EXPECT_EQ(inner.load(), 64 * 3);
    EXPECT_EQ(mismatched.load(), 0);
}

TEST(WorkerPool, IterateGenericCallbackUsesTheHostPool) {
    headless::HostOptions options;
    options.threads = 3;
    headless::Host host(options);
    EXPECT_EQ(host.workers().threads(), 3);
    Visits v(1001);
    v.expectedTotal = 1001;
    v.threads = 3;
    PF_Err err = host.run(PF_Cmd_SMART_RENDER, [&] {
        return host.inData()->utils->iterate_generic(1001, &v, visit);
    });
    ASSERT_EQ(err, PF_Err_NONE);
    EXPECT_EQ(v.badThread.load(), 0);
    for (A_long i = 0; i < 1001; ++i) ASSERT_EQ(v.count[static_cast<size_t>(i)].load(), 1);
}

// The host deals its passes in bands, except while the effect holds a world
// whose area table rolls and the pass may read it: a blur's layers are
// sampled about where the pass is, and the window of rows would have to span
// the bands. A pass whose callback read none of them last time is dealt in
// bands; one that read one (its table built in the pass) stays together.
TEST(WorkerPool, HostKeepsThreadsTogetherWhileThePassMayReadALargeWorld) {
    headless::HostOptions options;
    options.threads = 2;
    Host host(options);
    headless::HostWorld *read = nullptr; // the world the passes read, if any
    auto startUnderHost = [&] {
        return helperStart([&](const std::function<PF_Err(A_long, A_long)> &fn) {
            const std::function<PF_Err(A_long, A_long)> reading = [&](A_long thread, A_long i) {
                if (read && i == 0) read->areaTable();
                return fn(thread, i);
            };
            PF_Err err = PF_Err_NONE;
            EXPECT_EQ(host.run(PF_Cmd_SMART_RENDER, [&] {
                return err = host.inData()->utils->iterate_generic(
                    100000, const_cast<void *>(static_cast<const void *>(&reading)),
                    [](void *refcon, A_long thread, A_long i, A_long) {
                        return (*static_cast<const std::function<PF_Err(A_long, A_long)> *>(refcon))(thread, i);
                    });
            }),
                      PF_Err_NONE);
            return err;
        });
    };
    const A_long block = host.workers().blockSize(100000);
    const A_long together = block * WorkerPool::kTogetherClaim; // where the second stretch starts, at most
    auto make = [&](A_long width, A_long height, headless::HostWorld *&world) {
        AEGP_WorldH handle{};
        EXPECT_EQ(host.worlds().create(headless::Worlds::Maker::AegpWorldSuite, headless::PixelDepth::Eight,
                                       width, height, headless::WorldFill::Clear, world, handle),
                  PF_Err_NONE);
        return handle;
    };

    EXPECT_GT(startUnderHost(), together) << "no worlds: bands";
    headless::HostWorld *smallWorld = nullptr, *largeWorld = nullptr;
    const AEGP_WorldH small = make(64, 64, smallWorld);
    read = smallWorld;
    EXPECT_GT(startUnderHost(), together) << "a small world's table is held whole: bands";
    const AEGP_WorldH large = make(1920, 1080, largeWorld);
    read = nullptr;
    EXPECT_LE(startUnderHost(), together) << "a frame-sized world's table rolls: together";
    EXPECT_GT(startUnderHost(), together) << "the callback's last pass read no such world: bands";
    read = largeWorld;
    EXPECT_GT(startUnderHost(), together) << "still bands, and this pass reads it";
    EXPECT_LE(startUnderHost(), together) << "the last pass read it: together";
    read = nullptr;
    EXPECT_LE(startUnderHost(), together) << "together while it may read it";
    EXPECT_GT(startUnderHost(), together) << "bands after a pass that did not";
    EXPECT_TRUE(host.worlds().dispose(large, "test"));
    EXPECT_GT(startUnderHost(), together) << "bands again once it is gone";
    EXPECT_TRUE(host.worlds().dispose(small, "test"));
}

TEST(WorkerPool, ShutsDownWhileIdleAndAfterWork) {
    { WorkerPool idle(8); }
    {
        WorkerPool used(8);
        used.iterate(10000, [](A_long, A_long) { return PF_Err(PF_Err_NONE); });
    }
    SUCCEED();
}

} // namespace
