// A job stopped at any moment finishes its output: the header counts exactly the frames in
// the file, and those frames are the start of what the complete job writes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "job/JobMessages.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/JobHarness.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

constexpr uint32_t kRate = 22050;

std::vector<int16_t> noise(std::mt19937& rng, size_t count) {
    return randomSamples(rng, count, 32768);
}

TEST(StoppedJob, StoppedAtRandomMomentsItAlwaysLeavesAValidStartOfTheOutput) {
    std::mt19937 rng(5);
    ScratchDir dir;
    const std::string in = dir.file("in.wav");
    const std::string ir = dir.file("impulse.wav");
    const std::string out = dir.file("out.wav");
    int stopped = 0;
    int runs = 0;
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE("layout " + std::to_string(layout.inputChannels) + "x" +
                     std::to_string(layout.impulseChannels));
        const uint32_t impulseFrames = 256;
        // Quiet taps keep most sums clear of saturation, so wrong frames would show.
        std::vector<int16_t> impulse = noise(rng, size_t{impulseFrames} * layout.impulseChannels);
        for (int16_t& s : impulse) {
            s = static_cast<int16_t>(s / 64);
        }
        writeFileBytes(ir, pcmWav(static_cast<uint16_t>(layout.impulseChannels), kRate, impulse));
        const uint32_t channels = outputChannelsFor(layout.inputChannels, layout.impulseChannels);

        // The complete run gives the reference bytes and the time a run takes here. The
        // input grows until a run lasts well past the 50 ms within which a stop is honoured,
        // whichever engine and build this is, so that most stops land inside a run.
        uint32_t inputFrames = 20000;
        microseconds fullTime{0};
        std::vector<int16_t> complete;
        for (bool warm = false;; warm = true) {
            writeFileBytes(in, pcmWav(layout.inputChannels, kRate,
                                      noise(rng, size_t{inputFrames} * layout.inputChannels)));
            if (!warm) {
                // The first job of a process pays once for what later ones find ready
                // (threads, pages, the system's own caches): ten times the work under Wine.
                runJob(in, ir, out);
            }
            const auto started = Clock::now();
            const JobRun full = runJob(in, ir, out);
            fullTime = std::chrono::duration_cast<microseconds>(Clock::now() - started);
            ASSERT_EQ(full.message, WM_JOB_DONE) << full.errorText;
            if (fullTime >= std::chrono::milliseconds(200) || inputFrames >= (1u << 22)) {
                complete = samplesAfterHeader(readFileBytes(out));
                break;
            }
            inputFrames *= 4;
        }
        ASSERT_EQ(complete.size(), size_t{inputFrames + impulseFrames} * channels);
        const FileSnapshot inBefore = snapshot(in);
        const FileSnapshot irBefore = snapshot(ir);

        const auto outputFrames = static_cast<int32_t>(inputFrames + impulseFrames);
        std::uniform_int_distribution<int32_t> when(1, outputFrames);
        for (int attempt = 0; attempt < 8; ++attempt) {
            // The first attempt asks before the worker starts; the others once a random
            // number of frames is done, the last of which some runs reach before they look.
            const int32_t after = attempt == 0 ? kStopBeforeStart : when(rng);
            SCOPED_TRACE("stop after " + std::to_string(after) + " of " +
                         std::to_string(outputFrames) + " output frames");
            std::filesystem::remove(out);
            const JobRun run = runJob(in, ir, out, after);
            ++runs;
            ASSERT_TRUE(run.message == WM_JOB_STOPPED || run.message == WM_JOB_DONE)
                << run.message << " " << run.errorText;
            EXPECT_EQ(run.errorText, "");
            EXPECT_EQ(run.extraMessages, 0);
            EXPECT_EQ(run.active, 0);
            EXPECT_TRUE(run.threadEnded);
            uint64_t frames = 0;
            ASSERT_TRUE(validPrefixOf(out, channels, complete, &frames));
            if (run.message == WM_JOB_STOPPED) {
                ++stopped;
                EXPECT_LT(frames, inputFrames + impulseFrames);
            } else {
                EXPECT_EQ(frames, inputFrames + impulseFrames);
            }
            // Asked before the start, a job that runs well past the 50 ms within which a
            // stop must be honoured cannot reach its end.
            if (attempt == 0 && fullTime > std::chrono::milliseconds(200)) {
                EXPECT_EQ(run.message, WM_JOB_STOPPED);
            }
        }
        EXPECT_TRUE(unchanged(inBefore));
        EXPECT_TRUE(unchanged(irBefore));
    }
    RecordProperty("stopped", stopped);
    RecordProperty("runs", runs);
}

TEST(StoppedJob, AnInputClaimingTwoGigabytesRunsUntilStoppedAndStaysValid) {
    ScratchDir dir;
    const std::string in = dir.file("in.wav");
    const std::string ir = dir.file("impulse.wav");
    const std::string out = dir.file("out.wav");
    // 2^31 bytes declared, 8 frames present: 2^30 frames of which all but 8 are silent.
    const std::vector<int16_t> present = {100, -200, 300, -400, 500, -600, 700, -800};
    writeFileBytes(in, riff({pcmFormatChunk(1, kRate),
                             chunkWithSize("data", 0x80000000u, sampleBytes(present))}));
    writeFileBytes(ir, pcmWav(1, kRate, {16384, -16384}));
    const FileSnapshot inBefore = snapshot(in);
    const FileSnapshot irBefore = snapshot(ir);
    // Once frames were written, however long that took: 2^30 frames would take minutes.
    const JobRun run = runJob(in, ir, out, 1);
    ASSERT_EQ(run.message, WM_JOB_STOPPED) << run.errorText;
    EXPECT_TRUE(run.threadEnded);
    std::vector<int16_t> start = expectedOutput(1, present, 1, {16384, -16384});
    const Bytes file = readFileBytes(out);
    // Beyond the frames that hold signal the output is silence, however far it got.
    start.resize(std::max(start.size(), samplesAfterHeader(file).size()), 0);
    uint64_t frames = 0;
    EXPECT_TRUE(validPrefixOf(out, 1, start, &frames));
    EXPECT_GT(frames, 0u);
    EXPECT_TRUE(unchanged(inBefore));
    EXPECT_TRUE(unchanged(irBefore));
}

} // namespace
