// The engine's helper threads: every worker runs once per round, whatever the count.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "convolution/WorkerPool.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs; // per worker index: rounds run
    std::atomic<int> total;             // all runs
    explicit Tally(unsigned workers) : runs(workers), total(0) {}
};

void count(void* context, unsigned worker) {
    auto* tally = static_cast<Tally*>(context);
    tally->runs.at(worker).fetch_add(1);
    tally->total.fetch_add(1);
}

TEST(WorkerPool, RunsEveryWorkerOncePerRound) {
    for (unsigned workers = 1; workers <= 4; ++workers) {
        Tally tally(workers);
        WorkerPool* pool = startWorkerPool(workers, count, &tally);
        ASSERT_NE(pool, nullptr);
        ASSERT_EQ(workerCount(pool), workers);
        for (int round = 1; round <= 500; ++round) {
            runOnAllWorkers(pool);
            // When the call returns, the round is complete on every worker.
            ASSERT_EQ(tally.total.load(), round * static_cast<int>(workers));
        }
        stopWorkerPool(pool);
        for (unsigned w = 0; w < workers; ++w) {
            EXPECT_EQ(tally.runs[w].load(), 500) << "worker " << w << " of " << workers;
        }
    }
}

TEST(WorkerPool, StopsCleanlyWithoutAnyRound) {
    Tally tally(3);
    stopWorkerPool(startWorkerPool(3, count, &tally));
    stopWorkerPool(nullptr);
    EXPECT_EQ(tally.total.load(), 0);
}

} // namespace
