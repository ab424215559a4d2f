// A whole job from three paths: which message it posts, which words it leaves, and which
// file it leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/ConvolutionJob.h"
#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "job/JobWorker.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/JobHarness.h"

namespace {

struct JobFiles {
    ScratchDir dir;
    std::string input = dir.file("input.wav");
    std::string impulse = dir.file("impulse.wav");
    std::string output = dir.file("output.wav");
};

TEST(Job, ConvolvesIntoAFileAsLongAsBothInputs) {
    JobFiles f;
    const std::vector<int16_t> input = {1000, -2000, 3000, 32767, -32768};
    const std::vector<int16_t> impulse = {16384, -8192, 4096, 2048, 1024, 512};
    writeFileBytes(f.input, pcmWav(1, 44100, input));
    writeFileBytes(f.impulse, pcmWav(2, 44100, impulse)); // 3 stereo frames
    EXPECT_TRUE(endedWith(runJob(f.input, f.impulse, f.output), WM_JOB_DONE));
    EXPECT_EQ(jobState.progress.total, 8);
    EXPECT_EQ(jobState.progress.done, 8);
    const Bytes file = readFileBytes(f.output);
    EXPECT_TRUE(validWav(file, 2, 8));
    EXPECT_EQ(fieldLe32(file, 24), 44100u);
    EXPECT_EQ(samplesAfterHeader(file), expectedOutput(1, input, 2, impulse));
}

TEST(Job, MonoWithMonoStaysMono) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(1, 8000, {1, 2, 3}));
    writeFileBytes(f.impulse, pcmWav(1, 8000, {32767}));
    EXPECT_EQ(runJob(f.input, f.impulse, f.output).message, WM_JOB_DONE);
    EXPECT_TRUE(validWav(readFileBytes(f.output), 1, 4));
}

TEST(Job, InputsThatCannotBeOpenedAreNamedInOrder) {
    JobFiles f;
    // Both missing: the input is tried first.
    EXPECT_TRUE(
        endedWith(runJob(f.input, f.impulse, f.output), WM_JOB_FAILED, kTextInputUnreadable));
    writeFileBytes(f.input, pcmWav(1, 8000, {1}));
    writeFileBytes(f.impulse, Bytes{'R', 'I', 'F', 'F'});
    EXPECT_TRUE(
        endedWith(runJob(f.input, f.impulse, f.output), WM_JOB_FAILED, kTextImpulseUnreadable));
    EXPECT_FALSE(std::filesystem::exists(f.output));
}

TEST(Job, DifferentSampleRatesFailBeforeTheOutputIsTouched) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(1, 44100, {1}));
    writeFileBytes(f.impulse, pcmWav(1, 48000, {1}));
    const Bytes earlier = {'k', 'e', 'e', 'p'};
    writeFileBytes(f.output, earlier);
    EXPECT_TRUE(
        endedWith(runJob(f.input, f.impulse, f.output), WM_JOB_FAILED, kTextSampleRatesDiffer));
    EXPECT_EQ(readFileBytes(f.output), earlier);
}

TEST(Job, AnEmptyImpulseLeavesAFinishedEmptyOutput) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(1, 8000, {1, 2}));
    writeFileBytes(f.impulse, pcmWav(2, 8000, {}));
    EXPECT_TRUE(
        endedWith(runJob(f.input, f.impulse, f.output), WM_JOB_FAILED, kTextImpulseNotLoaded));
    const Bytes file = readFileBytes(f.output);
    EXPECT_TRUE(validWav(file, 2, 0));
    EXPECT_EQ(fieldLe32(file, 4), 36u);
}

TEST(Job, FramesMissingFromAShortInputAreSilence) {
    JobFiles f;
    // The data chunk claims 6 frames; the file ends after 3 and one byte.
    Bytes input =
        riff({pcmFormatChunk(1, 8000), chunkWithSize("data", 12, sampleBytes({300, 600, 900}))});
    input.push_back(0x7F);
    writeFileBytes(f.input, input);
    writeFileBytes(f.impulse, pcmWav(1, 8000, {16384}));
    EXPECT_EQ(runJob(f.input, f.impulse, f.output).message, WM_JOB_DONE);
    EXPECT_EQ(samplesAfterHeader(readFileBytes(f.output)),
              (std::vector<int16_t>{0, 150, 300, 450, 0, 0, 0}));
}

TEST(Job, AStoppedJobLeavesAValidFileOfTheFramesSoFar) {
    JobFiles f;
    // An impulse long enough that the stop is seen well before the end.
    writeFileBytes(f.input, pcmWav(1, 8000, std::vector<int16_t>(20000, 1000)));
    writeFileBytes(f.impulse, pcmWav(1, 8000, std::vector<int16_t>(60000, 0)));
    EXPECT_TRUE(endedWith(runJob(f.input, f.impulse, f.output, kStopBeforeStart), WM_JOB_STOPPED));
    const Bytes file = readFileBytes(f.output);
    const int32_t done = jobState.progress.done;
    EXPECT_LT(done, 80000);
    EXPECT_TRUE(validWav(file, 1, static_cast<size_t>(done)));
}

TEST(Job, AStopWhileTheImpulseLoadsEndsLikeAStoppedJob) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(1, 8000, {1, 2, 3}));
    // More taps than one piece of the load: the stop is seen before the second.
    writeFileBytes(f.impulse, pcmWav(1, 8000, std::vector<int16_t>((1u << 18) + 5, 7)));
    jobState.progress.total = -7; // stays as it is unless the engine starts
    EXPECT_TRUE(endedWith(runJob(f.input, f.impulse, f.output, kStopBeforeStart), WM_JOB_STOPPED));
    EXPECT_EQ(jobState.progress.total, -7);
    EXPECT_TRUE(validWav(readFileBytes(f.output), 1, 0));
}

// The front end may clear its handle once it no longer waits for the worker; the worker
// goes on with the event it started with.
TEST(Job, TheWorkerKeepsTheStopEventItStartedWith) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(2, 8000, std::vector<int16_t>(2000000, 1000)));
    writeFileBytes(f.impulse, pcmWav(1, 8000, std::vector<int16_t>(30000, 3)));
    copyPath(jobState.inputPath, f.input.c_str());
    copyPath(jobState.impulsePath, f.impulse.c_str());
    copyPath(jobState.outputPath, f.output.c_str());
    jobState.dialogWindow = createMessageWindow();
    const EventHandle stopEvent = createStopEvent();
    jobState.stopEvent = stopEvent;
    jobState.progress.active = 0;
    ThreadHandle worker = startWorkerThread(runConvolutionJob, nullptr);
    ASSERT_NE(worker, nullptr);
    // Once the engine runs the worker has long taken its copy (and the acquire load orders
    // that before what follows).
    uint32_t message = 0;
    while (jobState.progress.active.load(std::memory_order_acquire) != 1 &&
           !waitForMessage(jobState.dialogWindow, 1, &message)) {
    }
    jobState.stopEvent = nullptr;
    signalStopEvent(stopEvent);
    if (message == 0) {
        ASSERT_EQ(waitForMessage(jobState.dialogWindow, 600000, &message), 1);
    }
    EXPECT_EQ(message, WM_JOB_STOPPED);
    EXPECT_EQ(waitForThread(worker, kWorkerWaitMs), 1);
    closeThreadHandle(worker);
    closeStopEvent(stopEvent);
    destroyMessageWindow(jobState.dialogWindow);
    jobState.dialogWindow = nullptr;
    const Bytes file = readFileBytes(f.output);
    EXPECT_LT(file.size(), 44u + 2030000u * 4u);
    EXPECT_TRUE(validWav(file, 2, (file.size() - 44) / 4));
}

TEST(Job, RunsOnAWorkerThreadAndPostsItsEnd) {
    JobFiles f;
    writeFileBytes(f.input, pcmWav(2, 8000, {1, 2, 3, 4}));
    writeFileBytes(f.impulse, pcmWav(1, 8000, {100}));
    copyPath(jobState.inputPath, f.input.c_str());
    copyPath(jobState.impulsePath, f.impulse.c_str());
    copyPath(jobState.outputPath, f.output.c_str());
    jobState.dialogWindow = createMessageWindow();
    ThreadHandle worker = startWorkerThread(runConvolutionJob, nullptr);
    ASSERT_NE(worker, nullptr);
    uint32_t message = 0;
    ASSERT_EQ(waitForMessage(jobState.dialogWindow, 10000, &message), 1);
    EXPECT_EQ(message, WM_JOB_DONE);
    EXPECT_EQ(waitForThread(worker, kWorkerWaitMs), 1);
    closeThreadHandle(worker);
    destroyMessageWindow(jobState.dialogWindow);
    jobState.dialogWindow = nullptr;
    EXPECT_TRUE(validWav(readFileBytes(f.output), 2, 3));
}

TEST(Job, PathsLongerThanTheFieldAreCutAndReported) {
    const std::string longPath(400, 'a');
    EXPECT_EQ(copyPath(jobState.inputPath, longPath.c_str()), 0);
    EXPECT_EQ(strlen(jobState.inputPath), kPathBytes - 1);
    EXPECT_EQ(copyPath(jobState.inputPath, "short.wav"), 1);
    EXPECT_STREQ(jobState.inputPath, "short.wav");
}

TEST(Job, FailureTextsAreAsciiAndFitTheField) {
    for (const char* text : {kTextInputUnreadable, kTextImpulseUnreadable, kTextSampleRatesDiffer,
                             kTextOutputNotCreated, kTextImpulseNotLoaded, kTextOutputIsAnInput,
                             kTextOutputTooLarge, kTextWriteFailed, kTextOutOfMemory}) {
        EXPECT_LT(strlen(text), kErrorTextBytes);
        for (const char* c = text; *c != '\0'; ++c) {
            EXPECT_LT(static_cast<unsigned char>(*c), 0x80u) << text;
        }
    }
}

} // namespace
