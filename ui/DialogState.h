// What the dialog keeps between its messages beside its controls and the job's record.
// One dialog at a time.
#pragma once

#include <windows.h>

struct DialogState {
    // The start rule's last result (StartRule.h). ID_START is also the stop button while
    // a job runs, so its enabled state cannot hold the result then.
    bool startRuleMet;
    // What ID_START remembers between presses (JobControl.h):
    bool ending;        // a job's end is being shown: presses do nothing until the idle look
    bool pressed;       // a press has been acted on since the dialog opened
    DWORD lastPressMs;  // when, on the services' clock (compared by unsigned difference)
    HWND focusParkedOn; // where a stop moved the focus off the button; null when it did not
};

// The dialog's state; all zero as the dialog opens.
extern DialogState dialogState;
