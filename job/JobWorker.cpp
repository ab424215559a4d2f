#include "job/JobWorker.h"

#include "job/ConvolutionJob.h"
#include "job/JobState.h"

JobWorkerCalls platformJobWorkerCalls() {
    return JobWorkerCalls{createStopEvent, closeStopEvent, startWorkerThread};
}

int startJobWorker(const JobWorkerCalls& calls) {
    jobState.progress.active.store(0, std::memory_order_relaxed);
    jobState.stopEvent = calls.createStopEvent();
    ThreadHandle worker = nullptr;
    if (jobState.stopEvent != nullptr) {
        worker = calls.startWorker(runConvolutionJob, nullptr);
    }
    if (worker == nullptr) {
        calls.closeStopEvent(jobState.stopEvent);
        jobState.stopEvent = nullptr;
        return 0;
    }
    // The worker never reads these two, and its end message is only handled after the
    // front end has gone back to waiting for it.
    jobState.workerThread = worker;
    jobState.running = 1;
    return 1;
}

int endJobWorker(const JobWorkerCalls& calls) {
    const int ended = waitForThread(jobState.workerThread, kWorkerWaitMs);
    closeThreadHandle(jobState.workerThread);
    jobState.workerThread = nullptr;
    if (ended) {
        calls.closeStopEvent(jobState.stopEvent);
    }
    jobState.stopEvent = nullptr;
    jobState.progress.active.store(0, std::memory_order_release);
    jobState.running = 0;
    return ended;
}
