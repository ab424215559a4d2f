#include "ui/JobControl.h"

#include "job/JobMessages.h"
#include "job/JobState.h"
#include "job/JobWorker.h"
#include "ui/DialogIds.h"
#include "ui/DialogServices.h"
#include "ui/DialogState.h"
#include "ui/DialogTexts.h"
#include "ui/RunningLook.h"

namespace {

void copyField(HWND dialog, int id, char (&path)[kPathBytes]) {
    path[0] = '\0';
    GetDlgItemTextA(dialog, id, path, kPathBytes);
}

// Players register the verbs they like: some offer "open" for .wav files but no "play".
// The shell reports success with a value above 32; otherwise its default verb is asked
// for, once. If that fails too, nothing more happens.
void playOutput(HWND dialog) {
    const HINSTANCE played = dialogServices.shellExecute(dialog, kPlayVerb, jobState.outputPath,
                                                         nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(played) <= 32) {
        dialogServices.shellExecute(dialog, nullptr, jobState.outputPath, nullptr, nullptr,
                                    SW_SHOWNORMAL);
    }
}

// The focus a stop moved to the next tab stop goes back to the button, unless the user
// has put it somewhere else meanwhile (or another program has it: then the dialog is not
// active, no control of it has the focus, and taking it back would steal it).
void giveFocusBack(HWND dialog) {
    const HWND button = GetDlgItem(dialog, ID_START);
    if (dialogState.focusParkedOn != nullptr && GetFocus() == dialogState.focusParkedOn &&
        IsWindowEnabled(button)) {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
    }
    dialogState.focusParkedOn = nullptr;
}

} // namespace

void pressStartButton(HWND dialog) {
    if (dialogState.ending) {
        return;
    }
    const DWORD now = dialogServices.clockMs();
    if (dialogState.pressed && now - dialogState.lastPressMs < dialogServices.doubleClickTimeMs()) {
        return;
    }
    dialogState.pressed = true;
    dialogState.lastPressMs = now;
    if (jobState.running == 0) {
        startJob(dialog);
    } else {
        requestStop(dialog);
    }
}

void startJob(HWND dialog) {
    // The job works on these copies; the fields may change while it runs.
    copyField(dialog, ID_INPUT_PATH, jobState.inputPath);
    copyField(dialog, ID_OUTPUT_PATH, jobState.outputPath);
    copyField(dialog, ID_IMPULSE_PATH, jobState.impulsePath);

    if (!startJobWorker(dialogServices.jobWorker)) {
        dialogServices.showMessageBox(dialog, kTextNotStarted, kErrorCaption, MB_OK);
        return;
    }
    setRunningLook(dialog, true, dialogState.startRuleMet);
}

void requestStop(HWND dialog) {
    signalStopEvent(jobState.stopEvent);
    dialogState.focusParkedOn = enableStartButton(dialog, false);
}

void endJob(HWND dialog, uint32_t message) {
    if (jobState.running == 0) {
        return;
    }
    // From here until the idle look the button still reads "&Ferma" but names no job. It
    // can be pressed: a box opened from inside a file chooser's loop, or the shell while
    // it looks for a player, hands clicks back to the dialog.
    dialogState.ending = true;
    endJobWorker(dialogServices.jobWorker);
    // While a box is up the dialog keeps its running look; the idle look returns after.
    if (message == WM_JOB_FAILED) {
        dialogServices.showMessageBox(dialog, jobState.errorText, kErrorCaption, MB_OK);
    } else if (message == WM_JOB_DONE) {
        const int answer = dialogServices.showMessageBox(dialog, kDoneQuestion, kDoneCaption,
                                                         MB_YESNO | MB_DEFBUTTON1);
        if (answer == IDYES) {
            // outputPath is the job's own copy: the file it wrote, whatever the field says now.
            playOutput(dialog);
        }
    }
    // A stopped job was the user's own wish: no box.
    setRunningLook(dialog, false, dialogState.startRuleMet);
    dialogState.ending = false;
    giveFocusBack(dialog);
}

void closeDialog(HWND dialog) {
    if (jobState.running != 0) {
        signalStopEvent(jobState.stopEvent);
        endJobWorker(dialogServices.jobWorker);
    }
    EndDialog(dialog, 0);
}
