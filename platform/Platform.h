// The one seam between the portable core and the operating system: 64-bit file
// offsets, the output's lock, standard streams and temporary files, a clock, the worker
// thread, the job's stop event, the messages by which a job reports its end, the reasons a
// file cannot be used, and the interrupts a command-line program receives. Windows implements it
// with Win32 (Win32Platform.cpp); every other system with the standard library and POSIX
// (PosixPlatform.cpp). CMake compiles exactly one.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <thread>

// ---- Files whose offsets may pass 2^31 (long is 32 bits on Windows) ----

// 1 when the stream now stands at the absolute offset.
int seekAbsolute(FILE* file, uint64_t offset);
// The stream's current offset; 1 on success.
int tellPosition(FILE* file, uint64_t* position);
// Cuts the file behind the stream to length bytes (flushing the stream first).
int truncateFile(FILE* file, uint64_t length);
// The length of the file behind the stream as the system knows it, without moving the
// stream; 1 on success.
int fileLength(FILE* file, uint64_t* length);

// Milliseconds on a clock that never goes back (not the time of day); for intervals only.
uint64_t monotonicMilliseconds();

// 1 when standard error is an interactive terminal.
int standardErrorIsTerminal();
// The width in columns of the terminal standard error writes to; 80 when it is not a
// terminal or its width cannot be learnt.
int standardErrorColumns();

// How many processors this process may run on: those its affinity allows (taskset, start
// /affinity), fewer when a CPU quota caps the time it may take (a Linux cgroup's cpu.max,
// as containers and systemd set it: 1.5 processors' worth counts as 2). At least 1.
unsigned usableProcessorCount();

// ---- Files a job creates, and standard streams ----

// Opens path for writing, creating it when it is not there; a plain file is then locked
// (an exclusive lock that lasts until the stream is closed) and only then emptied, so a
// second program writing the same output finds it locked and changes nothing. A device or
// a FIFO is neither locked nor emptied. Null on failure with
// *error set to the system's reason (an errno value); EAGAIN when another process holds the
// lock. With mustBeNew the file is created only if no file (nor link) of that name exists,
// in the same step that looks, so two programs told not to replace anything cannot both
// take the name; EEXIST otherwise.
FILE* createOutputFile(const char* path, int mustBeNew, int* error);
// 1 when the stream can go back to rewrite what it wrote: a plain file standing at its
// start, not in append mode. 0 for a pipe, a FIFO, a device, or a file inherited elsewhere.
int streamCanSeek(FILE* file);
// Standard output as a stream of bytes (binary mode where the system has one).
FILE* standardOutputStream();
// Gives every standard stream that was closed at start (0, 1, 2) the null device, so no
// file the program opens later takes its number and receives what was meant for it.
void keepStandardStreamsOpen();

// A new empty file in the system's folder for temporary files, its name in path (of
// capacity bytes); null on failure with *error set.
FILE* createTemporaryFile(char* path, size_t capacity, int* error);
// Reads up to capacity bytes of standard input into buffer, waiting at most waitMs for
// some to arrive: 1 with *got set (0 at the end of the input), 2 when nothing came in time,
// 0 on failure with *error set.
int readStandardInput(void* buffer, size_t capacity, size_t* got, uint32_t waitMs, int* error);

// ---- Why a file cannot be used: asked only after a failure, to tell the user ----

// The system's reason (an errno value) why path cannot be opened for reading: EISDIR for a
// folder, ESPIPE for something that is neither a folder nor a plain file (a pipe, a
// device). 0 when nothing stands in the way now. Waits for nothing, and creates, truncates
// or changes nothing.
int fileOpenProblem(const char* path);

// ---- Interrupts of a command-line program ----

// Catches the requests to end the program: Ctrl-C everywhere, and where the system has
// them also SIGTERM, SIGHUP and SIGQUIT (one the process started with ignored stays
// ignored, as under nohup). The first few are one request, only recorded, so the running
// job can stop and finish its file: one stop is often delivered twice or three times (by
// `timeout` to the process and then to its group, by the shell and the kernel when a
// terminal closes, by make and the group). The fourth ends the process at once, as if none
// had been caught. Also makes a write beyond the process's file-size limit, or to a pipe
// whose reader has gone, a refused write (SIGXFSZ and SIGPIPE ignored) instead of the end
// of the process.
void catchInterrupts();
// Interrupts received before the process ends at once.
constexpr int kInterruptsToEndAtOnce = 4;
// A file to remove should an interrupt end the process at once (a temporary copy of
// standard input); null for none. The path must stay valid while it is set.
void removeOnAbruptEnd(const char* path);
// The first interrupt received (its signal number), or 0.
int interruptReceived();
// Ends the process the way the interrupt would have ended it had it not been caught, so
// a shell sees an interrupted program (status 128 + the signal number) and a script's loop
// stops. Where the system cannot do that, returns the exit status to end with instead.
int endAsInterrupted(int interrupt);

// ---- Threads, events, messages ----

// Opaque handles. On Windows they are the HANDLE or HWND itself.
using ThreadHandle = void*;
using EventHandle = void*;
using WindowHandle = void*;

// The worker's entry: its return value is the thread's exit code.
using WorkerEntry = unsigned (*)(void* argument);

// Moves a thread the caller has just started off the caller's processor, to another one
// the thread may use, where there is one; it may run anywhere again afterwards. Linux can
// leave a new thread queued behind the one that started it for several milliseconds, the
// two taking turns on one processor while another idles, until it balances them. Nothing
// is done where the system spreads new threads by itself (Windows) or cannot be told.
void moveOffCallersProcessor(std::thread& thread);

// Starts a thread on entry(argument); null when it cannot be started.
ThreadHandle startWorkerThread(WorkerEntry entry, void* argument);
// Waits at most timeoutMs for the thread to end; 1 when it has ended.
int waitForThread(ThreadHandle thread, uint32_t timeoutMs);
// Releases the handle. A thread still running goes on by itself.
void closeThreadHandle(ThreadHandle thread);

// An unnamed, auto-reset event, initially not signalled; null on failure.
EventHandle createStopEvent();
void signalStopEvent(EventHandle event);
// 1 when the event is signalled (consuming the signal, as an auto-reset event does).
// A null event is never signalled.
int stopEventSignalled(EventHandle event);
void closeStopEvent(EventHandle event);

// Posts message (both parameters 0) to the window without waiting; 1 on success.
int postJobMessage(WindowHandle window, uint32_t message);

// A window that only receives messages, for front ends without a dialog (the CLI),
// and the wait for its next message: 1 with *message set, 0 when timeoutMs passed.
WindowHandle createMessageWindow();
int waitForMessage(WindowHandle window, uint32_t timeoutMs, uint32_t* message);
void destroyMessageWindow(WindowHandle window);
