// Faults that need a process of their own: the disk filling up while the output is written
// (a file-size limit, SIGXFSZ ignored so the refused write is an ordinary short write), and
// an address-space limit that leaves no room for the engine's working memory. Each job runs
// in a child under its limit and reports back how it ended.
#include <gtest/gtest.h>

#include <cerrno>

#include <filesystem>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/JobHarness.h"

namespace {

constexpr uint64_t kHeader = 44;
constexpr uint64_t kBlockBytes = 2048; // the writer's conversion block

struct FullDiskJob {
    const char* what;
    uint16_t inputChannels;
    std::vector<int16_t> input;
    uint16_t impulseChannels;
    std::vector<int16_t> impulse;
};

std::vector<int16_t> varied(size_t count) {
    std::vector<int16_t> out;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<int16_t>((static_cast<int>(i) * 7919) % 60000 - 30000));
    }
    return out;
}

// The disk full at every interesting byte: inside the header, at the first sample, inside a
// frame, around the writer's block boundaries, deep inside a long output, in the last block
// that only finishing writes, and exactly at the end.
TEST(DiskFull, AFullDiskAnywhereIsReportedAndKeepsEveryWholeFrameWritten) {
    ScratchDir dir;
    const std::string in = dir.file("in.wav");
    const std::string ir = dir.file("impulse.wav");
    const std::string out = dir.file("out.wav");
    const FullDiskJob jobs[] = {
        {"mono output", 1, varied(1500), 1, {9000, -4000, 2500, 1200, -600, 300, -100}},
        {"stereo output", 1, varied(1500), 2, {9000, 3000, -4000, 2000, 2500, -1500}},
        {"long stereo output", 2, std::vector<int16_t>(40000, 1234), 1, {16384, 0, 0}},
    };
    for (const FullDiskJob& job : jobs) {
        writeFileBytes(in, pcmWav(job.inputChannels, 48000, job.input));
        writeFileBytes(ir, pcmWav(job.impulseChannels, 48000, job.impulse));
        const FileSnapshot inBefore = snapshot(in);
        const FileSnapshot irBefore = snapshot(ir);
        const std::vector<int16_t> full =
            expectedOutput(job.inputChannels, job.input, job.impulseChannels, job.impulse);
        const uint32_t channels = outputChannelsFor(job.inputChannels, job.impulseChannels);
        const uint64_t frameBytes = 2u * channels;
        const uint64_t complete = kHeader + full.size() * 2;
        for (uint64_t limit : {uint64_t{0},
                               uint64_t{1},
                               uint64_t{8},
                               uint64_t{43},
                               kHeader,
                               kHeader + 1,
                               kHeader + 2,
                               kHeader + 3,
                               kHeader + 5,
                               kHeader + kBlockBytes - 1,
                               kHeader + kBlockBytes,
                               kHeader + kBlockBytes + 1,
                               kHeader + kBlockBytes + 2,
                               kHeader + kBlockBytes + 3,
                               kHeader + 2 * kBlockBytes + 1,
                               kHeader + 10001,
                               complete - 3,
                               complete - 2,
                               complete - 1,
                               complete,
                               complete + 1}) {
            SCOPED_TRACE(std::string(job.what) + ", file size limit " + std::to_string(limit) +
                         " of " + std::to_string(complete));
            std::filesystem::remove(out);
            ProcessLimits limits;
            limits.fileSize = limit;
            const ChildJob outcome = runJobInChild(in, ir, out, limits);
            ASSERT_TRUE(outcome.exitedCleanly);
            EXPECT_TRUE(unchanged(inBefore));
            EXPECT_TRUE(unchanged(irBefore));
            if (limit < kHeader) {
                // The header itself did not fit: the output was never a file of ours.
                EXPECT_EQ(outcome.message, WM_JOB_FAILED);
                EXPECT_EQ(outcome.errorText, kTextOutputNotCreated);
                EXPECT_EQ(outcome.systemError, EFBIG);
                continue;
            }
            uint64_t frames = 0;
            ASSERT_TRUE(validPrefixOf(out, channels, full, &frames));
            if (limit < complete) {
                EXPECT_EQ(outcome.message, WM_JOB_FAILED);
                EXPECT_EQ(outcome.errorText, kTextWriteFailed);
                EXPECT_EQ(outcome.systemError, EFBIG);
                // Every frame that fitted whole is kept, and nothing more.
                EXPECT_EQ(frames, (limit - kHeader) / frameBytes);
            } else {
                EXPECT_EQ(outcome.message, WM_JOB_DONE) << outcome.errorText;
                EXPECT_EQ(frames * channels, full.size());
            }
        }
    }
}

TEST(JobFaults, NoMemoryForTheEngineIsReportedNotACrash) {
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("ir.wav");
    writeFileBytes(input, pcmWav(2, 8000, {1, 2, 3, 4}));
    // 2^25 taps, all in the file: their 128 MiB of floats fit under the limit, the 512 MiB of
    // the engine's windows for a stereo input do not.
    writeFileBytes(impulse, pcmWav(1, 8000, std::vector<int16_t>(size_t{1} << 25, 3)));
    ProcessLimits limits;
    limits.addressSpace = uint64_t{640} << 20;
    const ChildJob outcome = runJobInChild(input, impulse, dir.file("out.wav"), limits);
    ASSERT_TRUE(outcome.exitedCleanly);
    EXPECT_EQ(outcome.message, WM_JOB_FAILED);
    EXPECT_EQ(outcome.errorText, kTextOutOfMemory);
    EXPECT_EQ(outcome.systemError, ENOMEM);
    const Bytes out = readFileBytes(dir.file("out.wav"));
    ASSERT_EQ(out.size(), 44u);
    EXPECT_EQ(fieldLe32(out, 4), 36u);
    EXPECT_EQ(fieldLe32(out, 40), 0u);
}

} // namespace
