#include "ui/JobControl.h"

#include "job/JobMessages.h"
#include "job/JobState.h"
#include "ui/DialogIds.h"
#include "ui/DialogServices.h"
#include "ui/DialogTexts.h"
#include "ui/RunningLook.h"

namespace {

void copyField(HWND dialog, int id, char (&path)[kPathBytes]) {
    path[0] = '\0';
    GetDlgItemTextA(dialog, id, path, kPathBytes);
}

// The worker posts its message as its very last act, so the wait is short. Its stop event
// is closed only once it has surely ended: a worker that outlived the wait may still look
// at it, and the handle's number could by then name something else.
void releaseWorker() {
    const int ended = waitForThread(jobState.workerThread, kWorkerWaitMs);
    closeThreadHandle(jobState.workerThread);
    jobState.workerThread = nullptr;
    if (ended) {
        dialogServices.closeStopEvent(jobState.stopEvent);
    }
    jobState.stopEvent = nullptr;
    jobState.progress.active.store(0, std::memory_order_release);
    jobState.running = 0;
}

} // namespace

void startJob(HWND dialog) {
    // The job works on these copies; the fields may change while it runs.
    copyField(dialog, ID_INPUT_PATH, jobState.inputPath);
    copyField(dialog, ID_OUTPUT_PATH, jobState.outputPath);
    copyField(dialog, ID_IMPULSE_PATH, jobState.impulsePath);

    // Without its event a job could not be stopped, and closing the dialog would then cut
    // the output short; such a job is not started.
    jobState.stopEvent = dialogServices.createStopEvent();
    ThreadHandle worker = nullptr;
    if (jobState.stopEvent != nullptr) {
        worker = dialogServices.startWorker(runConvolutionJob, nullptr);
    }
    if (worker == nullptr) {
        dialogServices.closeStopEvent(jobState.stopEvent);
        jobState.stopEvent = nullptr;
        dialogServices.showMessageBox(dialog, kTextNotStarted, kErrorCaption, MB_OK);
        return;
    }
    // The worker never reads these two, and its message can only be handled after this
    // function has returned to the message loop.
    jobState.workerThread = worker;
    jobState.running = 1;
    setRunningLook(dialog, true);
}

void requestStop(HWND dialog) {
    signalStopEvent(jobState.stopEvent);
    EnableWindow(GetDlgItem(dialog, ID_START), FALSE);
}

void endJob(HWND dialog, uint32_t message) {
    if (jobState.running == 0) {
        return;
    }
    releaseWorker();
    // While a box is up the dialog keeps its running look; the idle look returns after.
    if (message == WM_JOB_FAILED) {
        dialogServices.showMessageBox(dialog, jobState.errorText, kErrorCaption, MB_OK);
    } else if (message == WM_JOB_DONE) {
        const int answer = dialogServices.showMessageBox(dialog, kDoneQuestion, kDoneCaption,
                                                         MB_YESNO | MB_DEFBUTTON1);
        if (answer == IDYES) {
            // outputPath is the job's own copy: the file it wrote, whatever the field says now.
            dialogServices.shellExecute(dialog, kPlayVerb, jobState.outputPath, nullptr, nullptr,
                                        SW_SHOWNORMAL);
        }
    }
    // A stopped job was the user's own wish: no box.
    setRunningLook(dialog, false);
}

void closeDialog(HWND dialog) {
    if (jobState.running != 0) {
        signalStopEvent(jobState.stopEvent);
        releaseWorker();
    }
    EndDialog(dialog, 0);
}
