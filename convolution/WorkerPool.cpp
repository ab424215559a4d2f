#include "convolution/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

// How long a waiting thread watches a shared counter before it goes to sleep. The engine
// waits here only at the start and end of a job, and a spin this long catches a helper
// that is still busy with its last task; longer waits (a stalled file) sleep.
constexpr std::chrono::microseconds kSpinTime{500};

} // namespace

struct WorkerPool {
    WorkerTask task;                  // what every worker runs for a block
    void* context;                    // handed to the task
    std::atomic<unsigned> round;      // raised once per block; a helper runs when it changes
    std::atomic<unsigned> pending;    // helpers still running the current round
    std::atomic<bool> closing;        // set once: helpers return
    std::mutex lock;                  // pairs with the two condition variables
    std::condition_variable wake;     // helpers sleep here for a new round or the end
    std::condition_variable finished; // the caller sleeps here for the helpers
    std::thread* helpers;             // helperCount started threads
    unsigned helperCount;             // threads started, workers - 1 at most
};

namespace {

// Spins, then sleeps on `sleeper`, until ready() holds.
template <typename Ready>
void waitFor(WorkerPool* pool, std::condition_variable& sleeper, Ready ready) {
    if (spinUntil(ready, kSpinTime)) {
        return;
    }
    std::unique_lock<std::mutex> hold(pool->lock);
    sleeper.wait(hold, ready);
}

// Wakes whoever sleeps on `sleeper`. Taking the lock first means a thread that has just
// found its condition false and is about to sleep cannot miss this notification.
void wakeSleepers(WorkerPool* pool, std::condition_variable& sleeper) {
    std::lock_guard<std::mutex> hold(pool->lock);
    sleeper.notify_all();
}

void helperLoop(WorkerPool* pool, unsigned index) {
    unsigned seen = 0;
    for (;;) {
        waitFor(pool, pool->wake, [&] {
            return pool->closing.load(std::memory_order_acquire) ||
                   pool->round.load(std::memory_order_acquire) != seen;
        });
        if (pool->closing.load(std::memory_order_acquire)) {
            return;
        }
        seen = pool->round.load(std::memory_order_acquire);
        pool->task(pool->context, index);
        if (pool->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            wakeSleepers(pool, pool->finished);
        }
    }
}

} // namespace

WorkerPool* startWorkerPool(unsigned workers, WorkerTask task, void* context) {
    auto* pool = new (std::nothrow) WorkerPool();
    if (pool == nullptr) {
        return nullptr;
    }
    pool->task = task;
    pool->context = context;
    const unsigned wanted = workers > 1 ? workers - 1 : 0;
    if (wanted > 0) {
        pool->helpers = new (std::nothrow) std::thread[wanted];
    }
    // Without room for the thread records, the caller simply works alone.
    const unsigned room = pool->helpers != nullptr ? wanted : 0;
    for (unsigned i = 0; i < room; ++i) {
        try {
            pool->helpers[i] = std::thread(helperLoop, pool, i + 1);
        } catch (const std::system_error&) {
            break; // the system gives no more threads: work with those there are
        } catch (const std::bad_alloc&) {
            break;
        }
        ++pool->helperCount;
    }
    return pool;
}

unsigned workerCount(const WorkerPool* pool) {
    return pool->helperCount + 1;
}

void runOnAllWorkers(WorkerPool* pool) {
    if (pool->helperCount > 0) {
        pool->pending.store(pool->helperCount, std::memory_order_relaxed);
        pool->round.fetch_add(1, std::memory_order_release);
        wakeSleepers(pool, pool->wake);
    }
    pool->task(pool->context, 0);
    if (pool->helperCount > 0) {
        waitFor(pool, pool->finished,
                [&] { return pool->pending.load(std::memory_order_acquire) == 0; });
    }
}

void stopWorkerPool(WorkerPool* pool) {
    if (pool == nullptr) {
        return;
    }
    if (pool->helperCount > 0) {
        pool->closing.store(true, std::memory_order_release);
        wakeSleepers(pool, pool->wake);
    }
    for (unsigned i = 0; i < pool->helperCount; ++i) {
        pool->helpers[i].join();
    }
    delete[] pool->helpers;
    delete pool;
}
