// What the dialog borrows from the platform whose outcome it cannot decide itself: the
// calls that wait for a person (file chooser, message boxes, the shell's "play"), the
// clock and double-click time that tell a double click from two presses, and the start
// of a job's event and thread. The program uses the platform's own functions; tests put
// scripted stand-ins here to drive the real dialog without anyone at the screen, and to
// force the failures and timings that a healthy system never shows on demand.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include "job/JobWorker.h"

using ChooseOpenFile = BOOL(WINAPI*)(OPENFILENAMEA* request);
using ShowMessageBox = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
using PerformShellVerb = HINSTANCE(WINAPI*)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                            LPCSTR directory, INT show);
using ReadClock = DWORD(WINAPI*)();
using ReadDoubleClickTime = UINT(WINAPI*)();

struct DialogServices {
    ChooseOpenFile chooseOpenFile;         // GetOpenFileNameA
    ShowMessageBox showMessageBox;         // MessageBoxA
    PerformShellVerb shellExecute;         // ShellExecuteA
    JobWorkerCalls jobWorker;              // from the platform seam
    ReadClock clockMs;                     // GetTickCount: ms, wrapping every 49.7 days
    ReadDoubleClickTime doubleClickTimeMs; // GetDoubleClickTime: the user's setting, in ms
};

// The services in use; the platform's own until a test replaces them.
extern DialogServices dialogServices;

// The platform's own services, for putting them back.
DialogServices platformDialogServices();
