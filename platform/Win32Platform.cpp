// The platform seam on Windows: 64-bit CRT file offsets, _beginthreadex, Win32 events
// and PostMessageA. Front ends without a dialog receive the job's messages through a
// message-only window.
#include "platform/Platform.h"

#include <new>

#include <io.h>
#include <process.h>
#include <windows.h>

int seekAbsolute(FILE* file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 ? 1 : 0;
}

int tellPosition(FILE* file, uint64_t* position) {
    const __int64 offset = _ftelli64(file);
    if (offset < 0) {
        return 0;
    }
    *position = static_cast<uint64_t>(offset);
    return 1;
}

int truncateFile(FILE* file, uint64_t length) {
    if (fflush(file) != 0 || length > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    return _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0 ? 1 : 0;
}

int standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) ? 1 : 0;
}

namespace {

struct ThreadStart {
    WorkerEntry entry;
    void* argument;
};

unsigned __stdcall threadTrampoline(void* start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return copy.entry(copy.argument);
}

const char kMessageWindowClass[] = "STATIC";

} // namespace

ThreadHandle startWorkerThread(WorkerEntry entry, void* argument) {
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (start == nullptr) {
        return nullptr;
    }
    const uintptr_t thread = _beginthreadex(nullptr, 0, threadTrampoline, start, 0, nullptr);
    if (thread == 0) {
        delete start;
        return nullptr;
    }
    return reinterpret_cast<ThreadHandle>(thread);
}

int waitForThread(ThreadHandle thread, uint32_t timeoutMs) {
    if (thread == nullptr) {
        return 0;
    }
    return WaitForSingleObject(static_cast<HANDLE>(thread), timeoutMs) == WAIT_OBJECT_0 ? 1 : 0;
}

void closeThreadHandle(ThreadHandle thread) {
    if (thread != nullptr) {
        CloseHandle(static_cast<HANDLE>(thread));
    }
}

EventHandle createStopEvent() {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

void signalStopEvent(EventHandle event) {
    if (event != nullptr) {
        SetEvent(static_cast<HANDLE>(event));
    }
}

int stopEventSignalled(EventHandle event) {
    if (event == nullptr) {
        return 0;
    }
    return WaitForSingleObject(static_cast<HANDLE>(event), 0) == WAIT_OBJECT_0 ? 1 : 0;
}

void closeStopEvent(EventHandle event) {
    if (event != nullptr) {
        CloseHandle(static_cast<HANDLE>(event));
    }
}

int postJobMessage(WindowHandle window, uint32_t message) {
    if (window == nullptr) {
        return 0;
    }
    return PostMessageA(static_cast<HWND>(window), message, 0, 0) ? 1 : 0;
}

WindowHandle createMessageWindow() {
    return CreateWindowExA(0, kMessageWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int waitForMessage(WindowHandle window, uint32_t timeoutMs, uint32_t* message) {
    const HWND target = static_cast<HWND>(window);
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, target, 0, 0, PM_REMOVE)) {
            if (msg.message >= WM_APP && msg.message <= 0xBFFF) {
                *message = msg.message;
                return 1;
            }
            DispatchMessageA(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return 0;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    }
}

void destroyMessageWindow(WindowHandle window) {
    if (window != nullptr) {
        DestroyWindow(static_cast<HWND>(window));
    }
}
