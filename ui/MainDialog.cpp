#include "ui/MainDialog.h"

#include <commctrl.h>

#include "job/JobMessages.h"
#include "job/JobState.h"
#include "ui/DialogIds.h"
#include "ui/DialogState.h"
#include "ui/DialogTexts.h"
#include "ui/FileChooser.h"
#include "ui/JobControl.h"
#include "ui/ProgressBar.h"
#include "ui/RunningLook.h"
#include "ui/StartRule.h"

namespace {

// The progress bar's window class belongs to comctl32.dll, which registers the common
// control classes as the loader maps it. The program never registers the class itself;
// naming one of the library's exports keeps comctl32.dll in the import table, so it is
// mapped before the dialog exists, whatever the other system libraries happen to load.
// Nothing ever calls it.
void(WINAPI* volatile const commonControlsImport)() = InitCommonControls;

void initialise(HWND dialog) {
    dialogState = DialogState{};
    SendDlgItemMessageA(dialog, ID_INPUT_PATH, EM_LIMITTEXT, kPathBytes, 0);
    SendDlgItemMessageA(dialog, ID_IMPULSE_PATH, EM_LIMITTEXT, kPathBytes, 0);
    SendDlgItemMessageA(dialog, ID_OUTPUT_PATH, EM_LIMITTEXT, kPathBytes, 0);
    SendDlgItemMessageA(dialog, ID_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
    updateStartButton(dialog);
    setRunningLook(dialog, false, dialogState.startRuleMet);
    jobState.progress.active.store(0, std::memory_order_release);
    jobState.running = 0;
    jobState.dialogWindow = dialog;
    SetTimer(dialog, kTimerId, kTimerPeriodMs, nullptr);
}

void browse(HWND dialog, int editId, ChooserMode mode) {
    if (chooseFile(dialog, GetDlgItem(dialog, editId), mode)) {
        updateStartButton(dialog);
    }
}

// The notification code is not looked at: the buttons only ever report clicks. The default
// OK and Cancel commands (Enter, Escape) do nothing, so only the close box ends the dialog.
void command(HWND dialog, int id) {
    switch (id) {
    case ID_INPUT_BROWSE:
        browse(dialog, ID_INPUT_PATH, chooseExistingFile);
        break;
    case ID_IMPULSE_BROWSE:
        browse(dialog, ID_IMPULSE_PATH, chooseExistingFile);
        break;
    case ID_OUTPUT_BROWSE:
        browse(dialog, ID_OUTPUT_PATH, chooseOutputFile);
        break;
    case ID_START:
        pressStartButton(dialog);
        break;
    default:
        break;
    }
}

} // namespace

DialogState dialogState{};

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog);
        break;
    case WM_COMMAND:
        command(dialog, LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kTimerId) {
            showProgress(dialog);
        }
        break;
    case WM_JOB_FAILED:
    case WM_JOB_DONE:
    case WM_JOB_STOPPED:
        endJob(dialog, message);
        break;
    case WM_CLOSE:
        closeDialog(dialog);
        break;
    case WM_QUERYENDSESSION:
        // Logging off or shutting down is always allowed: a running job is stopped and
        // its file finished when the session really ends. A dialog procedure answers
        // through DWLP_MSGRESULT and returns TRUE to say it has answered.
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_ENDSESSION:
        // Once this returns, the system may end the process at any moment; a job cut off
        // there would leave its output with both size fields at 0. wParam is FALSE when
        // the session goes on after all (another program refused to end).
        if (wParam != FALSE) {
            closeDialog(dialog);
        }
        break;
    case WM_DESTROY:
        KillTimer(dialog, kTimerId);
        break;
    default:
        break;
    }
    return 0;
}

int runMainDialog() {
    (void)commonControlsImport;
    const INT_PTR result = DialogBoxParamA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ID_MAIN_DIALOG), nullptr, MainDialogProc, 0);
    return static_cast<int>(result);
}
