// How far the running job is, read by the front end's timer without a lock.
#pragma once

#include <atomic>
#include <cstdint>

struct JobProgress {
    std::atomic<int32_t> done;   // output frames produced so far; never decreases
    std::atomic<int32_t> total;  // output frames the job will produce (M + N)
    std::atomic<int32_t> active; // 1 from the moment total and done are valid until the
                                 // output is finished; stored with release, read with acquire
};

// Sets total, then done = 0, then raises active, so a reader that sees active == 1 with
// an acquire load also sees both numbers.
inline void startProgress(JobProgress& progress, int32_t total) {
    progress.total.store(total, std::memory_order_relaxed);
    progress.done.store(0, std::memory_order_relaxed);
    progress.active.store(1, std::memory_order_release);
}
