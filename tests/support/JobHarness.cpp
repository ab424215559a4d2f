#include "tests/support/JobHarness.h"

#include <atomic>
#include <cstring>
#include <filesystem>

#include "job/ConvolutionJob.h"
#include "job/JobMessages.h"
#include "job/JobState.h"
#include "job/JobWorker.h"
#include "tests/support/WrittenWav.h"

namespace {

// Generous: the sanitizer builds run the literal engine many times slower.
constexpr uint32_t kJobWaitMs = 300000;

// What the last worker's entry returned: the platform's threads do not hand it back.
std::atomic<unsigned> lastExitCode{0};
WorkerEntry entryToRun = nullptr; // written before the worker starts

unsigned runAndKeepExitCode(void* argument) {
    const unsigned exitCode = entryToRun(argument);
    lastExitCode.store(exitCode);
    return exitCode;
}

// The platform's thread, around an entry that keeps the exit code.
ThreadHandle startKeepingExitCode(WorkerEntry entry, void* argument) {
    entryToRun = entry;
    return startWorkerThread(runAndKeepExitCode, argument);
}

// A stop event that is signalled before the worker can start.
EventHandle createSignalledStopEvent() {
    const EventHandle event = createStopEvent();
    signalStopEvent(event);
    return event;
}

} // namespace

JobRun runJob(const std::string& input, const std::string& impulse, const std::string& output,
              std::optional<int32_t> stopAfterFrames) {
    JobRun run{};
    copyPath(jobState.inputPath, input.c_str());
    copyPath(jobState.impulsePath, impulse.c_str());
    copyPath(jobState.outputPath, output.c_str());
    memset(jobState.errorText, 0, sizeof jobState.errorText);
    WindowHandle window = createMessageWindow();
    jobState.dialogWindow = window;
    // Started and let go as the front ends do.
    JobWorkerCalls calls = platformJobWorkerCalls();
    calls.startWorker = startKeepingExitCode;
    if (stopAfterFrames && *stopAfterFrames == kStopBeforeStart) {
        calls.createStopEvent = createSignalledStopEvent;
    }
    if (startJobWorker(calls)) {
        bool ended = false;
        if (stopAfterFrames && *stopAfterFrames != kStopBeforeStart) {
            // Looks at the progress between short waits for the end message.
            while (!ended && !(jobState.progress.active.load(std::memory_order_acquire) == 1 &&
                               jobState.progress.done.load() >= *stopAfterFrames)) {
                ended = waitForMessage(window, 1, &run.message) == 1;
            }
            signalStopEvent(jobState.stopEvent);
        }
        if (ended || waitForMessage(window, kJobWaitMs, &run.message)) {
            run.threadEnded = waitForThread(jobState.workerThread, kWorkerWaitMs) == 1;
            run.exitCode = run.threadEnded ? lastExitCode.load() : 0;
            uint32_t extra = 0;
            while (waitForMessage(window, 0, &extra)) {
                ++run.extraMessages;
            }
            run.errorText = jobState.errorText;
            run.active = jobState.progress.active.load();
        }
        // A worker that never reported, or outlived the wait, keeps running: its window
        // must outlive it, like its event.
        if (endJobWorker(calls)) {
            destroyMessageWindow(window);
        }
    } else {
        destroyMessageWindow(window);
    }
    jobState.dialogWindow = nullptr;
    return run;
}

::testing::AssertionResult endedWith(const JobRun& run, uint32_t message, const char* text) {
    const unsigned exitCode = message == WM_JOB_FAILED ? kJobFailedExit : 0;
    if (run.message != message || run.errorText != text) {
        return ::testing::AssertionFailure()
               << "the job ended with message " << run.message << " \"" << run.errorText
               << "\", expected " << message << " \"" << text << "\"";
    }
    if (!run.threadEnded || run.exitCode != exitCode) {
        return ::testing::AssertionFailure()
               << "the worker " << (run.threadEnded ? "returned " : "did not end; last code ")
               << run.exitCode << ", expected " << exitCode;
    }
    if (run.extraMessages != 0 || run.active != 0) {
        return ::testing::AssertionFailure() << run.extraMessages << " messages after the first, "
                                             << "progress.active " << run.active;
    }
    return ::testing::AssertionSuccess();
}

FileSnapshot snapshot(const std::string& path) {
    return FileSnapshot{path, readFileBytes(path)};
}

::testing::AssertionResult unchanged(const FileSnapshot& before) {
    const Bytes now = readFileBytes(before.path);
    if (now != before.bytes) {
        return ::testing::AssertionFailure() << before.path << " changed: " << before.bytes.size()
                                             << " bytes before, " << now.size() << " after";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult validWav(const Bytes& file, uint32_t channels, uint64_t frames) {
    const WrittenWav wav = checkWrittenWav(file);
    if (!wav.valid) {
        return ::testing::AssertionFailure()
               << file.size() << " bytes, not a valid WAV: " << wav.problem;
    }
    if (wav.channels != channels || wav.frames != frames) {
        return ::testing::AssertionFailure()
               << wav.channels << " channels and " << wav.frames << " frames, expected " << channels
               << " and " << frames;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult validPrefixOf(const std::string& output, uint32_t channels,
                                         const std::vector<int16_t>& full, uint64_t* frames) {
    const Bytes file = readFileBytes(output);
    const WrittenWav wav = checkWrittenWav(file);
    if (!wav.valid) {
        return ::testing::AssertionFailure()
               << output << " (" << file.size() << " bytes) is not a valid WAV: " << wav.problem;
    }
    if (wav.channels != channels) {
        return ::testing::AssertionFailure()
               << output << " has " << wav.channels << " channels, expected " << channels;
    }
    const std::vector<int16_t> samples = samplesAfterHeader(file);
    if (samples.size() > full.size() || !std::equal(samples.begin(), samples.end(), full.begin())) {
        return ::testing::AssertionFailure() << output << ": its " << wav.frames
                                             << " frames are not the start of the full output";
    }
    *frames = wav.frames;
    return ::testing::AssertionSuccess();
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}
