// Starting, stopping and ending the dialog's job. All of it runs on the interface thread.
#pragma once

#include <cstdint>

#include <windows.h>

// Takes copies of the three paths, creates the job's stop event and starts the worker,
// then shows the running look. When the event or the thread cannot be had, says so in an
// "Errore" box and stays idle.
void startJob(HWND dialog);

// The "&Ferma" button: asks the running job to stop and disables the button until the
// job's last message arrives.
void requestStop(HWND dialog);

// The worker's last message (WM_JOB_DONE, WM_JOB_FAILED or WM_JOB_STOPPED): waits for its
// thread, releases the job's handles, tells the user the outcome and returns to the idle
// look. A message from a job the dialog has already let go is ignored.
void endJob(HWND dialog, uint32_t message);

// The close box: a running job is stopped and waited for first, so that it leaves a
// finished file behind; then the dialog ends with 0.
void closeDialog(HWND dialog);
