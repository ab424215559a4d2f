// The disk filling up while the output is written, at every interesting byte: inside the
// header, at the first sample, inside a frame, around the writer's block boundaries and in
// the last block that only finishing writes. A child process runs the job under a file-size
// limit with SIGXFSZ ignored, so the refused write is an ordinary short write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "tests/hardening/JobDriver.h"

namespace {

constexpr uint64_t kHeader = 44;
constexpr uint64_t kBlockBytes = 2048; // the writer's conversion block

struct ChildOutcome {
    bool exitedCleanly;    // the child ended with status 0 (a sanitizer report would not)
    uint32_t message;      // the message its job posted
    std::string errorText; // and the text with it
};

ChildOutcome runJobWithFileSizeLimit(const std::string& in, const std::string& ir,
                                     const std::string& out, uint64_t limit) {
    int channel[2];
    if (pipe(channel) != 0) {
        return ChildOutcome{};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        int status = setrlimit(RLIMIT_FSIZE, &size) == 0 ? 0 : 3;
        const JobRun run = runJob(in, ir, out);
        char report[4 + 512] = {};
        memcpy(report, &run.message, 4);
        strncpy(report + 4, run.errorText.c_str(), 511);
        if (write(channel[1], report, sizeof report) != static_cast<ssize_t>(sizeof report)) {
            status = 4;
        }
        _exit(status);
    }
    close(channel[1]);
    ChildOutcome outcome{};
    char report[4 + 512] = {};
    size_t got = 0;
    while (got < sizeof report) {
        const ssize_t n = read(channel[0], report + got, sizeof report - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.exitedCleanly = got == sizeof report && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    memcpy(&outcome.message, report, 4);
    report[sizeof report - 1] = '\0';
    outcome.errorText = report + 4;
    return outcome;
}

TEST(DiskFull, AFullDiskAnywhereIsReportedAndKeepsEveryWholeFrameWritten) {
    ScratchDir dir;
    const std::string in = dir.file("in.wav");
    const std::string ir = dir.file("impulse.wav");
    const std::string out = dir.file("out.wav");
    std::vector<int16_t> input;
    for (int i = 0; i < 1500; ++i) {
        input.push_back(static_cast<int16_t>((i * 7919) % 60000 - 30000));
    }
    const std::vector<int16_t> mono = {9000, -4000, 2500, 1200, -600, 300, -100};
    const std::vector<int16_t> stereo = {9000, 3000, -4000, 2000, 2500, -1500};
    for (uint16_t impulseChannels : {1, 2}) {
        const std::vector<int16_t>& impulse = impulseChannels == 1 ? mono : stereo;
        writeFileBytes(in, pcmWav(1, 48000, input));
        writeFileBytes(ir, pcmWav(impulseChannels, 48000, impulse));
        const FileSnapshot inBefore = snapshot(in);
        const FileSnapshot irBefore = snapshot(ir);
        const std::vector<int16_t> full = expectedOutput(1, input, impulseChannels, impulse);
        const uint64_t frameBytes = 2u * impulseChannels;
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
                               complete - 3,
                               complete - 2,
                               complete - 1,
                               complete,
                               complete + 1}) {
            SCOPED_TRACE("impulse channels " + std::to_string(impulseChannels) +
                         ", file size limit " + std::to_string(limit) + " of " +
                         std::to_string(complete));
            std::filesystem::remove(out);
            const ChildOutcome outcome = runJobWithFileSizeLimit(in, ir, out, limit);
            ASSERT_TRUE(outcome.exitedCleanly);
            EXPECT_TRUE(unchanged(inBefore));
            EXPECT_TRUE(unchanged(irBefore));
            if (limit < kHeader) {
                // The header itself did not fit: the output was never a file of ours.
                EXPECT_EQ(outcome.message, WM_JOB_FAILED);
                EXPECT_EQ(outcome.errorText, kTextOutputNotCreated);
                continue;
            }
            uint64_t frames = 0;
            ASSERT_TRUE(validPrefixOf(out, impulseChannels, full, &frames));
            if (limit < complete) {
                EXPECT_EQ(outcome.message, WM_JOB_FAILED);
                EXPECT_EQ(outcome.errorText, kTextWriteFailed);
                // Every frame that fitted whole is kept, and nothing more.
                EXPECT_EQ(frames, (limit - kHeader) / frameBytes);
            } else {
                EXPECT_EQ(outcome.message, WM_JOB_DONE) << outcome.errorText;
                EXPECT_EQ(frames * impulseChannels, full.size());
            }
        }
    }
}

} // namespace
