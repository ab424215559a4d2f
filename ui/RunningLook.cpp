#include "ui/RunningLook.h"

#include "ui/DialogIds.h"
#include "ui/DialogTexts.h"

void setRunningLook(HWND dialog, bool running, bool startRuleMet) {
    const HWND button = GetDlgItem(dialog, ID_START);
    SetWindowTextA(button, running ? kStopLabel : kStartLabel);
    enableStartButton(dialog, running || startRuleMet);
    ShowWindow(button, SW_SHOW);
    ShowWindow(GetDlgItem(dialog, ID_PROGRESS), running ? SW_SHOW : SW_HIDE);
}

HWND enableStartButton(HWND dialog, bool enabled) {
    const HWND button = GetDlgItem(dialog, ID_START);
    HWND movedTo = nullptr;
    if (!enabled && GetFocus() == button) {
        // The dialog manager's own move, as Tab would make it (it also hands the default
        // button look on to the new control).
        const HWND next = GetNextDlgTabItem(dialog, button, FALSE);
        if (next != nullptr && next != button) {
            SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
            movedTo = next;
        }
    }
    EnableWindow(button, enabled ? TRUE : FALSE);
    return movedTo;
}
