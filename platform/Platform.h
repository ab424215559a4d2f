// The one seam between the portable core and the operating system: 64-bit file
// offsets, the worker thread, the job's stop event and the messages by which a job
// reports its end. Windows implements it with Win32 (Win32Platform.cpp); every other
// system with the standard library (PortablePlatform.cpp). CMake compiles exactly one.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Files whose offsets may pass 2^31 (long is 32 bits on Windows) ----

// 1 when the stream now stands at the absolute offset.
int seekAbsolute(FILE* file, uint64_t offset);
// The stream's current offset; 1 on success.
int tellPosition(FILE* file, uint64_t* position);
// Cuts the file behind the stream to length bytes (flushing the stream first).
int truncateFile(FILE* file, uint64_t length);

// 1 when standard error is an interactive terminal.
int standardErrorIsTerminal();

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
