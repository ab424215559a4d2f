// The record the front end and the worker share for the length of the process.
#pragma once

#include <atomic>
#include <cstdint>

#include "convolution/JobProgress.h"
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
    WindowHandle dialogWindow;       // where the worker posts its end message
    std::atomic<int32_t> running;    // 1 while a job runs (front end only)
    JobProgress progress;            // written by the engine, read by the front end's timer
    ThreadHandle workerThread;       // the worker; written and read by the front end only
    EventHandle stopEvent;           // signalled by the front end to stop the running job; the
                                     // worker reads it once, at its start, and keeps its copy
    char errorText[kErrorTextBytes]; // why the job failed; written before WM_JOB_FAILED
    uint64_t saturatedSamples;       // output samples clamped to 16 bits; written before
                                     // WM_JOB_DONE or WM_JOB_STOPPED
    float saturationPeak;            // largest magnitude among them (1.0 = full scale), 0 when
                                     // none; likewise
    uint32_t inputFrames;            // frames of the input (as its header declares) and its
    uint32_t sampleRate;             // sample rate: what a job completed; likewise
};

// The one job state of the process; all zero at start.
extern JobState jobState;
