// Starting, stopping and ending the dialog's job. All of it runs on the interface thread.
#pragma once

#include <cstdint>

#include <windows.h>

// A press of ID_START: starts a job when none runs ("&Avvia"), asks the running one to
// stop otherwise ("&Ferma"). A press does nothing
// - while a job's end is being shown (its box, the shell's "play"): the button still
//   reads "&Ferma" then, but the job it named is over, and a new one would rewrite the
//   file just offered;
// - sooner than the user's double-click time after the press before it that was acted
//   on: the second click of a double click, or a key pressed twice, must not undo the
//   first (stop the job it has just started, or start a new job over the file it has
//   just stopped).
void pressStartButton(HWND dialog);

// Takes copies of the three paths, creates the job's stop event and starts the worker,
// then shows the running look. When the event or the thread cannot be had, says so in an
// "Errore" box and stays idle.
void startJob(HWND dialog);

// The "&Ferma" button: asks the running job to stop and disables the button until the
// job's last message arrives. The focus, when the button had it, waits on the next tab
// stop and comes back with the idle look.
void requestStop(HWND dialog);

// The worker's last message (WM_JOB_DONE, WM_JOB_FAILED or WM_JOB_STOPPED): waits for its
// thread, releases the job's handles, tells the user the outcome and returns to the idle
// look. A message from a job the dialog has already let go is ignored.
void endJob(HWND dialog, uint32_t message);

// The close box, and the end of the Windows session: a running job is stopped and waited
// for first, so that it leaves a finished file behind; then the dialog ends with 0.
void closeDialog(HWND dialog);
