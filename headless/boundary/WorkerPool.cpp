#include "headless/boundary/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <typeinfo>

namespace headless {

namespace {
// Blocks per thread in a pass: enough that a thread finishing early finds
// more work and the threads end within a small block of each other (about a
// tenth of a millisecond of a 1920 x 1080 frame on 2 threads), few enough
// that taking a block costs nothing next to running it.
constexpr A_long kBlocksPerThread = 1024;

// The pool and thread index of the current thread while it runs a pass.
thread_local const WorkerPool *t_pool = nullptr;
thread_local int t_threadIndex = 0;

PF_Err callFunction(void *refcon, A_long thread, A_long i, A_long) {
    const auto &fn = *static_cast<const std::function<PF_Err(A_long, A_long)> *>(refcon);
    return fn(thread, i);
}
} // namespace

// A range of a pass's blocks, with its cursor on a line of its own: the
// threads take blocks from their own ranges without pulling the others'
// cursors away from them.
struct alignas(128) WorkerPool::Range {
    std::atomic<A_long> next{0};
    A_long end = 0;
};

// The blocks of a pass lie in ranges, one per thread when dealt in bands and
// one for all when dealt together; each thread starts on the range of its
// index and goes on to the others'.
struct WorkerPool::Pass {
    A_long iterations;
    A_long block;
    A_long blocks;
    void *refcon;
    PF_IterateGenericFunc fn;
    Range whole;           // the one range of a pass dealt together
    A_long claimMost = 1;  // blocks a thread takes at once, at most
    Range *ranges = &whole;
    int rangeCount = 1;
    std::atomic<bool> failed{false};
    std::atomic<PF_Err> err{PF_Err_NONE};

    // Deals the blocks into `count` ranges of `bands` (`count` entries), or
    // into `whole` for a count of 1: range r is blocks
    // [blocks * r / count, blocks * (r + 1) / count).
    void deal(Range *bands, int count) {
        ranges = count > 1 ? bands : &whole;
        rangeCount = count;
        for (int r = 0; r < count; ++r) {
            ranges[r].next.store(static_cast<A_long>(std::int64_t(blocks) * r / count), std::memory_order_relaxed);
            ranges[r].end = static_cast<A_long>(std::int64_t(blocks) * (r + 1) / count);
        }
    }
};

WorkerPool::WorkerPool(int threads) {
    if (threads < 1) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threadCount_ = threads;
    bands_ = std::make_unique<Range[]>(static_cast<std::size_t>(threads));
    workers_.reserve(static_cast<size_t>(threads - 1));
    for (int index = 1; index < threads; ++index)
        workers_.emplace_back([this, index] { workerLoop(index); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread &worker : workers_) worker.join();
}

A_long WorkerPool::blockSize(A_long iterations) const {
    if (iterations <= 0) return 0;
    if (threadCount_ == 1) return iterations;
    const A_long blocks = static_cast<A_long>(threadCount_) * kBlocksPerThread;
    return std::max<A_long>(1, iterations / blocks + (iterations % blocks != 0));
}

std::string WorkerPool::lastException() const {
    std::lock_guard lock(mutex_);
    return lastException_;
}

PF_Err WorkerPool::iterate(A_long iterations, const std::function<PF_Err(A_long, A_long)> &fn,
                           Dealing dealing) {
    if (!fn) return PF_Err_BAD_CALLBACK_PARAM;
    return iterate(iterations, const_cast<void *>(static_cast<const void *>(&fn)), callFunction, dealing);
}

void WorkerPool::forRanges(A_long count, const std::function<void(A_long, A_long)> &work) {
    // A few ranges a thread, so that one which starts late still finds its
    // share of them; a pool of one thread does it all in one range.
    const A_long ranges = threadCount_ > 1 ? std::min<A_long>(count, 4 * threadCount_) : 1;
    if (ranges <= 1) {
        if (count > 0) work(0, count);
        return;
    }
    const auto edge = [&](A_long i) { return static_cast<A_long>(std::int64_t{count} * i / ranges); };
    const PF_Err err = iterate(
        ranges,
        [&](A_long, A_long i) {
            work(edge(i), edge(i + 1));
            return PF_Err(PF_Err_NONE);
        },
        Dealing::Bands);
    // Nothing here fails; were a range left out all the same, all of it again.
    if (err != PF_Err_NONE) work(0, count);
}

PF_Err WorkerPool::iterate(A_long iterations, void *refcon, PF_IterateGenericFunc fn, Dealing dealing) {
    if (iterations < 0 || !fn) return PF_Err_BAD_CALLBACK_PARAM;
    if (iterations == 0) return PF_Err_NONE;

    Pass pass;
    pass.iterations = iterations;
    pass.refcon = refcon;
    pass.fn = fn;

    // A pass started from inside one of this pool's callbacks cannot wait for
    // the threads it is running on: it runs inline, as that thread.
    if (t_pool == this || workers_.empty()) {
        pass.block = iterations;
        pass.blocks = 1;
        pass.deal(nullptr, 1);
        const bool nested = t_pool == this;
        const int index = nested ? t_threadIndex : 0;
        t_pool = this;
        t_threadIndex = index;
        work(pass, index);
        if (!nested) t_pool = nullptr;
        return pass.err.load();
    }

    pass.block = blockSize(iterations);
    pass.blocks = iterations / pass.block + (iterations % pass.block != 0);

    std::lock_guard serial(passMutex_);
    pass.deal(bands_.get(), dealing == Dealing::Bands ? threadCount_ : 1);
    if (dealing == Dealing::Together) pass.claimMost = kTogetherClaim;
    {
        std::lock_guard lock(mutex_);
        pass_ = &pass;
        ++generation_;
    }
    wake_.notify_all();

    t_pool = this;
    t_threadIndex = 0;
    work(pass, 0);
    t_pool = nullptr;

    std::unique_lock lock(mutex_);
    pass_ = nullptr; // late risers find nothing to do
    done_.wait(lock, [this] { return busy_ == 0; });
    return pass.err.load();
}

void WorkerPool::workerLoop(int threadIndex) {
    t_pool = this;
    t_threadIndex = threadIndex;
    unsigned long seen = 0;
    for (;;) {
        Pass *pass = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            pass = pass_;
            if (!pass) continue;
            ++busy_;
        }
        work(*pass, threadIndex);
        {
            std::lock_guard lock(mutex_);
            if (--busy_ == 0) done_.notify_all();
        }
    }
}

// How many blocks to take from `range` at once: a quarter of each thread's
// share of what is left, within [1, pass.claimMost]. Taken by several threads
// at once, a claim may start anywhere up to the range's end: it runs the
// blocks it got, whatever size the others took.
A_long WorkerPool::claimSize(const Pass &pass, const Range &range) const {
    if (pass.claimMost == 1) return 1;
    const A_long left = range.end - range.next.load(std::memory_order_relaxed);
    return std::clamp<A_long>(left / (threadCount_ * 4), 1, pass.claimMost);
}

void WorkerPool::work(Pass &pass, int threadIndex) {
    auto fail = [&pass](PF_Err err) {
        PF_Err none = PF_Err_NONE;
        pass.err.compare_exchange_strong(none, err);
        pass.failed.store(true, std::memory_order_relaxed);
    };
    try {
        // Its own range first, then the others' in turn.
        for (int step = 0; step < pass.rangeCount; ++step) {
            Range &range = pass.ranges[(threadIndex + step) % pass.rangeCount];
            for (;;) {
                const A_long claim = claimSize(pass, range);
                const A_long block = range.next.fetch_add(claim, std::memory_order_relaxed);
                if (block >= range.end) break;
                const A_long begin = block * pass.block;
                const A_long last = std::min(block + claim, range.end); // past the claim's blocks
                const A_long end =
                    static_cast<A_long>(std::min<std::int64_t>(pass.iterations, std::int64_t(last) * pass.block));
                for (A_long i = begin; i < end; ++i) {
                    if (pass.failed.load(std::memory_order_relaxed)) return;
                    if (PF_Err err = pass.fn(pass.refcon, threadIndex, i, pass.iterations)) {
                        fail(err);
                        return;
                    }
                }
            }
        }
    } catch (const std::exception &e) {
        std::lock_guard lock(mutex_);
        lastException_ = std::string(typeid(e).name()) + ": " + e.what();
        fail(PF_Err_INTERNAL_STRUCT_DAMAGED);
    } catch (...) {
        std::lock_guard lock(mutex_);
        lastException_ = "an exception of unknown type";
        fail(PF_Err_INTERNAL_STRUCT_DAMAGED);
    }
}

} // namespace headless
