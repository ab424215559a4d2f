// Drives the program's real dialog, made from template 101, the way a person would, but
// with messages: the dialog runs modally on a thread of its own exactly as the program's
// entry runs it, and the test thread presses its buttons and reads its controls.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/ui/DialogLook.h"

int barPosition(HWND dialog);

// A click on a button: only a visible, enabled button can be pressed.
::testing::AssertionResult press(HWND dialog, int id);

// Moves the keyboard focus to a control, as Tab or a click would (on the dialog's thread).
void putFocusOn(HWND dialog, int id);
// The id of the control that has the keyboard focus on the dialog's thread; 0 when none.
int focusedControl(DWORD dialogThreadId);

// Polls condition until it holds or timeoutMs passes; true when it held.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = 20000);

// Clears the shared job record between dialogs, as a new process would find it.
void resetJobState();

// One modal run of the dialog on its own thread.
struct DialogRun {
    std::thread thread;
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> ended{false};
    std::atomic<int> endValue{0};
    HWND window = nullptr;
};

// Starts the dialog as the program does and waits for its window (null if none appeared).
HWND openDialog(DialogRun& run);
// Closes the dialog through its close box and waits for the modal call to return; the
// dialog's end value, the program's exit status. Fails the test when it does not end.
int closeDialog(DialogRun& run, DWORD timeoutMs = 15000);

// Every test starts with a fresh dialog whose modal parts are scripted stand-ins, and
// ends by closing it, which must give 0.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    DialogRun run;
    HWND dialog = nullptr;
    bool closed = false;

    int close() {
        closed = true;
        return closeDialog(run);
    }
};
