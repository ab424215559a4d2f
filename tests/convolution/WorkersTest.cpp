// The engine's threads: every worker runs once per call, whatever the count, and a stream of
// tasks is finished by whoever takes part.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

#include "convolution/Workers.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs; // per worker index: calls run
    std::atomic<int> total;             // all runs
    explicit Tally(unsigned workers) : runs(workers), total(0) {}
};

void count(void* context, unsigned worker) {
    auto* tally = static_cast<Tally*>(context);
    tally->runs.at(worker).fetch_add(1);
    tally->total.fetch_add(1);
}

TEST(Workers, RunEveryWorkerOncePerCall) {
    for (unsigned workers = 1; workers <= 4; ++workers) {
        Tally tally(workers);
        for (int call = 1; call <= 200; ++call) {
            ASSERT_EQ(runWorkers(workers, count, &tally), workers);
            // When the call returns, every worker has run.
            ASSERT_EQ(tally.total.load(), call * static_cast<int>(workers));
        }
        for (unsigned w = 0; w < workers; ++w) {
            EXPECT_EQ(tally.runs[w].load(), 200) << "worker " << w << " of " << workers;
        }
    }
}

// Tasks taken one at a time from a shared counter until it passes the end, as the engine's
// workers take them.
struct Stream {
    std::atomic<int> next{0};
    std::vector<std::atomic<int>> done; // per task: times run
    explicit Stream(int tasks) : done(static_cast<size_t>(tasks)) {}
};

void takeTasks(void* context, unsigned) {
    auto* stream = static_cast<Stream*>(context);
    for (;;) {
        const int task = stream->next.fetch_add(1);
        if (task >= static_cast<int>(stream->done.size())) {
            return;
        }
        stream->done[static_cast<size_t>(task)].fetch_add(1);
    }
}

TEST(Workers, FinishAStreamOfTasksWhateverTheirNumber) {
    for (unsigned workers : {1u, 2u, 3u, 8u}) {
        Stream stream(5000);
        runWorkers(workers, takeTasks, &stream);
        for (const std::atomic<int>& times : stream.done) {
            ASSERT_EQ(times.load(), 1) << workers << " workers";
        }
    }
}

#if defined(__linux__)
// Each worker's processor mask, as it sees it once every helper has been started: the
// caller runs its own share only then.
struct Masks {
    std::vector<cpu_set_t> seen;
    std::atomic<bool> allStarted{false};
    explicit Masks(unsigned workers) : seen(workers) {}
};

void recordMask(void* context, unsigned worker) {
    auto* masks = static_cast<Masks*>(context);
    if (worker == 0) {
        masks->allStarted.store(true);
    }
    while (!masks->allStarted.load()) {
        std::this_thread::yield();
    }
    CPU_ZERO(&masks->seen.at(worker));
    sched_getaffinity(0, sizeof(cpu_set_t), &masks->seen.at(worker));
}

// Helpers are moved off the caller's processor as they start; a helper left on the narrower
// mask used to move it could never be balanced again. With one processor allowed there is
// nowhere to move to, and the mask stays that one.
TEST(Workers, LeaveEveryHelperFreeToRunWhereverTheCallerMay) {
    cpu_set_t whole;
    CPU_ZERO(&whole);
    ASSERT_EQ(sched_getaffinity(0, sizeof whole, &whole), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c) {
        if (CPU_ISSET(c, &whole)) {
            CPU_SET(c, &one);
            break;
        }
    }
    for (const cpu_set_t* mask : {&whole, &one}) {
        ASSERT_EQ(sched_setaffinity(0, sizeof(cpu_set_t), mask), 0);
        for (unsigned workers : {2u, 3u, 8u}) {
            Masks masks(workers);
            ASSERT_EQ(runWorkers(workers, recordMask, &masks), workers);
            for (unsigned w = 0; w < workers; ++w) {
                EXPECT_TRUE(CPU_EQUAL(&masks.seen[w], mask))
                    << "worker " << w << " of " << workers << ", caller allowed " << CPU_COUNT(mask)
                    << " processors";
            }
        }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof whole, &whole), 0);
}
#endif

} // namespace
