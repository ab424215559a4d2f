#include "tests/cli/CliRunner.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long a test waits for a moment of the program's run before giving up; generous, as
// the sanitizer builds run many times slower.
constexpr std::chrono::seconds kLongestWait(300);
// Catching begins before the program does anything else.
constexpr std::chrono::seconds kLongestStart(60);
constexpr std::chrono::milliseconds kPoll(1);

// Polls until holds() is true; false when the process ended or the wait ran out.
template <typename Condition>
bool waitFor(pid_t pid, Condition holds, std::chrono::seconds longest = kLongestWait) {
    const auto deadline = Clock::now() + longest;
    while (Clock::now() < deadline) {
        if (holds()) {
            return true;
        }
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

// A mask line of /proc/PID/status ("SigCgt:", "ShdPnd:", "SigPnd:") as a number.
uint64_t statusMask(pid_t pid, const char* name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::stoull(line.substr(strlen(name)), nullptr, 16);
        }
    }
    return 0;
}

uint64_t bit(int signalNumber) {
    return uint64_t{1} << (signalNumber - 1);
}

std::string readAll(const std::string& path) {
    const Bytes bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

CliProcess::CliProcess(pid_t started, std::string out, std::string err)
    : pid(started), outPath(std::move(out)), errPath(std::move(err)) {}

CliProcess::CliProcess(CliProcess&& other) noexcept
    : pid(other.pid), outPath(std::move(other.outPath)), errPath(std::move(other.errPath)) {
    other.pid = -1;
}

CliProcess::~CliProcess() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

CliProcess startCli(const ScratchDir& dir, const std::vector<std::string>& args,
                    const ProcessLimits& limits, const std::string& standardInput) {
    static std::atomic<unsigned> runs{0};
    const std::string tag = std::to_string(runs.fetch_add(1));
    CliProcess process{-1, dir.file("stdout-" + tag + ".txt"), dir.file("stderr-" + tag + ".txt")};
    std::vector<char*> argv = {const_cast<char*>(CONVOLUZIONE_CLI_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const std::string inputPath = standardInput.empty() ? "/dev/null" : standardInput;
    process.pid = fork();
    if (process.pid == 0) {
        setpgid(0, 0);
        setenv("TMPDIR", dir.path.c_str(), 1);
        const int in = open(inputPath.c_str(), O_RDONLY); // a FIFO waits here for its writer
        dup2(in, 0);
        const int out = open(process.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(process.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        // Only the three standard streams go on to the program.
        for (int descriptor = 3; descriptor < 1024; ++descriptor) {
            close(descriptor);
        }
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
            signal(signalNumber, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (!limitThisProcess(limits)) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    setpgid(process.pid, process.pid); // either may run first; the group is there for both
    return process;
}

CliRun waitCli(CliProcess& process) {
    int status = 0;
    waitpid(process.pid, &status, 0);
    process.pid = -1;
    CliRun run{};
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.endedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.out = readAll(process.outPath);
    run.err = readAll(process.errPath);
    return run;
}

CliRun runCli(const ScratchDir& dir, const std::vector<std::string>& args,
              const ProcessLimits& limits, const std::string& standardInput) {
    CliProcess process = startCli(dir, args, limits, standardInput);
    return waitCli(process);
}

bool waitUntilCatching(pid_t pid, int signalNumber) {
    return waitFor(
        pid, [&] { return (statusMask(pid, "SigCgt:") & bit(signalNumber)) != 0; }, kLongestStart);
}

bool sendAndWaitDelivered(pid_t pid, int signalNumber) {
    kill(pid, signalNumber);
    return waitFor(pid, [&] {
        return ((statusMask(pid, "ShdPnd:") | statusMask(pid, "SigPnd:")) & bit(signalNumber)) == 0;
    });
}

bool waitUntil(pid_t pid, const std::function<bool()>& holds) {
    return waitFor(pid, holds);
}

int temporaryFiles(const ScratchDir& dir) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        count += entry.path().filename().string().rfind("convoluzione-", 0) == 0 ? 1 : 0;
    }
    return count;
}

bool waitUntilFileHolds(pid_t pid, const std::string& path, uint64_t bytes) {
    return waitFor(pid, [&] {
        struct stat status {};
        return stat(path.c_str(), &status) == 0 && static_cast<uint64_t>(status.st_size) >= bytes;
    });
}

bool waitUntilFieldSet(pid_t pid, const std::string& path, uint64_t offset) {
    return waitFor(pid, [&] {
        const Bytes file = readFileBytes(path);
        return file.size() >= offset + 4 && fieldLe32(file, offset) != 0;
    });
}
