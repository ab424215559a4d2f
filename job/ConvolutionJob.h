// The worker's body and what it shares with the front ends that start it: the job runs on
// the paths in jobState and reports its end with one message (JobMessages.h).
#pragma once

#include "job/JobState.h"

// The worker thread's entry: runs one job from jobState and posts WM_JOB_DONE,
// WM_JOB_STOPPED or WM_JOB_FAILED to jobState.dialogWindow as its last act. The argument
// is not used. Returns the thread's exit code: 0, or -1 (as unsigned) after a failure.
unsigned runConvolutionJob(void* unused);

// Records message in errorText and posts WM_JOB_FAILED. The job returns right after it.
void failJob(const char* message);

// Copies a path into one of the state's fixed fields, truncated to fit; 1 when it fit whole.
int copyPath(char (&field)[kPathBytes], const char* path);
