// The files the dialog tests work on, made once per run in a scratch folder.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

struct DialogFiles {
    std::string input;       // 2000 frames, mono
    std::string impulse;     // 100 frames, stereo
    std::string longInput;   // 2^22 frames, stereo: a job that outlasts any test step
    std::string longImpulse; // 65536 frames, stereo
    std::string folder;      // a folder, which no input field may name
    std::string missing;     // a name that does not exist
};

const DialogFiles& dialogFiles();
// A new file name in the scratch folder, not yet created.
std::string freshOutputPath(const char* stem);

constexpr uint32_t kShortOutputBytes = (2000 + 100) * 4; // stereo, M + N frames

// A finished output: stereo, and its header counts exactly the sample bytes that follow.
// Returns those bytes, or -1 (with the reason in the test log) when the file is not so.
int64_t finishedStereoBytes(const std::string& path);

// The output is a finished stereo WAV holding at least one frame, and its frames are the
// first frames of what the complete job on input and impulse writes.
::testing::AssertionResult startOfFullResult(const std::string& output, const std::string& input,
                                             const std::string& impulse);
