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

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Report.h"
#include "job/FailureTexts.h"
#include "platform/Platform.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/WrittenWav.h"
#include "wav/WavWriter.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kInputFrames = 1u << 20;
constexpr uint32_t kImpulseFrames = 1u << 16;

// A stereo input of noise and a mono impulse of 0.5, silence, and 0.5 again as its last tap:
// a job of about 10^11 multiply-adds, seconds of work (the zeros inside an impulse are
// computed like any tap; only zeros at its ends are left out), whose complete output is
// nonetheless known sample by sample without computing it: frame f is the mean of input
// frames f - 1 and f - N (each 0 outside the input), truncated toward zero. Both products
// and their sum are exact in float, so the defined order of the sum changes nothing.
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
        taps[kImpulseFrames - 1] = 16384;
        writeFileBytes(impulse, pcmWav(1, kRate, taps));
    }

    int16_t expected(uint64_t sample) const {
        const uint64_t frame = sample / 2;
        const auto input = [&](uint64_t delay) {
            return frame >= delay && frame - delay < kInputFrames
                       ? int{samples[(frame - delay) * 2 + sample % 2]}
                       : 0;
        };
        return static_cast<int16_t>((input(1) + input(kImpulseFrames)) / 2);
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
    const std::string output = job.dir.file("out.wav");
    const std::string limitReason =
        "convoluzione-cli: " + output + ": " + kTextWriteFailed +
        "\nconvoluzione-cli: motivo: raggiunto il limite alla dimensione dei file (ulimit -f)\n";
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
        if (ending.signalNumber != 0 && !kEverySignalReachesTheProgram) {
            continue;
        }
        SCOPED_TRACE(ending.what);
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
TEST(CliEndings, AStuckJobEndsAtOnceOnAFourthSignal) {
    if (!kEverySignalReachesTheProgram) {
        GTEST_SKIP() << kSignalsUnderTheSanitizer;
    }
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

// A stream cannot be patched at its end: when the job ends early its header says more than
// follows, as with every streaming tool, and the program says so; it ends as it would with a
// file (by the signal, or 1 when the reader went away).
TEST(CliEndings, AStreamCutShortIsSaidAndEndsAsWithAFile) {
    const LongJob& job = longJob();
    const std::string fifo = job.dir.file("stream");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const uint32_t complete = kInputFrames + kImpulseFrames;
    const std::string cut = "convoluzione-cli: attenzione: l'output contiene ";
    const std::string declared =
        " frame dei " + italianCount(complete) + " che la sua intestazione dichiara\n";
    const struct {
        const char* what;
        bool readerLeaves; // the reader goes away after the header; otherwise SIGTERM
        int exitStatus;
        int endedBy;
        std::string firstLines;
    } rows[] = {
        {"stopped by SIGTERM", false, -1, SIGTERM, ""},
        {"the reader went away", true, 1, 0,
         "convoluzione-cli: " + fifo + ": " + kTextWriteFailed +
             "\nconvoluzione-cli: motivo: il programma che legge l'output ha chiuso la pipe\n"},
    };
    for (const auto& row : rows) {
        if (!row.readerLeaves && !kEverySignalReachesTheProgram) {
            continue;
        }
        SCOPED_TRACE(row.what);
        CliProcess cli = startCli(job.dir, {job.input, job.impulse, fifo});
        const int reader = open(fifo.c_str(), O_RDONLY);
        ASSERT_GE(reader, 0);
        Bytes header(44);
        size_t got = 0;
        for (ssize_t n = 1; got < header.size() && n > 0; got += n > 0 ? n : 0) {
            n = read(reader, header.data() + got, header.size() - got);
        }
        ASSERT_EQ(got, 44u);
        // The whole job's sizes, known before the first frame.
        EXPECT_EQ(fieldLe32(header, 40), complete * 4);
        EXPECT_EQ(fieldLe32(header, 4), 36 + complete * 4);
        if (row.readerLeaves) {
            close(reader);
        } else {
            ASSERT_TRUE(waitUntilCatching(cli.pid, SIGQUIT));
            kill(cli.pid, SIGTERM);
        }
        uint8_t piece[65536];
        while (!row.readerLeaves && read(reader, piece, sizeof piece) > 0) {
        }
        const CliRun run = waitCli(cli);
        if (!row.readerLeaves) {
            close(reader);
        }
        EXPECT_EQ(run.exitStatus, row.exitStatus);
        EXPECT_EQ(run.endedBy, row.endedBy);
        ASSERT_EQ(run.err.rfind(row.firstLines + cut, 0), 0u) << run.err;
        EXPECT_EQ(run.err.substr(run.err.size() - declared.size()), declared);
    }
}

// A copy of standard input lives only as long as the program: it is removed after a job,
// after a stop that comes while it is being made, and after a fourth signal ends the program
// at once.
TEST(CliEndings, ACopyOfStandardInputIsRemovedHoweverTheProgramEnds) {
    const LongJob& job = longJob();
    const std::string fifo = job.dir.file("input-pipe");
    const std::string output = job.dir.file("from-pipe.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const Bytes someInput = readFileBytes(job.impulse);
    for (const int signals : {1, kInterruptsToEndAtOnce}) {
        if (!kEverySignalReachesTheProgram) {
            break;
        }
        SCOPED_TRACE(std::to_string(signals) + " signals while standard input is copied");
        CliProcess cli = startCli(job.dir, {"-", job.impulse, output}, ProcessLimits{}, fifo);
        const int writer = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        // Part of a file, then nothing: the copy is there, waiting for more.
        ASSERT_EQ(write(writer, someInput.data(), 1000), 1000);
        ASSERT_TRUE(waitUntilCatching(cli.pid, SIGQUIT));
        ASSERT_TRUE(waitUntil(cli.pid, [&] { return temporaryFiles(job.dir) == 1; }));
        for (int i = 1; i < signals; ++i) {
            kill(cli.pid, SIGINT);
        }
        kill(cli.pid, SIGINT);
        const CliRun run = waitCli(cli);
        close(writer);
        EXPECT_EQ(run.endedBy, SIGINT);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(temporaryFiles(job.dir), 0);
        EXPECT_FALSE(std::filesystem::exists(output));
    }
    const CliRun run = runCli(job.dir, {"-", job.impulse, output}, ProcessLimits{}, job.impulse);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(temporaryFiles(job.dir), 0);
}

// Two programs writing one output: the second finds it locked, fails at once and touches
// nothing, while the first goes on; a file held locked by another program likewise; but
// not a device, which many programs write at once.
TEST(CliEndings, ASecondProgramWritingTheSameOutputChangesNothing) {
    if (!kEverySignalReachesTheProgram) {
        GTEST_SKIP() << kSignalsUnderTheSanitizer;
    }
    const LongJob& job = longJob();
    const std::string output = job.dir.file("shared.wav");
    const std::string small = job.dir.file("small.wav");
    writeFileBytes(small, pcmWav(2, kRate, {1, 2, 3, 4}));
    const std::string refusal =
        "convoluzione-cli: " + output + ": " + kTextOutputNotCreated +
        "\nconvoluzione-cli: motivo: il file e' in uso da un altro processo\n";
    CliProcess first = startCli(job.dir, {job.input, job.impulse, output});
    ASSERT_TRUE(waitUntilCatching(first.pid, SIGQUIT));
    ASSERT_TRUE(waitUntilFileHolds(first.pid, output, 44));
    const CliRun second = runCli(job.dir, {small, job.impulse, output});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err, refusal);
    kill(first.pid, SIGINT);
    const CliRun run = waitCli(first);
    EXPECT_EQ(run.endedBy, SIGINT);
    const Bytes file = readFileBytes(output);
    const WrittenWav wav = checkWrittenWav(file);
    ASSERT_TRUE(wav.valid) << wav.problem;
    EXPECT_TRUE(job.startOfTheOutput(file, fieldLe32(file, 40)));

    const int held = open(output.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const CliRun locked = runCli(job.dir, {small, job.impulse, output});
    close(held);
    EXPECT_EQ(locked.exitStatus, 1);
    EXPECT_EQ(locked.err, refusal);
    EXPECT_EQ(readFileBytes(output), file);

    // A device is shared by nature: held locked elsewhere, it is written all the same.
    const int device = open("/dev/null", O_WRONLY);
    ASSERT_EQ(flock(device, LOCK_EX), 0);
    const CliRun shared = runCli(job.dir, {small, job.impulse, "/dev/null"});
    close(device);
    EXPECT_EQ(shared.exitStatus, 0) << shared.err;
}

} // namespace
