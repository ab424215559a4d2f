// Runs the real convoluzione-cli in a child process, as a shell would, and watches it: its
// exit status or the signal that ended it, what it wrote on each stream, and the moments a
// test waits for before it sends a signal.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

// A running program. One that no test waited for (an assertion gave up on it) is killed
// and reaped when the record goes, so nothing is left running.
struct CliProcess {
    pid_t pid;           // the running program; -1 once waited for
    std::string outPath; // where its standard output goes
    std::string errPath; // and its standard error

    CliProcess(pid_t started, std::string out, std::string err);
    CliProcess(CliProcess&& other) noexcept;
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;
    ~CliProcess();
};

struct CliRun {
    int exitStatus;  // the status it exited with, or -1 when a signal ended it
    int endedBy;     // the signal that ended it, or 0
    std::string out; // standard output
    std::string err; // standard error
};

// Starts the program with args. The child starts with every signal at its default action
// and none blocked, whatever the test runner does, no core files, and the given limits; in
// a process group of its own (so a test can signal the group, as `timeout` does); with its
// temporary files in dir (TMPDIR); and with standard input read from standardInput (a
// file or a FIFO; the null device when empty).
CliProcess startCli(const ScratchDir& dir, const std::vector<std::string>& args,
                    const ProcessLimits& limits = ProcessLimits{},
                    const std::string& standardInput = "");
CliRun waitCli(CliProcess& process);
CliRun runCli(const ScratchDir& dir, const std::vector<std::string>& args,
              const ProcessLimits& limits = ProcessLimits{}, const std::string& standardInput = "");

// Whether every signal sent to the program reaches its handler. ThreadSanitizer takes a
// signal at once but runs the handler later, at a call of its own choosing: under load it
// merges a signal with one of the same number still waiting there and, rarely, never runs
// the handler for one at all. A test whose outcome hangs on each signal reaching the
// program skips that part under it: that build is there for the program's own races, and
// the job's stops are driven there without signals.
#if defined(__SANITIZE_THREAD__)
constexpr bool kEverySignalReachesTheProgram = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kEverySignalReachesTheProgram = false;
#else
constexpr bool kEverySignalReachesTheProgram = true;
#endif
#else
constexpr bool kEverySignalReachesTheProgram = true;
#endif
constexpr const char* kSignalsUnderTheSanitizer =
    "under ThreadSanitizer a signal may not reach the program's handler";

// Waits until the process has installed a handler for the signal (so it will not die of
// it at once); false when it ended first or the wait timed out.
bool waitUntilCatching(pid_t pid, int signalNumber);
// Sends the signal and waits until the process has taken it (it is no longer pending);
// false when the process ended instead.
bool sendAndWaitDelivered(pid_t pid, int signalNumber);
// Waits until holds() is true; false when the process ended first.
bool waitUntil(pid_t pid, const std::function<bool()>& holds);
// The files in dir that the program made for itself (a copy of standard input goes to
// TMPDIR, which startCli sets to dir).
int temporaryFiles(const ScratchDir& dir);
// Waits until the file holds at least `bytes` bytes; false when the process ended first.
bool waitUntilFileHolds(pid_t pid, const std::string& path, uint64_t bytes);
// Waits until the little-endian 32-bit field at offset of the file is not 0; false when the
// process ended first.
bool waitUntilFieldSet(pid_t pid, const std::string& path, uint64_t offset);
