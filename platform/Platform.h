// The one seam between the portable core and the operating system: 64-bit file
// offsets, a clock, the worker thread, the job's stop event, the messages by which a job
// reports its end, the reasons a file cannot be used, and the interrupts a command-line
// program receives. Windows implements it with Win32 (Win32Platform.cpp); every other
// system with the standard library and POSIX (PosixPlatform.cpp). CMake compiles
// exactly one.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

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

// ---- Why a file cannot be used: asked only after a failure, to tell the user ----

// The system's reason (an errno value) why path cannot be opened for reading or, with
// forWriting, for writing: EISDIR for a folder, ESPIPE for something that is neither a
// folder nor a plain file (a pipe, a device) when reading. 0 when nothing stands in the way
// now. Waits for nothing, and creates, truncates or changes nothing.
int fileOpenProblem(const char* path, int forWriting);
// Why writes to the file at path were refused, as far as can be seen afterwards: EFBIG when
// its length has reached the process's file-size limit, ENOSPC when its disk has no room
// left; 0 when neither.
int fileWriteProblem(const char* path);

// ---- Interrupts of a command-line program ----

// Catches the requests to end the program: Ctrl-C everywhere, and where the system has
// them also SIGTERM, SIGHUP and SIGQUIT (one the process started with ignored stays
// ignored, as under nohup). The first is only recorded, so the running job can stop and
// finish its file; a second one ends the process at once, as if none had been caught.
// Also makes a write beyond the process's file-size limit a refused write (SIGXFSZ
// ignored) instead of the end of the process.
void catchInterrupts();
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
