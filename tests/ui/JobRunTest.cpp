// Jobs started from the dialog: the running look, the bar, each way a job can end, the
// stop button, closing during a job, and jobs that cannot start.
#include <cstdint>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "job/JobState.h"
#include "tests/ui/DialogDriver.h"
#include "tests/ui/DialogFiles.h"
#include "tests/ui/StandIns.h"
#include "ui/DialogIds.h"

namespace {

constexpr char kDoneQuestion[] = "Fatto! Vuoi ascoltare il file prodotto?";

::testing::AssertionResult fillPaths(HWND dialog, const std::string& input,
                                     const std::string& impulse, const std::string& output) {
    answerNextChooser(input);
    answerNextChooser(impulse);
    answerNextChooser(output);
    ::testing::AssertionResult pressed = press(dialog, ID_INPUT_BROWSE);
    if (pressed) {
        pressed = press(dialog, ID_IMPULSE_BROWSE);
    }
    if (pressed) {
        pressed = press(dialog, ID_OUTPUT_BROWSE);
    }
    return pressed;
}

// A finished output whose header counts exactly the sample bytes that follow it.
::testing::AssertionResult isFinishedWav(const std::string& path, uint16_t channels) {
    const WavHeaderOnDisk header = readWavHeader(path);
    if (!header.readable) {
        return ::testing::AssertionFailure() << path << " is missing or shorter than a header";
    }
    if (header.channels != channels || header.blockAlign != channels * 2 ||
        header.fileSize != 44 + uint64_t{header.dataSize} ||
        header.riffSize != 36 + header.dataSize || header.dataSize % header.blockAlign != 0) {
        return ::testing::AssertionFailure()
               << path << ": size " << header.fileSize << ", RIFF " << header.riffSize << ", data "
               << header.dataSize << ", " << header.channels << " channels";
    }
    return ::testing::AssertionSuccess();
}

uint32_t dataBytes(const std::string& path) {
    return readWavHeader(path).dataSize;
}

bool engineIsUnderWay() {
    return jobState.progress.active.load() == 1 && jobState.progress.done.load() > 0;
}

// ---- The bar ----

using ProgressBar = DialogTest;

TEST_F(ProgressBar, StandsAtDoneTimesTenThousandOverTotalTruncated) {
    struct Case {
        int32_t done, total, position;
    };
    const Case cases[] = {
        {1, 4, 2500},
        {4, 4, 10000},
        {1, 3, 3333}, // truncated, not rounded
        {2, 3, 6666},
        {0, 5, 0},
        {1073741824, 2147483647, 5000}, // done x 10000 needs 64 bits
        {2147483646, 2147483647, 9999},
    };
    for (const Case& c : cases) {
        jobState.progress.total = c.total;
        jobState.progress.done = c.done;
        jobState.progress.active = 1;
        SendMessageA(dialog, WM_TIMER, 1, 0);
        EXPECT_EQ(barPosition(dialog), c.position) << c.done << " of " << c.total;
    }
}

TEST_F(ProgressBar, StaysPutWhileTheCountersAreNotPublished) {
    jobState.progress.total = 4;
    jobState.progress.done = 1;
    jobState.progress.active = 1;
    SendMessageA(dialog, WM_TIMER, 1, 0);
    ASSERT_EQ(barPosition(dialog), 2500);
    jobState.progress.active = 0;
    jobState.progress.done = 3;
    SendMessageA(dialog, WM_TIMER, 1, 0);
    Sleep(600); // two ticks of the dialog's own timer
    EXPECT_EQ(barPosition(dialog), 2500);
}

TEST_F(ProgressBar, FollowsTheCountersOnTheDialogsOwnTimer) {
    jobState.progress.total = 2;
    jobState.progress.done = 1;
    jobState.progress.active = 1;
    EXPECT_TRUE(waitFor([&] { return barPosition(dialog) == 5000; }, 3000));
}

// ---- Jobs that run to their end ----

using FinishedJob = DialogTest;

TEST_F(FinishedJob, ShowsTheRunningLookThenAsksAndNoLeavesTheDialogIdle) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("fatto");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    holdWorkers();
    ASSERT_TRUE(press(dialog, ID_START));
    EXPECT_EQ(lookOf(dialog), runningLook());
    EXPECT_EQ(jobState.running.load(), 1);
    EXPECT_STREQ(jobState.inputPath, files.input.c_str());
    EXPECT_STREQ(jobState.impulsePath, files.impulse.c_str());
    EXPECT_STREQ(jobState.outputPath, output.c_str());

    releaseWorkers();
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox box = shownBoxes()[0];
    EXPECT_EQ(box.text, kDoneQuestion);
    EXPECT_EQ(box.caption, ":-)");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_YESNO)); // no icon, Yes is the default
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(box.lookMeanwhile, runningLook());

    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(shellRequests().empty()) << "No plays nothing";
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(shownBoxes().size(), 1u);
    // Mono input, stereo impulse: stereo, as long as both together.
    ASSERT_TRUE(isFinishedWav(output, 2));
    EXPECT_EQ(dataBytes(output), (2000u + 100u) * 4u);
}

TEST_F(FinishedJob, YesPlaysTheFileTheJobWroteEvenIfTheFieldChangedMeanwhile) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("suona");
    const std::string pickedLater = freshOutputPath("dopo");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    holdWorkers();
    ASSERT_TRUE(press(dialog, ID_START));
    answerNextChooser(pickedLater);
    ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE)); // the browse buttons work during a job
    EXPECT_EQ(controlText(dialog, ID_OUTPUT_PATH), pickedLater);
    EXPECT_EQ(lookOf(dialog), runningLook()) << "a pick must not touch the stop button";

    answerNextBox(IDYES);
    releaseWorkers();
    ASSERT_TRUE(waitForBoxes(1));
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    const auto plays = shellRequests();
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].owner, dialog);
    EXPECT_EQ(plays[0].verb, "play");
    EXPECT_EQ(plays[0].file, output);
    EXPECT_FALSE(plays[0].withParameters);
    EXPECT_FALSE(plays[0].withDirectory);
    EXPECT_EQ(plays[0].show, SW_SHOWNORMAL);
    EXPECT_TRUE(isFinishedWav(output, 2));
    EXPECT_FALSE(fileExists(pickedLater));
}

// ---- Jobs that fail ----

using FailedJob = DialogTest;

TEST_F(FailedJob, ShowsTheReasonThenTheNextPressStartsANewJob) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("dopo-errore");
    ASSERT_TRUE(fillPaths(dialog, files.notWave, files.impulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox failure = shownBoxes()[0];
    EXPECT_EQ(failure.text, "Impossibile aprire il file di input");
    EXPECT_EQ(failure.caption, "Errore");
    EXPECT_EQ(failure.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(failure.owner, dialog);
    EXPECT_EQ(failure.lookMeanwhile, runningLook());
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(jobState.running.load(), 0);

    answerNextChooser(files.input);
    ASSERT_TRUE(press(dialog, ID_INPUT_BROWSE));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(shownBoxes()[1].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(isFinishedWav(output, 2));
}

TEST_F(FailedJob, RefusesAnOutputThatIsTheInputAndLeavesTheInputWhole) {
    const DialogFiles& files = dialogFiles();
    const uint32_t inputBytes = dataBytes(files.input);
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, files.input));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(shownBoxes()[0].text,
              "Il file di output deve essere diverso dal file di input e dal file dell'impulso");
    EXPECT_EQ(shownBoxes()[0].caption, "Errore");
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(isFinishedWav(files.input, 1));
    EXPECT_EQ(dataBytes(files.input), inputBytes);
}

// ---- Stopping ----

using StoppedJob = DialogTest;

TEST_F(StoppedJob, FermaIsDisabledUntilTheJobHasEndedThenTheDialogIsIdleWithoutABox) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("ferma");
    ASSERT_TRUE(fillPaths(dialog, files.longInput, files.longImpulse, output));
    holdWorkers(); // so that the job cannot end before the look is read
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    EXPECT_EQ(lookOf(dialog), stoppingLook());
    EXPECT_EQ(jobState.running.load(), 1);

    releaseWorkers();
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(shownBoxes().empty());
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(stopEventsClosed(), 1) << "each job's stop event is closed when it ends";
    EXPECT_TRUE(isFinishedWav(output, 2));
}

TEST_F(StoppedJob, FermaDuringTheRunLeavesAFinishedPartialOutputAndANewJobCanRun) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("fermato");
    ASSERT_TRUE(fillPaths(dialog, files.longInput, files.longImpulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitFor(engineIsUnderWay));
    ASSERT_TRUE(waitFor([&] { return barPosition(dialog) > 0; }, 5000))
        << "the bar should move while the job runs";
    EXPECT_EQ(stopEventsCreated(), 1);

    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(shownBoxes().empty());
    EXPECT_EQ(stopEventsClosed(), 1);
    ASSERT_TRUE(isFinishedWav(output, 2));
    EXPECT_GT(dataBytes(output), 0u);
    EXPECT_LT(dataBytes(output), ((1u << 22) + 65536u) * 4u);

    // The next job gets an event of its own and runs to its end.
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    EXPECT_EQ(stopEventsCreated(), 2);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(shownBoxes()[0].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(stopEventsClosed(), 2);
    EXPECT_EQ(dataBytes(output), (2000u + 100u) * 4u);
}

TEST_F(StoppedJob, ClosingDuringAJobStopsItLeavesAFinishedFileAndEndsWithZero) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("chiuso");
    ASSERT_TRUE(fillPaths(dialog, files.longInput, files.longImpulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitFor(engineIsUnderWay));

    const DWORD start = GetTickCount();
    EXPECT_EQ(close(), 0);
    EXPECT_LT(GetTickCount() - start, 12000u) << "the job should stop well within the wait";
    EXPECT_TRUE(shownBoxes().empty());
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(stopEventsClosed(), 1);
    ASSERT_TRUE(isFinishedWav(output, 2));
    EXPECT_GT(dataBytes(output), 0u);
}

// ---- Jobs that cannot start ----

using UnstartedJob = DialogTest;

TEST_F(UnstartedJob, AThreadThatCannotStartIsReportedAndTheDialogStaysIdle) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("mai");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    failNextWorkerStart();
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_EQ(shownBoxes().size(), 1u);
    const ShownBox box = shownBoxes()[0];
    EXPECT_EQ(box.text, "Impossibile avviare l'elaborazione");
    EXPECT_EQ(box.caption, "Errore");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.stopEvent, nullptr);
    EXPECT_EQ(stopEventsClosed(), stopEventsCreated());
    EXPECT_FALSE(fileExists(output));

    // Nothing is stuck: the next press runs the job.
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(shownBoxes()[1].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(isFinishedWav(output, 2));
}

TEST_F(UnstartedJob, AStopEventThatCannotBeCreatedStartsNoWorker) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("senza-evento");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    failNextEventCreation();
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_EQ(shownBoxes().size(), 1u);
    EXPECT_EQ(shownBoxes()[0].text, "Impossibile avviare l'elaborazione");
    EXPECT_EQ(workerStarts(), 0);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
    EXPECT_FALSE(fileExists(output));
}

} // namespace
