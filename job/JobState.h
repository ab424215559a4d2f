// The record the front end and the worker share for the length of the process.
#pragma once

#include <atomic>
#include <cstdint>

#include "convolution/JobProgress.h"
#include "job/FailureTexts.h"
#include "platform/Platform.h"

constexpr uint32_t kPathBytes = 260;      // the platform's path limit, terminator included
constexpr uint32_t kErrorTextBytes = 512; // room for the longest failure sentence

struct JobState {
    char inputPath[kPathBytes];      // recording to process; written before the worker starts
    char impulsePath[kPathBytes];    // impulse response; likewise
    char outputPath[kPathBytes];     // file to write; likewise, and read to play the result
    unsigned threadLimit;            // most engine threads; 0 = as many as the process may run
                                     // on (usableProcessorCount); written before the worker
                                     // starts
    int outputToStandardOutput;      // 1: write on standard output instead of outputPath
    int outputMustBeNew;             // 1: fail rather than replace an existing outputPath
    WindowHandle dialogWindow;       // where the worker posts its end message
    std::atomic<int32_t> running;    // 1 while a job runs; set and cleared on the front end's
                                     // thread by startJobWorker and endJobWorker (JobWorker.h)
    JobProgress progress;            // written by the engine, read by the front end's timer
    ThreadHandle workerThread;       // the worker; written and read by the front end only
    EventHandle stopEvent;           // signalled by the front end to stop the running job; the
                                     // worker reads it once, at its start, and keeps its copy
    char errorText[kErrorTextBytes]; // why the job failed; written before WM_JOB_FAILED
    JobFailure failure;              // the same as a code; likewise
    int systemError;                 // the system's reason (an errno value) from the call
                                     // that failed, or 0 when the files' contents or the
                                     // job's own rules are the reason; likewise
    uint64_t saturatedSamples;       // output samples clamped to 16 bits; written before
                                     // WM_JOB_DONE or WM_JOB_STOPPED
    float saturationPeak;            // largest magnitude among them (1.0 = full scale), 0 when
                                     // none; likewise
    uint32_t inputFramesHeld;        // frames the input holds whole and declares; likewise
    uint32_t inputFramesDeclared;
    uint32_t sampleRate;        // the input's, which says how long those frames last;
                                // likewise
    uint32_t impulseFramesHeld; // likewise for the impulse
    uint32_t impulseFramesDeclared;
    uint32_t outputFramesWritten;  // frames that reached the output, and those its header
    uint32_t outputFramesPromised; // counted from the start when it could not be patched at
                                   // its end (a pipe; 0 otherwise); written before the end
                                   // message once the output was created
};

// The one job state of the process; all zero at start.
extern JobState jobState;
