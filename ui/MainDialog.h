// The main dialog's procedure and the program's way of showing it.
#pragma once

#include <windows.h>

// Handles the dialog's messages; returns 0 for every one, WM_INITDIALOG included, so the
// platform sets no initial focus. The one exception is WM_QUERYENDSESSION, answered TRUE
// (the session may end).
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the dialog from template ID_MAIN_DIALOG of the running program, with no owner, until it is
// closed. Returns the dialog's end value: 0 after a normal close, -1 when it could not be
// created.
int runMainDialog();
