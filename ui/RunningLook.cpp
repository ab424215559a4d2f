#include "ui/RunningLook.h"

#include "ui/DialogIds.h"
#include "ui/DialogTexts.h"
#include "ui/StartRule.h"

void setRunningLook(HWND dialog, bool running) {
    const HWND button = GetDlgItem(dialog, ID_START);
    SetWindowTextA(button, running ? kStopLabel : kStartLabel);
    EnableWindow(button, running || startRuleMet() ? TRUE : FALSE);
    ShowWindow(button, SW_SHOW);
    ShowWindow(GetDlgItem(dialog, ID_PROGRESS), running ? SW_SHOW : SW_HIDE);
}
