#include "tests/ui/StandIns.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include <commdlg.h>

#include "ui/DialogServices.h"

namespace {

struct Script {
    std::mutex mutex;
    std::condition_variable boxShown;
    std::deque<std::string> chooserAnswers; // an empty answer cancels
    std::deque<int> boxAnswers;
    std::deque<INT_PTR> shellAnswers;
    WhileModal whileChooser;
    WhileModal whileBox;
    WhileModal whileShell;
    int failWorkerStarts = 0;
    int failEventCreations = 0;
    StandInRecord record{};
};

Script script;

constexpr DWORD kClockStart = 0xFFFFFF00u; // 256 ms before the count wraps
std::atomic<DWORD> clockNow{kClockStart};
std::atomic<UINT> doubleClickTime{0};

// Takes the scripted action for this modal call, if any. It runs after the lock is let
// go: the action may press buttons whose handlers call the stand-ins again.
WhileModal takeAction(WhileModal& slot) {
    WhileModal action;
    action.swap(slot);
    return action;
}

void runAction(const WhileModal& action, HWND dialog) {
    if (action) {
        action(dialog);
    }
}

// Held workers wait on this manual-reset event before they run the job.
HANDLE workerGate = nullptr;
std::atomic<bool> holding{false};
std::atomic<WorkerEntry> heldEntry{nullptr};

std::string filterList(const char* filter) {
    // Pairs of strings closed by an empty one; keep every terminator.
    std::string list;
    if (filter == nullptr) {
        return list;
    }
    const char* at = filter;
    while (*at != '\0') {
        const size_t length = strlen(at) + 1;
        list.append(at, length);
        at += length;
    }
    list.push_back('\0');
    return list;
}

BOOL WINAPI chooseOpenFile(OPENFILENAMEA* request) {
    WhileModal action;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        action = takeAction(script.whileChooser);
    }
    runAction(action, request->hwndOwner);
    std::lock_guard<std::mutex> lock(script.mutex);
    ChooserRequest seen{};
    seen.structSize = request->lStructSize;
    seen.owner = request->hwndOwner;
    seen.filter = filterList(request->lpstrFilter);
    seen.preloaded = request->lpstrFile != nullptr ? request->lpstrFile : "";
    seen.bufferSize = request->nMaxFile;
    seen.flags = request->Flags;
    seen.filterIndex = request->nFilterIndex;
    seen.anythingElse = request->lpstrTitle != nullptr || request->lpstrInitialDir != nullptr ||
                        request->lpstrDefExt != nullptr || request->lpstrFileTitle != nullptr ||
                        request->lpstrCustomFilter != nullptr || request->lpfnHook != nullptr ||
                        request->lpTemplateName != nullptr || request->hInstance != nullptr;
    script.record.choosers.push_back(seen);
    if (script.chooserAnswers.empty() || script.chooserAnswers.front().empty()) {
        if (!script.chooserAnswers.empty()) {
            script.chooserAnswers.pop_front();
        }
        return FALSE;
    }
    const std::string answer = script.chooserAnswers.front();
    script.chooserAnswers.pop_front();
    if (answer.size() + 1 > request->nMaxFile) {
        return FALSE;
    }
    memcpy(request->lpstrFile, answer.c_str(), answer.size() + 1);
    return TRUE;
}

int WINAPI showMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    // Read on the dialog's own thread, while the box would be up.
    const Look meanwhile = lookOf(owner);
    WhileModal action;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        script.record.boxes.push_back(ShownBox{owner, text != nullptr ? text : "",
                                               caption != nullptr ? caption : "", type, meanwhile});
        action = takeAction(script.whileBox);
    }
    runAction(action, owner);
    std::lock_guard<std::mutex> lock(script.mutex);
    int answer = (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    if (!script.boxAnswers.empty()) {
        answer = script.boxAnswers.front();
        script.boxAnswers.pop_front();
    }
    script.boxShown.notify_all();
    return answer;
}

HINSTANCE WINAPI shellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                              LPCSTR directory, INT show) {
    WhileModal action;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        script.record.shells.push_back(ShellRequest{
            owner, verb != nullptr, verb != nullptr ? verb : "", file != nullptr ? file : "",
            parameters != nullptr, directory != nullptr, show});
        action = takeAction(script.whileShell);
    }
    runAction(action, owner);
    std::lock_guard<std::mutex> lock(script.mutex);
    INT_PTR result = 42; // success
    if (!script.shellAnswers.empty()) {
        result = script.shellAnswers.front();
        script.shellAnswers.pop_front();
    }
    return reinterpret_cast<HINSTANCE>(result);
}

DWORD WINAPI readClock() {
    return clockNow.load();
}

UINT WINAPI readDoubleClickTime() {
    return doubleClickTime.load();
}

EventHandle createStopEventStandIn() {
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        if (script.failEventCreations > 0) {
            --script.failEventCreations;
            return nullptr;
        }
        ++script.record.eventsCreated;
    }
    return createStopEvent();
}

void closeStopEventStandIn(EventHandle event) {
    if (event != nullptr) {
        std::lock_guard<std::mutex> lock(script.mutex);
        ++script.record.eventsClosed;
    }
    closeStopEvent(event);
}

unsigned heldWorker(void* argument) {
    WaitForSingleObject(workerGate, INFINITE);
    return heldEntry.load()(argument);
}

ThreadHandle startWorkerStandIn(WorkerEntry entry, void* argument) {
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        if (script.failWorkerStarts > 0) {
            --script.failWorkerStarts;
            return nullptr;
        }
        ++script.record.workerStarts;
    }
    if (holding) {
        heldEntry = entry;
        return startWorkerThread(heldWorker, argument);
    }
    return startWorkerThread(entry, argument);
}

} // namespace

void installStandIns() {
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        script.chooserAnswers.clear();
        script.boxAnswers.clear();
        script.shellAnswers.clear();
        script.whileChooser = nullptr;
        script.whileBox = nullptr;
        script.whileShell = nullptr;
        script.failWorkerStarts = 0;
        script.failEventCreations = 0;
        script.record = StandInRecord{};
    }
    if (workerGate == nullptr) {
        workerGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(workerGate);
    holding = false;
    clockNow = kClockStart;
    doubleClickTime = 0;
    dialogServices = DialogServices{
        chooseOpenFile,
        showMessageBox,
        shellExecute,
        JobWorkerCalls{createStopEventStandIn, closeStopEventStandIn, startWorkerStandIn},
        readClock,
        readDoubleClickTime};
}

void removeStandIns() {
    releaseWorkers();
    dialogServices = platformDialogServices();
}

void answerNextChooser(const std::string& path) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.chooserAnswers.push_back(path);
}

void cancelNextChooser() {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.chooserAnswers.push_back(std::string());
}

void answerNextBox(int button) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.boxAnswers.push_back(button);
}

void answerNextShell(INT_PTR result) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.shellAnswers.push_back(result);
}

void whileNextChooser(WhileModal action) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.whileChooser = std::move(action);
}

void whileNextBox(WhileModal action) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.whileBox = std::move(action);
}

void whileNextShell(WhileModal action) {
    std::lock_guard<std::mutex> lock(script.mutex);
    script.whileShell = std::move(action);
}

void advanceClock(DWORD ms) {
    clockNow += ms;
}

void setDoubleClickTime(UINT ms) {
    doubleClickTime = ms;
}

void failNextWorkerStart() {
    std::lock_guard<std::mutex> lock(script.mutex);
    ++script.failWorkerStarts;
}

void failNextEventCreation() {
    std::lock_guard<std::mutex> lock(script.mutex);
    ++script.failEventCreations;
}

void holdWorkers() {
    // Workers held before have been released and have gone past the gate by now: each
    // test waits for a job's end before it holds the next one.
    ResetEvent(workerGate);
    holding = true;
}

void releaseWorkers() {
    holding = false;
    if (workerGate != nullptr) {
        SetEvent(workerGate);
    }
}

StandInRecord recorded() {
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.record;
}

bool waitForBoxes(size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(script.mutex);
    return script.boxShown.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [count] { return script.record.boxes.size() >= count; });
}
