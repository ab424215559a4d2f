// Runs one job from jobState, as a front end would, and collects how it ended.
#pragma once

#include <cstdint>
#include <string>

#include "job/JobState.h"

struct JobOutcome {
    uint32_t message;      // the one message the job posted (0 when none)
    std::string errorText; // jobState.errorText after the job
    unsigned exitCode;     // what the worker's entry returned
    int32_t active;        // progress.active after the job
    int extraMessages;     // messages beyond the first: always 0
};

// Runs the job on the calling thread. stopFirst signals the stop event before it starts.
JobOutcome runJobHere(const std::string& input, const std::string& impulse,
                      const std::string& output, bool stopFirst = false);
