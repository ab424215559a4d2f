// Jobs started from the dialog: the running look, the bar, each way a job can end, the
// stop button, closing during a job, and jobs that cannot start.
#include <cstdint>
#include <filesystem>
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

bool engineIsUnderWay() {
    return jobState.progress.active.load() == 1 && jobState.progress.done.load() > 0;
}

// ---- The bar ----

using ProgressBar = DialogTest;

TEST_F(ProgressBar, StandsAtDoneTimesTenThousandOverTotalTruncated) {
    struct Case {
        int32_t done, total, active, position;
    };
    const Case cases[] = {
        {1, 4, 1, 2500},
        {4, 4, 1, 10000},
        {1, 3, 1, 3333}, // truncated, not rounded
        {2, 3, 1, 6666},
        {0, 5, 1, 0},
        {1073741824, 2147483647, 1, 5000}, // done x 10000 needs 64 bits
        {2147483646, 2147483647, 1, 9999},
        {3, 4, 0, 9999}, // counters not published: the bar stays put
    };
    for (const Case& c : cases) {
        jobState.progress.total = c.total;
        jobState.progress.done = c.done;
        jobState.progress.active = c.active;
        SendMessageA(dialog, WM_TIMER, 1, 0);
        EXPECT_EQ(barPosition(dialog), c.position) << c.done << " of " << c.total;
    }
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
    const ShownBox box = recorded().boxes[0];
    EXPECT_EQ(box.text, kDoneQuestion);
    EXPECT_EQ(box.caption, ":-)");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_YESNO)); // no icon, Yes is the default
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(box.lookMeanwhile, runningLook());

    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(recorded().shells.empty()) << "No plays nothing";
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(recorded().boxes.size(), 1u);
    // Mono input, stereo impulse: stereo, as long as both together.
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
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
    const auto plays = recorded().shells;
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].owner, dialog);
    EXPECT_EQ(plays[0].verb, "play");
    EXPECT_EQ(plays[0].file, output);
    EXPECT_FALSE(plays[0].withParameters);
    EXPECT_FALSE(plays[0].withDirectory);
    EXPECT_EQ(plays[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
    EXPECT_FALSE(std::filesystem::exists(pickedLater));
}

// ---- Jobs that fail ----

using FailedJob = DialogTest;

TEST_F(FailedJob, ShowsTheReasonThenTheNextPressStartsANewJob) {
    const DialogFiles& files = dialogFiles();
    const auto inputSize = std::filesystem::file_size(files.input);
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, files.input));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox failure = recorded().boxes[0];
    EXPECT_EQ(failure.text,
              "Il file di output deve essere diverso dal file di input e dal file dell'impulso");
    EXPECT_EQ(failure.caption, "Errore");
    EXPECT_EQ(failure.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(failure.owner, dialog);
    EXPECT_EQ(failure.lookMeanwhile, runningLook());
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(std::filesystem::file_size(files.input), inputSize);

    const std::string output = freshOutputPath("dopo-errore");
    answerNextChooser(output);
    ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(recorded().boxes[1].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
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
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(recorded().eventsClosed, 1) << "each job's stop event is closed when it ends";
    EXPECT_GE(finishedStereoBytes(output), 0);
}

TEST_F(StoppedJob, FermaDuringTheRunLeavesAFinishedPartialOutputAndANewJobCanRun) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("fermato");
    ASSERT_TRUE(fillPaths(dialog, files.longInput, files.longImpulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitFor(engineIsUnderWay));
    ASSERT_TRUE(waitFor([&] { return barPosition(dialog) > 0; }, 5000))
        << "the bar should move while the job runs";
    EXPECT_EQ(recorded().eventsCreated, 1);

    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(recorded().eventsClosed, 1);
    const int64_t written = finishedStereoBytes(output);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, ((int64_t{1} << 22) + 65536) * 4);

    // The next job gets an event of its own and runs to its end.
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    ASSERT_TRUE(press(dialog, ID_START));
    EXPECT_EQ(recorded().eventsCreated, 2);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(recorded().boxes[0].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(recorded().eventsClosed, 2);
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
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
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(recorded().eventsClosed, 1);
    EXPECT_GT(finishedStereoBytes(output), 0);
}

// ---- Jobs that cannot start ----

using UnstartedJob = DialogTest;

TEST_F(UnstartedJob, AThreadThatCannotStartIsReportedAndTheDialogStaysIdle) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("mai");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    failNextWorkerStart();
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_EQ(recorded().boxes.size(), 1u);
    const ShownBox box = recorded().boxes[0];
    EXPECT_EQ(box.text, "Impossibile avviare l'elaborazione");
    EXPECT_EQ(box.caption, "Errore");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.stopEvent, nullptr);
    EXPECT_EQ(recorded().eventsClosed, recorded().eventsCreated);
    EXPECT_FALSE(std::filesystem::exists(output));

    // Nothing is stuck: the next press runs the job.
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(recorded().boxes[1].text, kDoneQuestion);
    ASSERT_TRUE(waitFor([&] { return lookOf(dialog) == idleLook(true); }));
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
}

TEST_F(UnstartedJob, AStopEventThatCannotBeCreatedStartsNoWorker) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("senza-evento");
    ASSERT_TRUE(fillPaths(dialog, files.input, files.impulse, output));
    failNextEventCreation();
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_EQ(recorded().boxes.size(), 1u);
    EXPECT_EQ(recorded().boxes[0].text, "Impossibile avviare l'elaborazione");
    EXPECT_EQ(recorded().workerStarts, 0);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
