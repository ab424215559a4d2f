// Runs one job the way a front end does, and the checks every hardening test makes on what
// the job leaves behind: the inputs untouched, the output a valid file of whole frames.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/ConvolutionJob.h"
#include "tests/support/TestFiles.h"

struct JobRun {
    uint32_t message;      // the job's end message; 0 when none came in time
    std::string errorText; // jobState.errorText once the job ended
    int extraMessages;     // messages posted after the first; a job posts exactly one
    int32_t active;        // progress.active once the job ended; always back to 0
    bool threadEnded;      // the worker returned after posting its message
};

// Copies the paths into jobState, starts runConvolutionJob on a worker thread with a fresh
// stop event and the portable message window, and waits for its message. With stopAfter
// the stop event is signalled that long after the worker started (zero: before it starts).
JobRun runJob(const std::string& input, const std::string& impulse, const std::string& output,
              std::optional<std::chrono::microseconds> stopAfter = std::nullopt);

// A file's bytes as they were before the job, to prove the job did not touch it.
struct FileSnapshot {
    std::string path; // the file
    Bytes bytes;      // its content when taken
};
FileSnapshot snapshot(const std::string& path);
::testing::AssertionResult unchanged(const FileSnapshot& before);

// The output is a valid WAV file with the given channel count whose samples are exactly the
// first frames of `full` (interleaved); sets *frames to how many it holds.
::testing::AssertionResult validPrefixOf(const std::string& output, uint32_t channels,
                                         const std::vector<int16_t>& full, uint64_t* frames);

// The job's output for two files built from these samples, from the convolution's
// definition: what a complete run must write after the header.
std::vector<int16_t> expectedOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                    uint16_t impulseChannels, const std::vector<int16_t>& impulse);

bool fileExists(const std::string& path);
