#include "tests/hardening/JobDriver.h"

#include <cstring>
#include <filesystem>
#include <thread>

#include "job/ConvolutionJob.h"
#include "job/JobMessages.h"
#include "job/JobState.h"
#include "tests/hardening/WrittenWav.h"
#include "tests/support/EngineHarness.h"
#include "wav/SampleConversion.h"

namespace {

// Generous: the sanitizer builds run the literal engine many times slower.
constexpr uint32_t kJobWaitMs = 300000;
constexpr uint32_t kThreadWaitMs = 12000;

} // namespace

JobRun runJob(const std::string& input, const std::string& impulse, const std::string& output,
              std::optional<std::chrono::microseconds> stopAfter) {
    JobRun run{};
    copyPath(jobState.inputPath, input.c_str());
    copyPath(jobState.impulsePath, impulse.c_str());
    copyPath(jobState.outputPath, output.c_str());
    memset(jobState.errorText, 0, sizeof jobState.errorText);
    jobState.progress.active.store(0);
    WindowHandle window = createMessageWindow();
    jobState.dialogWindow = window;
    jobState.stopEvent = createStopEvent();
    if (stopAfter && stopAfter->count() == 0) {
        signalStopEvent(jobState.stopEvent);
    }
    jobState.workerThread = startWorkerThread(runConvolutionJob, nullptr);
    if (jobState.workerThread != nullptr) {
        if (stopAfter && stopAfter->count() > 0) {
            std::this_thread::sleep_for(*stopAfter);
            signalStopEvent(jobState.stopEvent);
        }
        if (waitForMessage(window, kJobWaitMs, &run.message)) {
            run.threadEnded = waitForThread(jobState.workerThread, kThreadWaitMs) == 1;
            uint32_t extra = 0;
            while (waitForMessage(window, 0, &extra)) {
                ++run.extraMessages;
            }
            run.errorText = jobState.errorText;
            run.active = jobState.progress.active.load();
        }
        closeThreadHandle(jobState.workerThread);
    }
    // A worker that never reported keeps running; its window and event must outlive it.
    if (run.message != 0) {
        closeStopEvent(jobState.stopEvent);
        destroyMessageWindow(window);
    }
    jobState.workerThread = nullptr;
    jobState.stopEvent = nullptr;
    jobState.dialogWindow = nullptr;
    return run;
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

std::vector<int16_t> expectedOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                    uint16_t impulseChannels, const std::vector<int16_t>& impulse) {
    std::vector<float> h;
    for (int16_t s : impulse) {
        h.push_back(sampleToFloat(s));
    }
    return definitionOutput(inputChannels, input, impulseChannels, h);
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}
