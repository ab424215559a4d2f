// Progress and stop under the threaded engine: what the front end's timer may see between
// blocks, where a stop lands, and what is left in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/convolution/EngineVariants.h"
#include "tests/support/EngineHarness.h"
#include "wav/WavWriter.h"

namespace {

// Looks at the progress record every time the engine asks whether to stop, as the timer
// could at any moment, and asks for a stop at the given check (0 = never).
struct Watcher {
    JobProgress* progress; // the record the engine writes
    int32_t expectedTotal; // M + N
    int stopAtCheck;       // 1-based check that answers "stop"; 0 for none
    int checks;            // checks so far
    int32_t lastDone;      // done at the previous check
    int faults;            // checks that saw something the timer must never see
};

int watch(void* context) {
    auto* w = static_cast<Watcher*>(context);
    ++w->checks;
    const int32_t active = w->progress->active.load(std::memory_order_acquire);
    const int32_t total = w->progress->total.load(std::memory_order_relaxed);
    const int32_t done = w->progress->done.load(std::memory_order_relaxed);
    if (active != 1 || total != w->expectedTotal || done < w->lastDone || done > total) {
        ++w->faults;
    }
    w->lastDone = done;
    return w->stopAtCheck != 0 && w->checks >= w->stopAtCheck;
}

// Runs an engine with the watcher as its stop check, the progress record in sight.
EngineRun runWatched(const EngineCall& engine, uint16_t inputChannels,
                     const std::vector<int16_t>& input, uint32_t impulseChannels,
                     const std::vector<float>& impulse, Watcher& watcher) {
    JobProgress* seen = nullptr;
    EngineCall spy = [&](const Impulse& h, const EngineIo& io) {
        JobProgress& p = *io.progress;
        seen = &p;
        watcher.progress = &p;
        return engine(h, io);
    };
    EngineRun run =
        runEngine(spy, inputChannels, input, impulseChannels, impulse, StopCheck{watch, &watcher});
    EXPECT_NE(seen, nullptr);
    return run;
}

std::vector<int16_t> noise(size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<int16_t> out(count);
    for (int16_t& s : out) {
        s = static_cast<int16_t>(value(rng));
    }
    return out;
}

std::vector<float> quietImpulse(size_t count, unsigned seed) {
    std::vector<float> out;
    for (int16_t s : noise(count, seed)) {
        out.push_back(static_cast<float>(s / 64) / 32768.0f);
    }
    return out;
}

TEST(FastEngineProgress, IsValidBeforeActiveAndOnlyGrowsToTotal) {
    const auto input = noise(2 * 3000, 1);
    const auto impulse = quietImpulse(2 * 200, 2);
    for (const EngineVariant& variant : enginesOnThisCpu()) {
        for (unsigned threads = 1; threads <= 3; ++threads) {
            Watcher watcher{nullptr, 3200, 0, 0, 0, 0};
            // Small blocks: dozens of checks in one run.
            const EngineRun run = runWatched(engineWith(optionsFor(variant, threads, 1, 64)), 2,
                                             input, 2, impulse, watcher);
            EXPECT_EQ(run.result, convolveCompleted);
            EXPECT_GT(watcher.checks, 10) << variant.name;
            EXPECT_EQ(watcher.faults, 0) << variant.name << " threads=" << threads;
            EXPECT_EQ(run.total, 3200);
            EXPECT_EQ(run.done, 3200);
            EXPECT_EQ(run.active, 1); // lowered by the job, not the engine
        }
    }
}

TEST(FastEngineStop, LandsBetweenBlocksAndKeepsExactlyWhatWasCounted) {
    const auto input = noise(3000, 3);
    const auto impulse = quietImpulse(2 * 150, 4);
    const EngineRun expected = runEngine(referenceEngine(), 1, input, 2, impulse);
    for (const EngineVariant& variant : enginesOnThisCpu()) {
        for (unsigned threads = 1; threads <= 3; ++threads) {
            Watcher watcher{nullptr, 3150, 3, 0, 0, 0};
            const EngineRun run = runWatched(engineWith(optionsFor(variant, threads, 7, 50)), 1,
                                             input, 2, impulse, watcher);
            EXPECT_EQ(run.result, convolveStopped);
            EXPECT_EQ(watcher.checks, 3); // nothing more is asked or computed after a stop
            EXPECT_EQ(watcher.faults, 0);
            ASSERT_GT(run.done, 0);
            ASSERT_LT(run.done, run.total);
            // The file holds the frames counted, and they are the right ones.
            ASSERT_EQ(run.samples.size(), 2 * static_cast<size_t>(run.done));
            EXPECT_TRUE(
                std::equal(run.samples.begin(), run.samples.end(), expected.samples.begin()))
                << variant.name << " threads=" << threads;
        }
    }
}

TEST(FastEngineStop, LandsWhereAskedAtTheEngineOwnSizes) {
    // The first look is before any work: a stop there ends even a job of one block, with
    // nothing written. With a long impulse each block is short in frames, so a stop at the
    // second look lands mid-run; so it does in an output that is all silence (an impulse of
    // zeros), or that starts with a long silence (an impulse with leading zeros).
    struct Case {
        uint32_t inputFrames;
        uint32_t impulseFrames;
        float tap;           // every impulse sample
        uint32_t zerosFirst; // leading impulse samples that are zero
        int stopAtCheck;
    };
    const float quiet = 1.0f / 32768;
    for (const Case& c : {Case{1000, 100, quiet, 0, 1}, Case{4000, 70000, quiet, 0, 2},
                          Case{4000, 70000, 0.0f, 0, 2}, Case{4000, 70000, quiet, 60000, 2}}) {
        const int32_t total = static_cast<int32_t>(c.inputFrames + c.impulseFrames);
        Watcher watcher{nullptr, total, c.stopAtCheck, 0, 0, 0};
        std::vector<float> impulse(c.impulseFrames, c.tap);
        std::fill(impulse.begin(), impulse.begin() + c.zerosFirst, 0.0f);
        const EngineRun run =
            runWatched(engineWith(EngineOptions{}), 1, std::vector<int16_t>(c.inputFrames, 100), 1,
                       impulse, watcher);
        EXPECT_EQ(run.result, convolveStopped);
        EXPECT_EQ(watcher.checks, c.stopAtCheck);
        EXPECT_EQ(watcher.faults, 0);
        if (c.stopAtCheck == 1) {
            EXPECT_EQ(run.done, 0);
        } else {
            EXPECT_GT(run.done, 0);
        }
        EXPECT_LT(run.done, run.total);
        EXPECT_EQ(run.samples.size(), static_cast<size_t>(run.done));
    }
}

TEST(FastEngineStop, IsSeenInsideALongBlockWhichIsThenLeftUnwritten) {
    // One thread, pieces far longer than a few milliseconds of work: between the look before
    // any work and the end of the first block only the piece's own looks come, and a stop
    // there leaves the block unfinished and out of the file.
    const auto input = noise(40000, 5);
    const auto impulse = quietImpulse(40000, 6);
    for (const EngineVariant& variant : enginesOnThisCpu()) {
        Watcher watcher{nullptr, 80000, 2, 0, 0, 0};
        const EngineRun run =
            runWatched(engineWith(optionsFor(variant, 1, 8192, 0)), 1, input, 1, impulse, watcher);
        EXPECT_EQ(run.result, convolveStopped) << variant.name;
        EXPECT_EQ(watcher.checks, 2) << variant.name;
        EXPECT_EQ(watcher.faults, 0);
        EXPECT_EQ(run.done, 0) << variant.name;
        EXPECT_TRUE(run.samples.empty());
    }
}

TEST(FastEngineOutput, StopsProducingWhenTheFileRefusesWrites) {
    // /dev/full refuses every write; the writer finds out on its first full block.
    FILE* full = fopen("/dev/full", "wb");
    if (full == nullptr) {
        GTEST_SKIP() << "no /dev/full here";
    }
    setvbuf(full, nullptr, _IONBF, 0);
    // Long enough for the writer's buffer to fill well before the end.
    constexpr uint32_t kFrames = kWriteBlockSamples;
    const auto input = noise(2 * kFrames, 5);
    const auto impulse = quietImpulse(100, 6);
    for (unsigned threads = 1; threads <= 3; ++threads) {
        Watcher watcher{nullptr, kFrames + 100, 0, 0, 0, 0};
        EngineCall redirected = [&](const Impulse& h, const EngineIo& io) {
            FILE* own = io.output->file;
            io.output->file = full;
            const EngineVariant best{enginePathAuto, false, "auto"};
            const ConvolveResult result = convolve(h, io, optionsFor(best, threads, 9, 0));
            io.output->file = own;
            return result;
        };
        const EngineRun run = runWatched(redirected, 2, input, 1, impulse, watcher);
        EXPECT_EQ(run.result, convolveWriteFailed) << "threads=" << threads;
        // The refusal came in the first block that filled the writer's buffer: nothing
        // after it was computed or counted.
        EXPECT_LT(run.done, run.total);
        EXPECT_EQ(watcher.faults, 0);
    }
    fclose(full);
}

} // namespace
