// Starting a job's worker and letting it go again: the same steps in every front end.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

// What a front end says when the worker cannot be started.
constexpr char kTextNotStarted[] = "Impossibile avviare l'elaborazione";

// A worker posts its end message as its very last act, so the wait for its end is short;
// this bounds it when something keeps the thread from ending.
constexpr uint32_t kWorkerWaitMs = 12000;

// The calls that make and release a job's event and thread: the platform's own, or a
// test's stand-ins that record them and force their failures.
struct JobWorkerCalls {
    EventHandle (*createStopEvent)();
    void (*closeStopEvent)(EventHandle event);
    ThreadHandle (*startWorker)(WorkerEntry entry, void* argument);
};

JobWorkerCalls platformJobWorkerCalls();

// Creates the job's stop event, starts the worker on the paths already in jobState and
// marks the job running. Returns 1 when it started. Without its event a job could not be
// stopped, and a front end that ends (the dialog closed, an interrupt) would then cut the
// output short, so such a job is not started: 0, with nothing left open.
int startJobWorker(const JobWorkerCalls& calls);

// After the worker's end message: waits at most kWorkerWaitMs for its thread, releases the
// thread's handle and marks the job idle. The stop event is closed only when the worker
// has surely ended: one that outlived the wait may still look at it, and the handle's
// number could by then name something else; such an event stays open for the rest of the
// process. Returns 1 when the worker ended, so that the front end knows whether what else
// the worker used (the command line's message window) may go too.
int endJobWorker(const JobWorkerCalls& calls);
