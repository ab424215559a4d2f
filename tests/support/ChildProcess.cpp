#include "tests/support/ChildProcess.h"

#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "job/JobState.h"
#include "tests/support/JobHarness.h"

namespace {

int limitTo(int resource, uint64_t bytes) {
    const rlimit bound{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    return setrlimit(resource, &bound) == 0;
}

// What the child reports through its pipe: the message, the system's error, then the text,
// of fixed size.
constexpr size_t kReportBytes = 4 + 4 + 512;

} // namespace

int limitThisProcess(const ProcessLimits& limits) {
    int ok = limitTo(RLIMIT_CORE, 0);
    if (limits.fileSize != kNoLimit) {
        ok &= limitTo(RLIMIT_FSIZE, limits.fileSize);
    }
    if (limits.addressSpace != kNoLimit) {
        ok &= limitTo(RLIMIT_AS, limits.addressSpace);
    }
    if (limits.openFiles != kNoLimit) {
        ok &= limitTo(RLIMIT_NOFILE, limits.openFiles);
    }
    alarm(limits.watchdogSeconds); // SIGALRM's default action ends the process
    return ok;
}

ChildJob runJobInChild(const std::string& input, const std::string& impulse,
                       const std::string& output, const ProcessLimits& limits) {
    ChildJob outcome{};
    int channel[2];
    if (pipe(channel) != 0) {
        return outcome;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        signal(SIGXFSZ, SIG_IGN);
        int status = limitThisProcess(limits) ? 0 : 3;
        const JobRun run = runJob(input, impulse, output);
        char report[kReportBytes] = {};
        memcpy(report, &run.message, 4);
        memcpy(report + 4, &jobState.systemError, 4);
        strncpy(report + 8, run.errorText.c_str(), kReportBytes - 9);
        if (write(channel[1], report, sizeof report) != static_cast<ssize_t>(sizeof report)) {
            status = 4;
        }
        _exit(status);
    }
    close(channel[1]);
    char report[kReportBytes] = {};
    size_t got = 0;
    while (child > 0 && got < sizeof report) {
        const ssize_t n = read(channel[0], report + got, sizeof report - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(channel[0]);
    int status = 0;
    if (child > 0) {
        waitpid(child, &status, 0);
    }
    outcome.exitedCleanly =
        child > 0 && got == sizeof report && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    memcpy(&outcome.message, report, 4);
    memcpy(&outcome.systemError, report + 4, 4);
    report[sizeof report - 1] = '\0';
    outcome.errorText = report + 8;
    return outcome;
}
