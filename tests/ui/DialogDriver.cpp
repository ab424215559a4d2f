#include "tests/ui/DialogDriver.h"

#include <cstdlib>
#include <cstring>

#include <commctrl.h>

#include "job/JobState.h"
#include "tests/ui/StandIns.h"
#include "ui/DialogIds.h"
#include "ui/MainDialog.h"

int barPosition(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, ID_PROGRESS, PBM_GETPOS, 0, 0));
}

::testing::AssertionResult press(HWND dialog, int id) {
    const HWND button = GetDlgItem(dialog, id);
    if (button == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button)) {
        return ::testing::AssertionFailure()
               << "button " << id
               << " cannot be pressed: " << ::testing::PrintToString(lookOf(dialog));
    }
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return ::testing::AssertionSuccess();
}

void putFocusOn(HWND dialog, int id) {
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

int focusedControl(DWORD dialogThreadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(dialogThreadId, &info) || info.hwndFocus == nullptr) {
        return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

void resetJobState() {
    jobState.inputPath[0] = '\0';
    jobState.impulsePath[0] = '\0';
    jobState.outputPath[0] = '\0';
    jobState.dialogWindow = nullptr;
    jobState.running = 0;
    jobState.progress.done = 0;
    jobState.progress.total = 0;
    jobState.progress.active = 0;
    jobState.workerThread = nullptr;
    jobState.stopEvent = nullptr;
    jobState.errorText[0] = '\0';
}

namespace {

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND openDialog(DialogRun& run) {
    run.thread = std::thread([&run] {
        run.threadId = GetCurrentThreadId();
        run.endValue = runMainDialog();
        run.ended = true;
    });
    HWND window = nullptr;
    waitFor([&] {
        if (run.ended) {
            return true;
        }
        const DWORD threadId = run.threadId;
        if (threadId != 0) {
            EnumThreadWindows(threadId, findDialog, reinterpret_cast<LPARAM>(&window));
        }
        return window != nullptr && IsWindowVisible(window);
    });
    run.window = window;
    return window;
}

int closeDialog(DialogRun& run, DWORD timeoutMs) {
    if (!run.thread.joinable()) {
        return run.endValue;
    }
    if (!run.ended) {
        // What the close box sends: the dialog manager turns it into WM_CLOSE.
        PostMessageA(run.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    const bool ended = waitFor([&] { return run.ended.load(); }, timeoutMs);
    EXPECT_TRUE(ended) << "the dialog did not end after its close box";
    if (!ended) {
        // Nothing sane is left to do with a dialog that ignores its close box.
        std::abort();
    }
    run.thread.join();
    return run.endValue;
}

void DialogTest::SetUp() {
    resetJobState();
    installStandIns();
    dialog = openDialog(run);
    ASSERT_NE(dialog, nullptr) << "the dialog did not appear";
}

void DialogTest::TearDown() {
    releaseWorkers();
    if (!closed) {
        EXPECT_EQ(closeDialog(run), 0);
    }
    removeStandIns();
}
