// The worker's body and what it shares with the front ends that start it: the job runs on
// the paths in jobState and reports its end with one message (JobMessages.h).
#pragma once

#include "job/JobState.h"

// The worker thread's entry: runs one job from jobState and posts WM_JOB_DONE,
// WM_JOB_STOPPED or WM_JOB_FAILED to jobState.dialogWindow as its last act. The argument
// is not used. Returns the thread's exit code: 0, or -1 (as unsigned) after a failure.
unsigned runConvolutionJob(void* unused);

// Records the failure (its code, its sentence in errorText, and the system's reason, 0 for
// none) and posts WM_JOB_FAILED. The job returns right after it.
void failJob(JobFailure failure, int systemError);

// True when both paths name one file: another relative path, "./" or a hard link count
// too. A path that does not exist yet cannot be either of the inputs.
bool sameFile(const char* a, const char* b);

// Copies a path into one of the state's fixed fields, truncated to fit; 1 when it fit whole.
int copyPath(char (&field)[kPathBytes], const char* path);
