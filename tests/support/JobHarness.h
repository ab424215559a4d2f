// Runs one job the way a front end does, and the checks tests make on what a job leaves
// behind: the inputs untouched, the output a valid file of whole frames.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/ConvolutionJob.h"
#include "tests/support/TestFiles.h"

struct JobRun {
    uint32_t message;      // the job's end message; 0 when none came in time
    std::string errorText; // jobState.errorText once the job ended
    unsigned exitCode;     // what the worker's entry returned (0, or -1 as unsigned after a
                           // failure); meaningful when threadEnded
    int extraMessages;     // messages posted after the first; a job posts exactly one
    int32_t active;        // progress.active once the job ended; always back to 0
    bool threadEnded;      // the worker returned after posting its message
};

// What the worker's entry returns after a failure.
constexpr unsigned kJobFailedExit = static_cast<unsigned>(-1);

// Stops the job before its worker starts.
constexpr int32_t kStopBeforeStart = 0;

// Copies the paths into jobState, starts the job's worker with the portable message window
// as the front ends do (JobWorker.h), waits for its message, and lets the worker go. With
// stopAfterFrames the stop event is signalled once the job has handed that many output
// frames to its writer (kStopBeforeStart: before the worker starts), or not at all when the
// job ends first: what the job has done decides, never how long it took, so a slow or busy
// machine sees the same run.
JobRun runJob(const std::string& input, const std::string& impulse, const std::string& output,
              std::optional<int32_t> stopAfterFrames = std::nullopt);

// The job ended as every job must: with `message` and `text` (empty unless it failed), one
// message only, progress.active back to 0, and its worker returned with the exit code that
// goes with that end.
::testing::AssertionResult endedWith(const JobRun& run, uint32_t message, const char* text = "");

// A file's bytes as they were before the job, to prove the job did not touch it.
struct FileSnapshot {
    std::string path; // the file
    Bytes bytes;      // its content when taken
};
FileSnapshot snapshot(const std::string& path);
::testing::AssertionResult unchanged(const FileSnapshot& before);

// The bytes make a valid written WAV file (WrittenWav.h) of these channels and frames.
::testing::AssertionResult validWav(const Bytes& file, uint32_t channels, uint64_t frames);

// The output is a valid WAV file with the given channel count whose samples are exactly the
// first frames of `full` (interleaved); sets *frames to how many it holds.
::testing::AssertionResult validPrefixOf(const std::string& output, uint32_t channels,
                                         const std::vector<int16_t>& full, uint64_t* frames);

bool fileExists(const std::string& path);
