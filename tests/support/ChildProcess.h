// A process of its own under resource limits, for what a test must not meet in its own
// process: a full disk (a file-size limit), no memory (an address-space limit), a run that
// never ends (a watchdog). runJobInChild runs a job that way; the command line's tests
// (tests/cli/CliRunner.h) start the real program under the same limits. POSIX only.
#pragma once

#include <cstdint>
#include <string>

// No limit on a resource (a file-size limit of 0 is a limit: no byte may be written).
constexpr uint64_t kNoLimit = UINT64_MAX;

struct ProcessLimits {
    uint64_t fileSize = kNoLimit;     // RLIMIT_FSIZE in bytes
    uint64_t addressSpace = kNoLimit; // RLIMIT_AS in bytes
    unsigned watchdogSeconds = 600;   // a child still running after this long ends by SIGALRM
    uint64_t openFiles = kNoLimit;    // RLIMIT_NOFILE: one more than the highest descriptor
};

// Called in a freshly forked child: no core files, the limits, and the watchdog (an alarm,
// which survives exec). 1 when every limit took.
int limitThisProcess(const ProcessLimits& limits);

struct ChildJob {
    bool exitedCleanly;    // the child reported and ended with status 0 (a sanitizer report,
                           // a crash or the watchdog would not)
    uint32_t message;      // the end message its job posted
    std::string errorText; // and the text with it
    int systemError;       // and the system's reason the job recorded (an errno value)
};

// Runs the job (runJob, tests/support/JobHarness.h) in a child process under the limits,
// with SIGXFSZ ignored, as the programs do, so a write beyond the file-size limit is a
// refused write and not the end of the process.
ChildJob runJobInChild(const std::string& input, const std::string& impulse,
                       const std::string& output, const ProcessLimits& limits);
