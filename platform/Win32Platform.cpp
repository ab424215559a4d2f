// The platform seam on Windows: 64-bit CRT file offsets, _beginthreadex, Win32 events
// and PostMessageA. Front ends without a dialog receive the job's messages through a
// message-only window.
#include "platform/Platform.h"

#include <atomic>
#include <csignal>
#include <new>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
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

int fileLength(FILE* file, uint64_t* length) {
    const __int64 bytes = _filelengthi64(_fileno(file));
    if (bytes < 0) {
        return 0;
    }
    *length = static_cast<uint64_t>(bytes);
    return 1;
}

uint64_t monotonicMilliseconds() {
    return GetTickCount64();
}

int standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) ? 1 : 0;
}

int standardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return 80;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

unsigned usableProcessorCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    unsigned processors = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process != 0; process &= process - 1) {
            ++processors;
        }
    }
    if (processors == 0) {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        processors = info.dwNumberOfProcessors;
    }
    return processors > 0 ? processors : 1;
}

int fileOpenProblem(const char* path, int forWriting) {
    struct _stat64 status {};
    const bool exists = _stat64(path, &status) == 0;
    if (!exists && (!forWriting || errno != ENOENT)) {
        return errno;
    }
    if (exists && (status.st_mode & _S_IFMT) == _S_IFDIR) {
        return EISDIR;
    }
    if (exists && !forWriting && (status.st_mode & _S_IFMT) != _S_IFREG) {
        return ESPIPE; // a device: nothing the reader can seek through
    }
    int flags = (forWriting ? _O_WRONLY : _O_RDONLY) | _O_BINARY;
    if (!exists) {
        flags |= _O_CREAT | _O_EXCL; // only a file that is not there, so nothing is overwritten
    }
    const int descriptor = _open(path, flags, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        return errno;
    }
    _close(descriptor);
    if (!exists) {
        _unlink(path); // it can be created now: leave nothing behind
    }
    return 0;
}

int fileWriteProblem(const char* path) {
    // Windows has no file-size limit per process; only a full disk can be seen.
    char folder[MAX_PATH];
    char* name = nullptr;
    const DWORD length = GetFullPathNameA(path, MAX_PATH, folder, &name);
    if (length == 0 || length >= MAX_PATH) {
        return 0;
    }
    if (name != nullptr) {
        *name = '\0';
    }
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) &&
        available.QuadPart < (1u << 16)) {
        return ENOSPC;
    }
    return 0;
}

namespace {

std::atomic<int> firstInterrupt{0};

// The runtime calls this on a thread of its own for each Ctrl-C, having already put the
// default action back, so a second Ctrl-C ends the process at once as an uncaught one does.
void onInterrupt(int signalNumber) {
    int none = 0;
    firstInterrupt.compare_exchange_strong(none, signalNumber);
    signal(signalNumber, SIG_DFL); // said explicitly, whatever the runtime does
}

} // namespace

void catchInterrupts() {
    // Only Ctrl-C is an interrupt here; Windows has no file-size limit to ignore.
    if (signal(SIGINT, onInterrupt) == SIG_IGN) {
        signal(SIGINT, SIG_IGN);
    }
}

int interruptReceived() {
    return firstInterrupt.load();
}

int endAsInterrupted(int interrupt) {
    // A Windows process does not end "by a signal"; the status the POSIX shells would show
    // for one (130 for Ctrl-C) tells scripts the same.
    return 128 + interrupt;
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
