// Scripted stand-ins for the dialog's modal parts and for the start of a job's thread and
// event. They record what the dialog asked for and answer as the test scripted.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/ui/DialogDriver.h"

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
