// The messages a job posts to the front end's window as its last act, both parameters 0.
#pragma once

#include <cstdint>

constexpr uint32_t WM_JOB_FAILED = 0x8000;  // failed; JobState::errorText says why
constexpr uint32_t WM_JOB_DONE = 0x8001;    // the output is finished and every file closed
constexpr uint32_t WM_JOB_STOPPED = 0x8002; // stopped on request; the output is finished
                                            // and valid, holding the frames made so far
