// The fast engine's threads for one call: started, run, joined. The caller works too, as
// worker 0; the helpers are started for the call and end with it, so nothing sleeps
// between jobs and there is no round to wake anyone for.
#pragma once

#include <chrono>

#include "convolution/CpuFeatures.h"

// What every worker runs once, with its index (0 = the caller).
using WorkerTask = void (*)(void* context, unsigned worker);

// Starts count - 1 helper threads running task(context, 1 ... count - 1), each moved off the
// caller's processor as it starts (moveOffCallersProcessor, Platform.h), runs
// task(context, 0) on the calling thread, and returns once every helper has returned: the
// number of workers that ran, at least 1. A helper the system refuses to start means fewer
// workers, so the task must finish the work with however many take part (the engine's take
// tasks from one stream until it ends). At most kMostWorkers.
constexpr unsigned kMostWorkers = 64;
unsigned runWorkers(unsigned count, WorkerTask task, void* context);

// Watches ready() for up to `limit`, telling the core it is spinning; true as soon as it
// holds. The engine's tasks wait this way before they sleep: a worker usually waits for
// another one to finish a piece, much less than a sleep and a wake-up cost (50 to 100
// microseconds on a busy machine).
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
