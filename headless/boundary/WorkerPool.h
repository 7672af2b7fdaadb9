// The host's worker pool and its generic iterator (iterate_generic).
//
// A pass over [0, n) is cut into contiguous blocks of indices; the pool's
// threads (the calling thread among them) take blocks until none is left, so
// every index runs exactly once, possibly concurrently with others. How the
// blocks are dealt (Dealing):
// - Bands: the blocks fall into one contiguous band per thread. Each thread
//   takes the blocks of its own band in order, then those left in the
//   others'. A thread thus works through neighbouring indices (in an image,
//   neighbouring rows) far from the other threads, and its caches hold what
//   its band reads rather than copies of what the others read.
// - Together: all threads take the next blocks in turn, so they work on
//   neighbouring blocks. For passes whose callbacks read something that
//   follows them (a window of rows made as they are read), which would
//   otherwise have to span the distance between the bands. A thread takes
//   a stretch of blocks at once (kTogetherClaim), fewer toward the pass's end.
// Each thread has a fixed index in [0, threads()) that it passes to the
// callback; the calling thread is index 0. The first non-zero error any call
// returns ends the pass: no further index is started, and that error is the
// pass's result. An exception thrown by a callback counts as an error
// (PF_Err_INTERNAL_STRUCT_DAMAGED) and its text is kept in lastException().
//
// With one thread a pass runs inline on the caller. The threads live as long
// as the pool and are reused by every pass.
//
// Thread safety: passes are serialised; a pass started from inside a callback
// (a nested pass) runs inline on that thread with that thread's index.
#pragma once

#include "headless/SdkHeaders.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace headless {

class WorkerPool {
public:
    // `threads` < 1 means one per hardware thread.
    explicit WorkerPool(int threads = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    int threads() const { return threadCount_; }

    enum class Dealing { Bands, Together };
    // Blocks a thread takes at once from a pass dealt together, at most: the
    // threads then work on neighbouring stretches of a few dozen rows of a
    // 1920 x 1080 frame rather than alternating blocks of half a row, so each
    // streams through memory of its own (3 % less processor time on a blur
    // of the effect's layers, 2 threads). Near the pass's end the claims
    // shrink to single blocks, so the threads still end together.
    static constexpr A_long kTogetherClaim = 64;

    // iterate_generic: fn(refcon, thread_index, i, iterations) for every i.
    // A negative count or a null function is PF_Err_BAD_CALLBACK_PARAM.
    PF_Err iterate(A_long iterations, void *refcon, PF_IterateGenericFunc fn,
                   Dealing dealing = Dealing::Bands);

    // The same for any callable: fn(thread_index, i).
    PF_Err iterate(A_long iterations, const std::function<PF_Err(A_long, A_long)> &fn,
                   Dealing dealing = Dealing::Bands);

    // work(first, end) over contiguous ranges covering [0, count) once each,
    // a few per thread, dealt in bands; returns when all are done. `work`
    // must not throw. (HostWorld's RowRanges: a large world's first fill.)
    void forRanges(A_long count, const std::function<void(A_long first, A_long end)> &work);
    // Number of consecutive indices a task takes in a pass of `iterations`.
    A_long blockSize(A_long iterations) const;

    // Text of the last exception a callback threw (empty if none so far).
    std::string lastException() const;

private:
    struct Pass;
    struct Range;

    void workerLoop(int threadIndex);
    void work(Pass &pass, int threadIndex);
    A_long claimSize(const Pass &pass, const Range &range) const;

    int threadCount_;
    std::vector<std::thread> workers_;
    std::mutex passMutex_; // one pass at a time
    std::unique_ptr<Range[]> bands_; // one per thread, for the pass that holds passMutex_

    mutable std::mutex mutex_; // guards everything below
    std::condition_variable wake_;
    std::condition_variable done_;
    Pass *pass_ = nullptr;
    unsigned long generation_ = 0;
    int busy_ = 0;
    bool stop_ = false;
    std::string lastException_;
};

} // namespace headless
