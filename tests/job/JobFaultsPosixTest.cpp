// Faults that need a process of their own: a file-size limit that makes the disk "full"
// in the middle of the output, and an address-space limit that leaves no room for the
// engine's working memory. Each runs the job in a child and reports back by exit status.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "tests/job/JobRunner.h"
#include "tests/support/TestFiles.h"

namespace {

// Runs the job in a child under the given limit; the child exits 0 when the job failed
// with the expected words.
bool childJobFailsWith(int resource, rlim_t limit, const std::string& input,
                       const std::string& impulse, const std::string& output, const char* text) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN); // a refused write must come back as an error, not a kill
        const rlimit bound{limit, limit};
        setrlimit(resource, &bound);
        const JobOutcome outcome = runJobHere(input, impulse, output);
        _exit(outcome.message == WM_JOB_FAILED && outcome.errorText == text ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(JobFaults, AFullDiskMidwayIsAFailureAndTheFileKeepsOnlyWholeFrames) {
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("ir.wav");
    const Bytes inputBytes = pcmWav(2, 8000, std::vector<int16_t>(40000, 1234));
    const Bytes impulseBytes = pcmWav(1, 8000, {16384, 0, 0});
    writeFileBytes(input, inputBytes);
    writeFileBytes(impulse, impulseBytes);
    // Room for the header and 10001 bytes of samples: the limit falls inside a frame.
    const rlim_t limit = 44 + 10001;
    ASSERT_TRUE(childJobFailsWith(RLIMIT_FSIZE, limit, input, impulse, dir.file("out.wav"),
                                  kTextWriteFailed));
    const Bytes out = readFileBytes(dir.file("out.wav"));
    ASSERT_EQ(out.size(), 44u + 10000u); // 2500 whole stereo frames
    EXPECT_EQ(fieldLe32(out, 4), out.size() - 8);
    EXPECT_EQ(fieldLe32(out, 40), 10000u);
    EXPECT_EQ(readFileBytes(input), inputBytes);
    EXPECT_EQ(readFileBytes(impulse), impulseBytes);
}

TEST(JobFaults, NoMemoryForTheEngineIsReportedNotACrash) {
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("ir.wav");
    writeFileBytes(input, pcmWav(2, 8000, {1, 2, 3, 4}));
    // 2^25 taps, all in the file: their 128 MiB of floats fit under the limit, the 512 MiB of
    // the engine's windows for a stereo input do not.
    writeFileBytes(impulse, pcmWav(1, 8000, std::vector<int16_t>(size_t{1} << 25, 3)));
    const rlim_t limit = rlim_t{640} << 20;
    ASSERT_TRUE(
        childJobFailsWith(RLIMIT_AS, limit, input, impulse, dir.file("out.wav"), kTextOutOfMemory));
    const Bytes out = readFileBytes(dir.file("out.wav"));
    ASSERT_EQ(out.size(), 44u);
    EXPECT_EQ(fieldLe32(out, 4), 36u);
    EXPECT_EQ(fieldLe32(out, 40), 0u);
}

} // namespace
