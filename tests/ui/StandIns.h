// Scripted stand-ins for the dialog's modal parts and for the start of a job's thread and
// event. They record what the dialog asked for and answer as the test scripted.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/ui/DialogLook.h"

// What the dialog put into one file-chooser request.
struct ChooserRequest {
    DWORD structSize;
    HWND owner;
    std::string filter; // the whole list, inner and final terminators included
    std::string preloaded;
    DWORD bufferSize;
    DWORD flags;
    DWORD filterIndex;
    bool anythingElse; // a title, folder, extension, file title, custom filter or hook
};

// One message box, with the dialog's look while it was up.
struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    Look lookMeanwhile;
};

struct ShellRequest {
    HWND owner;
    bool withVerb; // false: a null verb, the shell's default
    std::string verb;
    std::string file;
    bool withParameters;
    bool withDirectory;
    int show;
};

// Puts the stand-ins in place of the platform's services and forgets earlier records.
void installStandIns();
// Puts the platform's own services back and lets any held worker go.
void removeStandIns();

void answerNextChooser(const std::string& path);
void cancelNextChooser();
// The next message box answers this button (otherwise: IDOK, or IDNO for a question).
void answerNextBox(int button);
void failNextWorkerStart();
void failNextEventCreation();
// The next shell request returns this value (otherwise 42: success; 32 or less fails).
void answerNextShell(INT_PTR result);
// Something the dialog's thread does while the next chooser, box or shell request is up,
// before the stand-in answers: what a person, or the platform's own loop, could do then.
using WhileModal = std::function<void(HWND dialog)>;
void whileNextChooser(WhileModal action);
void whileNextBox(WhileModal action);
void whileNextShell(WhileModal action);
// The clock the dialog reads, in ms. It stands still unless moved, and starts a little
// before the 32-bit count wraps, so that intervals across the wrap are exercised.
void advanceClock(DWORD ms);
// The double-click time the dialog reads; 0 (every press counts) until set.
void setDoubleClickTime(UINT ms);
// Workers started from now on wait before running the job until released.
void holdWorkers();
void releaseWorkers();

// Everything the stand-ins were asked since they were installed.
struct StandInRecord {
    std::vector<ChooserRequest> choosers;
    std::vector<ShownBox> boxes;
    std::vector<ShellRequest> shells;
    int workerStarts;
    int eventsCreated;
    int eventsClosed;
};
StandInRecord recorded();
// Waits until count boxes have been shown in all.
bool waitForBoxes(size_t count, DWORD timeoutMs = 30000);
