// The command line as a script sees it: exit statuses, what goes to which stream, and
// Ctrl-C leaving a valid file.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "job/FailureTexts.h"
#include "tests/support/TestFiles.h"

namespace {

struct CliRun {
    int status;      // exit status, or -1 when it did not exit normally
    std::string out; // standard output
    std::string err; // standard error
};

// Runs the CLI with args; with interruptAfterMs > 0 it gets SIGINT after that long.
CliRun runCli(const ScratchDir& dir, const std::vector<std::string>& args,
              int interruptAfterMs = 0) {
    const std::string outPath = dir.file("stdout.txt");
    const std::string errPath = dir.file("stderr.txt");
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>(CONVOLUZIONE_CLI_PATH)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (interruptAfterMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
        kill(child, SIGINT);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const Bytes out = readFileBytes(outPath);
    const Bytes err = readFileBytes(errPath);
    return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
                  std::string(err.begin(), err.end())};
}

TEST(Cli, HelpGoesToStandardOutputAndWrongUsageToStandardError) {
    ScratchDir dir;
    for (const char* flag : {"-h", "--help"}) {
        const CliRun help = runCli(dir, {flag});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Uso: convoluzione-cli INPUT IMPULSO OUTPUT\n", 0), 0u);
        EXPECT_EQ(help.err, "");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"a.wav"}, {"a.wav", "b.wav"}, {"a", "b", "c", "d"}}) {
        const CliRun wrong = runCli(dir, args);
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.out, "");
        EXPECT_EQ(wrong.err.rfind("Uso: ", 0), 0u);
    }
}

TEST(Cli, SucceedsSilentlyWhenStandardErrorIsNotATerminal) {
    ScratchDir dir;
    writeFileBytes(dir.file("in.wav"), pcmWav(2, 8000, {100, 200, 300, 400}));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 8000, {16384}));
    const CliRun run = runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))),
              (std::vector<int16_t>{0, 0, 50, 100, 150, 200}));
}

TEST(Cli, AFailureIsOneLineOnStandardError) {
    ScratchDir dir;
    writeFileBytes(dir.file("in.wav"), pcmWav(1, 8000, {1}));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 22050, {1}));
    CliRun run = runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string(kTextSampleRatesDiffer) + "\n");
    run = runCli(dir, {dir.file("missing.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string(kTextInputUnreadable) + "\n");
    run = runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), std::string(300, 'x')});
    EXPECT_EQ(run.status, 2);
}

TEST(Cli, CtrlCStopsTheJobAndLeavesAValidFile) {
    ScratchDir dir;
    // Both files claim far more frames than they hold; the missing ones are silence, and the
    // job would run for many minutes.
    writeFileBytes(dir.file("in.wav"),
                   riff({pcmFormatChunk(2, 8000), chunkWithSize("data", 0x04000000, {})}));
    writeFileBytes(dir.file("ir.wav"),
                   riff({pcmFormatChunk(2, 8000), chunkWithSize("data", 0x01000000, {})}));
    const auto start = std::chrono::steady_clock::now();
    const CliRun run =
        runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")}, 700);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, "");
    EXPECT_LT(seconds.count(), 30.0);
    const Bytes out = readFileBytes(dir.file("out.wav"));
    ASSERT_GE(out.size(), 44u);
    EXPECT_EQ(fieldLe32(out, 4), out.size() - 8);
    EXPECT_EQ(fieldLe32(out, 40), out.size() - 44);
    EXPECT_EQ(out.size() % 4, 0u);
}

} // namespace
