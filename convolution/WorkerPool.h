// Helper threads for one engine call: started once, then woken for every block, so no
// thread is created per block. The calling thread works too, as worker 0.
#pragma once

#include <chrono>

#include "convolution/CpuFeatures.h"

struct WorkerPool;

// The work of one block: called once per worker, with the worker's index (0 = the caller).
using WorkerTask = void (*)(void* context, unsigned worker);

// Starts up to `workers - 1` helper threads that will run task(context, index). A thread
// that cannot be created just means fewer workers. Null when memory runs out.
WorkerPool* startWorkerPool(unsigned workers, WorkerTask task, void* context);
// How many workers (helpers plus the caller) the pool really has; at least 1.
unsigned workerCount(const WorkerPool* pool);
// Runs the task on every worker once and returns when all have finished.
void runOnAllWorkers(WorkerPool* pool);
// Ends and joins the helpers and releases the pool; accepts null.
void stopWorkerPool(WorkerPool* pool);

// Watches ready() for up to `limit`, telling the core it is spinning; true as soon as it
// holds. The pool and the engine's tasks wait this way before they sleep: a worker usually
// waits for another one to finish a piece, much less than a sleep and a wake-up cost (50 to
// 100 microseconds on a busy machine).
template <typename Ready> bool spinUntil(Ready ready, std::chrono::microseconds limit) {
    constexpr int kChecksPerClockRead = 64; // the clock costs more than a look
    const auto until = std::chrono::steady_clock::now() + limit;
    do {
        for (int i = 0; i < kChecksPerClockRead; ++i) {
            if (ready()) {
                return true;
            }
            relaxWhileSpinning();
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}
