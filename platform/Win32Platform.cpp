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

namespace {

// The errno value that says what a Win32 error code says, for the reasons shown to the user.
int errnoFromWin32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return ENOENT;
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EAGAIN;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_NAME:
        return EINVAL;
    default:
        return EIO;
    }
}

} // namespace

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

FILE* createOutputFile(const char* path, int mustBeNew, int* error) {
    // Shared for reading and writing, so a second program gets as far as the lock and is
    // refused there; opened, not truncated: the file is emptied only once the lock is held.
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    mustBeNew != 0 ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = errnoFromWin32(GetLastError());
        return nullptr;
    }
    // Only a file on a disk is locked and emptied: a device (NUL) or a pipe is shared by
    // nature.
    const bool onDisk = GetFileType(handle) == FILE_TYPE_DISK;
    OVERLAPPED whole{};
    if (onDisk && !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                              MAXDWORD, MAXDWORD, &whole)) {
        const DWORD code = GetLastError();
        *error = code == ERROR_LOCK_VIOLATION ? EAGAIN : errnoFromWin32(code);
        CloseHandle(handle);
        return nullptr;
    }
    if (onDisk && !SetEndOfFile(handle)) {
        *error = errnoFromWin32(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    // The stream owns the handle from here; closing it releases the lock.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        *error = errno;
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        *error = errno;
        _close(descriptor);
    }
    return file;
}

int streamCanSeek(FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
                   _telli64(_fileno(file)) == 0
               ? 1
               : 0;
}

FILE* standardOutputStream() {
    _setmode(_fileno(stdout), _O_BINARY);
    return stdout;
}

void keepStandardStreamsOpen() {
    // A Windows program started without a stream has none to lose: the runtime gives it an
    // invalid one that refuses every write, and no file takes its number.
}

FILE* createTemporaryFile(char* path, size_t capacity, int* error) {
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || capacity < MAX_PATH) {
        *error = ENAMETOOLONG;
        return nullptr;
    }
    if (GetTempFileNameA(folder, "cnv", 0, path) == 0) {
        *error = errnoFromWin32(GetLastError());
        return nullptr;
    }
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        *error = errno;
        DeleteFileA(path);
    }
    return file;
}

int readStandardInput(void* buffer, size_t capacity, size_t* got, uint32_t, int* error) {
    // Ctrl-C is handled on a thread of its own here and cannot be seen during a read; the
    // read returns when the writer sends more or closes its end.
    const unsigned asked = capacity < 0x40000000u ? static_cast<unsigned>(capacity) : 0x40000000u;
    _setmode(_fileno(stdin), _O_BINARY);
    const int count = _read(_fileno(stdin), buffer, asked);
    if (count < 0) {
        *error = errno;
        return 0;
    }
    *got = static_cast<size_t>(count);
    return 1;
}

int fileOpenProblem(const char* path) {
    struct _stat64 status {};
    if (_stat64(path, &status) != 0) {
        return errno;
    }
    if ((status.st_mode & _S_IFMT) == _S_IFDIR) {
        return EISDIR;
    }
    if ((status.st_mode & _S_IFMT) != _S_IFREG) {
        return ESPIPE; // a device: nothing the reader can seek through
    }
    const int descriptor = _open(path, _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        return errno;
    }
    _close(descriptor);
    return 0;
}

namespace {

std::atomic<int> firstInterrupt{0};
std::atomic<int> interruptCount{0};

// The runtime calls this on a thread of its own for each Ctrl-C, having already put the
// default action back: it is caught again until the last before the one that ends the
// process at once, as an uncaught one does.
void onInterrupt(int signalNumber) {
    int none = 0;
    firstInterrupt.compare_exchange_strong(none, signalNumber);
    if (interruptCount.fetch_add(1) + 2 < kInterruptsToEndAtOnce) {
        signal(signalNumber, onInterrupt);
        return;
    }
    signal(signalNumber, SIG_DFL); // said explicitly, whatever the runtime does
}

} // namespace

void catchInterrupts() {
    // Only Ctrl-C is an interrupt here; Windows has no file-size limit to ignore.
    if (signal(SIGINT, onInterrupt) == SIG_IGN) {
        signal(SIGINT, SIG_IGN);
    }
}

void removeOnAbruptEnd(const char*) {
    // The runtime's default action ends the process without a word to anyone; a temporary
    // file it leaves is in the folder the system cleans.
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

void moveOffCallersProcessor(std::thread&) {
    // A thread made ready goes to an idle processor when the process has one.
}

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
