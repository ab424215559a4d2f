// However the program ends, the output is a WAV file a player can open: a table of the ways a
// running job can be ended (signals from a terminal, timeout, a closed session, one stop
// delivered twice or three times, kill -9, a file-size limit), and of jobs stuck before they
// start, which a fourth signal ends at once.
// Each checks the exit status or the ending signal, standard error, that both inputs are
// unchanged, and that the output's header agrees with its length (for kill -9: covers a
// prefix of it) and its samples are the start of the complete result.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>

#include <sys/stat.h>

#include "job/FailureTexts.h"
#include "platform/Platform.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/WrittenWav.h"
#include "wav/WavWriter.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kInputFrames = 1u << 20;
constexpr uint32_t kImpulseFrames = 1u << 16;

// A stereo input of noise and a mono impulse of 0.5 followed by silence: a job of about
// 10^11 multiply-adds, seconds of work, whose complete output is nonetheless known
// sample by sample without computing it: one silent frame, the input halved (truncated
// toward zero), then silence.
struct LongJob {
    ScratchDir dir;
    std::string input = dir.file("in.wav");
    std::string impulse = dir.file("impulse.wav");
    std::vector<int16_t> samples;

    LongJob() {
        std::mt19937 rng(9);
        std::uniform_int_distribution<int> value(-32768, 32767);
        samples.resize(size_t{kInputFrames} * 2);
        for (int16_t& s : samples) {
            s = static_cast<int16_t>(value(rng));
        }
        writeFileBytes(input, pcmWav(2, kRate, samples));
        std::vector<int16_t> taps(kImpulseFrames, 0);
        taps[0] = 16384;
        writeFileBytes(impulse, pcmWav(1, kRate, taps));
    }

    int16_t expected(uint64_t sample) const {
        const uint64_t frame = sample / 2;
        if (frame == 0 || frame > kInputFrames) {
            return 0;
        }
        return static_cast<int16_t>(samples[(frame - 1) * 2 + sample % 2] / 2);
    }

    // The first `dataBytes` bytes of samples after the header are the complete output's.
    ::testing::AssertionResult startOfTheOutput(const Bytes& file, uint64_t dataBytes) const {
        for (uint64_t i = 0; i < dataBytes / 2; ++i) {
            const auto sample = static_cast<int16_t>(file[44 + 2 * i] | (file[45 + 2 * i] << 8));
            if (sample != expected(i)) {
                return ::testing::AssertionFailure() << "sample " << i << " is " << sample
                                                     << ", the complete output has " << expected(i);
            }
        }
        return ::testing::AssertionSuccess();
    }
};

const LongJob& longJob() {
    static const LongJob job;
    return job;
}

enum OutputLeft {
    finishedFile,  // the header counts exactly what the file holds
    coveredPrefix, // killed outright: the header counts a prefix of what was written
};

// How one stop request reaches the program.
enum Delivery {
    once,             // one signal to the process
    processThenGroup, // to the process, then at once to its group, as `timeout` sends it
    twiceBackToBack,  // the second the moment the first was taken (a shell and the kernel)
    threeTimes,       // likewise, three times (make, the group and timeout together)
};

struct Ending {
    const char* what;
    int signalNumber;       // sent once the job is under way; 0 for none
    Delivery delivery;      // how
    bool afterSizeUpdate;   // sent only once the running job has brought its size fields up
                            // to date
    uint64_t fileSizeLimit; // RLIMIT_FSIZE for the run, 0 for none
    int exitStatus;         // the status it must exit with, or -1 ...
    int endedBy;            // ... when this signal must end it
    std::string err;        // standard error
    OutputLeft output;      // what the header must say
    int64_t frames;         // the frames the output must hold, or -1 for any short of complete
};

TEST(CliEndings, EveryEndingLeavesAValidStartOfTheOutput) {
    const LongJob& job = longJob();
    const std::string limitReason =
        std::string(kTextWriteFailed) +
        "\nmotivo: raggiunto il limite alla dimensione dei file (ulimit -f)\n";
    const Ending endings[] = {
        // clang-format off
        {"Ctrl-C", SIGINT, once, false, 0, -1, SIGINT, "", finishedFile, -1},
        {"SIGTERM, as from kill", SIGTERM, once, false, 0, -1, SIGTERM, "", finishedFile, -1},
        {"SIGTERM to the process and its group, as from timeout", SIGTERM, processThenGroup, false, 0, -1, SIGTERM, "", finishedFile, -1},
        {"SIGHUP, as from a dropped SSH session", SIGHUP, once, false, 0, -1, SIGHUP, "", finishedFile, -1},
        {"SIGHUP twice, as from a closed terminal (shell and kernel)", SIGHUP, twiceBackToBack, false, 0, -1, SIGHUP, "", finishedFile, -1},
        {"SIGTERM three times, as from make under timeout", SIGTERM, threeTimes, false, 0, -1, SIGTERM, "", finishedFile, -1},
        {"SIGQUIT (Ctrl-\\)", SIGQUIT, once, false, 0, -1, SIGQUIT, "", finishedFile, -1},
        {"SIGTERM after the sizes were brought up to date", SIGTERM, once, true, 0, -1, SIGTERM, "", finishedFile, -1},
        {"SIGKILL after the first block, whose sizes are already set", SIGKILL, once, true, 0, -1, SIGKILL, "", coveredPrefix, -1},
        // The limit falls inside a frame: 2500 whole stereo frames fit.
        {"a file-size limit (ulimit -f)", 0, once, false, 44 + 10001, 1, 0, limitReason, finishedFile, 2500},
        // clang-format on
    };
    const Bytes inputBefore = readFileBytes(job.input);
    const Bytes impulseBefore = readFileBytes(job.impulse);
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        const std::string output = job.dir.file("out.wav");
        std::filesystem::remove(output);
        ProcessLimits limits;
        if (ending.fileSizeLimit != 0) {
            limits.fileSize = ending.fileSizeLimit;
        }
        CliProcess cli = startCli(job.dir, {job.input, job.impulse, output}, limits);
        if (ending.signalNumber != 0) {
            ASSERT_TRUE(waitUntilCatching(cli.pid, SIGQUIT)); // the last one the program catches
            ASSERT_TRUE(waitUntilFileHolds(cli.pid, output, 44));
            if (ending.afterSizeUpdate) {
                // The first block written sets them.
                ASSERT_TRUE(waitUntilFieldSet(cli.pid, output, 40));
            }
            if (ending.delivery == processThenGroup) {
                kill(cli.pid, ending.signalNumber);
                kill(-cli.pid, ending.signalNumber);
            } else {
                const int before = ending.delivery == twiceBackToBack ? 1
                                   : ending.delivery == threeTimes    ? 2
                                                                      : 0;
                for (int i = 0; i < before; ++i) {
                    ASSERT_TRUE(sendAndWaitDelivered(cli.pid, ending.signalNumber));
                }
                kill(cli.pid, ending.signalNumber);
            }
        }
        const CliRun run = waitCli(cli);
        EXPECT_EQ(run.exitStatus, ending.exitStatus);
        EXPECT_EQ(run.endedBy, ending.endedBy);
        EXPECT_EQ(run.err, ending.err);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(readFileBytes(job.input), inputBefore);
        EXPECT_EQ(readFileBytes(job.impulse), impulseBefore);

        const Bytes file = readFileBytes(output);
        ASSERT_GE(file.size(), 44u);
        const uint64_t dataBytes = fieldLe32(file, 40);
        if (ending.output == coveredPrefix) {
            // What a player reads: the header and the samples it counts.
            EXPECT_GT(dataBytes, 0u);
            ASSERT_LE(44 + dataBytes, file.size());
            const WrittenWav covered = checkWrittenWav(
                Bytes(file.begin(), file.begin() + 44 + static_cast<long>(dataBytes)));
            EXPECT_TRUE(covered.valid) << covered.problem;
        } else {
            const WrittenWav wav = checkWrittenWav(file);
            ASSERT_TRUE(wav.valid) << wav.problem;
            EXPECT_EQ(wav.channels, 2u);
            EXPECT_EQ(wav.sampleRate, kRate);
            if (ending.frames >= 0) {
                EXPECT_EQ(wav.frames, static_cast<uint64_t>(ending.frames));
            } else {
                EXPECT_LT(wav.frames, uint64_t{kInputFrames} + kImpulseFrames);
            }
        }
        EXPECT_TRUE(job.startOfTheOutput(file, dataBytes));
    }
}

// A job that cannot even start, waiting for a pipe nobody opens: the first three signals are
// one request to stop, which it cannot see; the fourth ends the program at once, as if none
// were caught.
TEST(CliEndings, AStuckJobEndsAtOnceOnASecondSignal) {
    ScratchDir dir;
    const std::string fifo = dir.file("pipe.wav");
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("impulse.wav");
    const std::string output = dir.file("out.wav");
    writeFileBytes(input, pcmWav(1, kRate, {100, 200, 300}));
    writeFileBytes(impulse, pcmWav(1, kRate, {16384}));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        const char* what;
        std::vector<std::string> args;
    } rows[] = {
        {"an input nobody writes to", {fifo, impulse, output}},
        {"an impulse nobody writes to", {input, fifo, output}},
        {"an output nobody reads", {input, impulse, fifo}},
    };
    const Bytes inputBefore = readFileBytes(input);
    const Bytes impulseBefore = readFileBytes(impulse);
    for (const auto& row : rows) {
        for (const std::pair<int, int>& signals :
             {std::pair<int, int>{SIGINT, SIGTERM}, {SIGTERM, SIGINT}, {SIGHUP, SIGHUP}}) {
            SCOPED_TRACE(std::string(row.what) + ", signals " + std::to_string(signals.first) +
                         " then " + std::to_string(signals.second));
            CliProcess cli = startCli(dir, row.args);
            ASSERT_TRUE(waitUntilCatching(cli.pid, SIGQUIT));
            for (int i = 0; i < kInterruptsToEndAtOnce - 1; ++i) {
                ASSERT_TRUE(sendAndWaitDelivered(cli.pid, signals.first)); // still running
            }
            kill(cli.pid, signals.second);
            const CliRun run = waitCli(cli);
            EXPECT_EQ(run.exitStatus, -1);
            EXPECT_EQ(run.endedBy, signals.second);
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(readFileBytes(input), inputBefore);
            EXPECT_EQ(readFileBytes(impulse), impulseBefore);
            struct stat status {};
            ASSERT_EQ(stat(fifo.c_str(), &status), 0);
            EXPECT_TRUE(S_ISFIFO(status.st_mode));
            EXPECT_FALSE(std::filesystem::exists(output));
        }
    }
}

} // namespace
