// Jobs started from the dialog: the running look, the bar, each way a job can end, the
// stop button, closing during a job or the session, presses in quick succession or while
// a job's end is shown, the keyboard focus, and jobs that cannot start.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

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

// The two jobs the dialog runs: one over the short files, which ends at once, and one over
// the long ones, which runs until it is stopped.
enum JobLength { shortJob, longJob };

// Fills the three paths through the choosers, as a person would, and presses ID_START.
::testing::AssertionResult fillAndPress(HWND dialog, JobLength length, const std::string& output) {
    const DialogFiles& files = dialogFiles();
    const bool isLong = length == longJob;
    ::testing::AssertionResult filled =
        fillPaths(dialog, isLong ? files.longInput : files.input,
                  isLong ? files.longImpulse : files.impulse, output);
    return filled ? press(dialog, ID_START) : filled;
}

// Waits for the idle look with the start button enabled: the end of a job, fully handled.
bool backToIdle(HWND dialog) {
    return waitFor([&] { return lookOf(dialog) == idleLook(true); });
}

bool engineIsUnderWay() {
    return jobState.progress.active.load() == 1 && jobState.progress.done.load() > 0;
}

constexpr int64_t kLongOutputBytes = ((int64_t{1} << 22) + 65536) * 4;

// On the dialog's thread, inside a stand-in's modal call: hands the thread's messages to
// their windows, as the platform's own modal loop does, until condition holds.
bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
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
    holdWorkers();
    ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
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

    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_TRUE(recorded().shells.empty()) << "No plays nothing";
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(recorded().boxes.size(), 1u);
    // Mono input, stereo impulse: stereo, as long as both together.
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
}

TEST_F(FinishedJob, YesPlaysTheFileTheJobWroteEvenIfTheFieldChangedMeanwhile) {
    const std::string output = freshOutputPath("suona");
    const std::string pickedLater = freshOutputPath("dopo");
    holdWorkers();
    ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
    answerNextChooser(pickedLater);
    ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE)); // the browse buttons work during a job
    EXPECT_EQ(controlText(dialog, ID_OUTPUT_PATH), pickedLater);
    EXPECT_EQ(lookOf(dialog), runningLook()) << "a pick must not touch the stop button";

    answerNextBox(IDYES);
    releaseWorkers();
    ASSERT_TRUE(waitForBoxes(1));
    ASSERT_TRUE(backToIdle(dialog));
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

TEST_F(FinishedJob, YesAsksForTheDefaultVerbOnceWhenPlayFails) {
    struct Case {
        const char* what;
        std::vector<INT_PTR> shellResults; // what the shell answers, call by call
        size_t calls;
    };
    const Case cases[] = {
        {"play works", {42}, 1},
        {"33 is the first success", {33}, 1},
        {"no program for play", {SE_ERR_NOASSOC, 42}, 2},
        {"32 is the last failure", {32, 42}, 2},
        {"no program for either", {SE_ERR_NOASSOC, SE_ERR_NOASSOC}, 2},
    };
    size_t boxes = 0;
    size_t shells = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output = freshOutputPath("verbo");
        for (INT_PTR result : c.shellResults) {
            answerNextShell(result);
        }
        answerNextBox(IDYES);
        ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
        ASSERT_TRUE(waitForBoxes(++boxes));
        ASSERT_TRUE(backToIdle(dialog));
        const auto requests = recorded().shells;
        ASSERT_EQ(requests.size(), shells + c.calls);
        EXPECT_TRUE(requests[shells].withVerb);
        EXPECT_EQ(requests[shells].verb, "play");
        if (c.calls == 2) {
            EXPECT_FALSE(requests[shells + 1].withVerb) << "the second request has no verb";
        }
        for (; shells < requests.size(); ++shells) {
            EXPECT_EQ(requests[shells].owner, dialog);
            EXPECT_EQ(requests[shells].file, output);
            EXPECT_FALSE(requests[shells].withParameters);
            EXPECT_FALSE(requests[shells].withDirectory);
            EXPECT_EQ(requests[shells].show, SW_SHOWNORMAL);
        }
    }
}

// ---- Jobs that fail ----

using FailedJob = DialogTest;

TEST_F(FailedJob, ShowsTheReasonThenTheNextPressStartsANewJob) {
    const DialogFiles& files = dialogFiles();
    const auto inputSize = std::filesystem::file_size(files.input);
    ASSERT_TRUE(fillAndPress(dialog, shortJob, files.input));
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox failure = recorded().boxes[0];
    EXPECT_EQ(failure.text,
              "Il file di output deve essere diverso dal file di input e dal file dell'impulso");
    EXPECT_EQ(failure.caption, "Errore");
    EXPECT_EQ(failure.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(failure.owner, dialog);
    EXPECT_EQ(failure.lookMeanwhile, runningLook());
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(std::filesystem::file_size(files.input), inputSize);

    const std::string output = freshOutputPath("dopo-errore");
    answerNextChooser(output);
    ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE));
    ASSERT_TRUE(press(dialog, ID_START));
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(recorded().boxes[1].text, kDoneQuestion);
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
}

// ---- Stopping ----

using StoppedJob = DialogTest;

TEST_F(StoppedJob, FermaIsDisabledUntilTheJobHasEndedThenTheDialogIsIdleWithoutABox) {
    const std::string output = freshOutputPath("ferma");
    holdWorkers(); // so that the job cannot end before the look is read
    ASSERT_TRUE(fillAndPress(dialog, longJob, output));
    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    EXPECT_EQ(lookOf(dialog), stoppingLook());
    EXPECT_EQ(jobState.running.load(), 1);

    releaseWorkers();
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(jobState.running.load(), 0);
    EXPECT_EQ(jobState.progress.active.load(), 0);
    EXPECT_EQ(recorded().eventsClosed, 1) << "each job's stop event is closed when it ends";
    EXPECT_GE(finishedStereoBytes(output), 0);
}

TEST_F(StoppedJob, FermaDuringTheRunLeavesAFinishedPartialOutputAndANewJobCanRun) {
    const std::string output = freshOutputPath("fermato");
    ASSERT_TRUE(fillAndPress(dialog, longJob, output));
    ASSERT_TRUE(waitFor(engineIsUnderWay));
    ASSERT_TRUE(waitFor([&] { return barPosition(dialog) > 0; }, 5000))
        << "the bar should move while the job runs";
    EXPECT_EQ(recorded().eventsCreated, 1);

    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(recorded().eventsClosed, 1);
    const int64_t written = finishedStereoBytes(output);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, kLongOutputBytes);

    // The next job gets an event of its own and runs to its end.
    ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
    EXPECT_EQ(recorded().eventsCreated, 2);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(recorded().boxes[0].text, kDoneQuestion);
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_EQ(recorded().eventsClosed, 2);
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
}

TEST_F(StoppedJob, ClosingDuringAJobStopsItLeavesAFinishedFileAndEndsWithZero) {
    const std::string output = freshOutputPath("chiuso");
    ASSERT_TRUE(fillAndPress(dialog, longJob, output));
    ASSERT_TRUE(waitFor(engineIsUnderWay));

    EXPECT_EQ(close(), 0);
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(jobState.running.load(), 0);
    // The event is closed only once the worker has ended: the job stopped within the
    // dialog's wait, which a clock would show only on a machine fast enough.
    EXPECT_EQ(recorded().eventsClosed, 1);
    EXPECT_GT(finishedStereoBytes(output), 0);
}

TEST_F(StoppedJob, TheSessionEndingDuringAJobLeavesTheStartOfTheResultBeforeItIsDone) {
    const DialogFiles& files = dialogFiles();
    const std::string output = freshOutputPath("sessione");
    ASSERT_TRUE(fillAndPress(dialog, longJob, output));
    ASSERT_TRUE(waitFor(engineIsUnderWay));

    // Asking, and a session that goes on after all (another program refused), change nothing.
    EXPECT_EQ(SendMessageA(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageA(dialog, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    EXPECT_EQ(lookOf(dialog), runningLook());
    EXPECT_EQ(jobState.running.load(), 1);

    // Once the session's end has been handled the system may end the process at any
    // moment, so the file must be finished by then.
    SendMessageA(dialog, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_TRUE(startOfFullResult(output, files.longInput, files.longImpulse));
    EXPECT_LT(finishedStereoBytes(output), kLongOutputBytes);
    EXPECT_TRUE(waitFor([&] { return run.ended.load(); }, 5000)) << "the dialog should end";
    EXPECT_EQ(close(), 0);
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(recorded().eventsClosed, 1);
}

TEST_F(StoppedJob, TheFocusWaitsOnTheNextTabStopUntilTheIdleLookReturns) {
    struct Case {
        const char* what;
        int focusedBefore; // when "&Ferma" is pressed
        int whileStopping; // with the button disabled
        int onceIdle;
    };
    const Case cases[] = {
        {"the stop button had it", ID_START, ID_OUTPUT_PATH, ID_START},
        {"another control had it", ID_INPUT_BROWSE, ID_INPUT_BROWSE, ID_INPUT_BROWSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        holdWorkers(); // so that the job cannot end before the focus is read
        ASSERT_TRUE(fillAndPress(dialog, longJob, freshOutputPath("fuoco")));
        putFocusOn(dialog, c.focusedBefore);
        ASSERT_EQ(focusedControl(run.threadId), c.focusedBefore);
        ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
        EXPECT_EQ(lookOf(dialog), stoppingLook());
        EXPECT_EQ(focusedControl(run.threadId), c.whileStopping);
        releaseWorkers();
        ASSERT_TRUE(backToIdle(dialog));
        // The focus moves right after the look, on the dialog's thread.
        EXPECT_TRUE(waitFor([&] { return focusedControl(run.threadId) == c.onceIdle; }, 5000))
            << "the focus is on " << focusedControl(run.threadId);
    }
}

// ---- Presses in quick succession, and presses while a job's end is shown ----

using QuickPresses = DialogTest;

TEST_F(QuickPresses, ASecondPressWithinTheDoubleClickTimeDoesNotStopTheJob) {
    struct Case {
        const char* what;
        DWORD secondPressAfterMs;
        bool stops;
    };
    const Case cases[] = {
        {"a double click", 0, false},
        {"a key pressed twice", 150, false},
        {"the double-click time's last moment", 499, false},
        {"a press once the double-click time has passed", 500, true},
    };
    setDoubleClickTime(500);
    size_t boxes = 0;
    int starts = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output = freshOutputPath("doppio");
        advanceClock(1000); // well past the previous case's presses
        holdWorkers();      // the job cannot end between the two presses
        // A job left to run must end soon; one that is stopped must not end first.
        ASSERT_TRUE(fillAndPress(dialog, c.stops ? longJob : shortJob, output));
        ++starts;
        advanceClock(c.secondPressAfterMs);
        ASSERT_TRUE(press(dialog, ID_START));
        EXPECT_EQ(lookOf(dialog), c.stops ? stoppingLook() : runningLook());
        releaseWorkers();
        if (!c.stops) {
            ASSERT_TRUE(waitForBoxes(++boxes));
            EXPECT_EQ(recorded().boxes.back().text, kDoneQuestion);
        }
        ASSERT_TRUE(backToIdle(dialog));
        EXPECT_EQ(recorded().boxes.size(), boxes) << "a stopped job shows no box";
        EXPECT_EQ(recorded().workerStarts, starts);
        if (c.stops) {
            const int64_t written = finishedStereoBytes(output);
            EXPECT_GE(written, 0);
            EXPECT_LT(written, kLongOutputBytes);
        } else {
            EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
        }
    }
}

TEST_F(QuickPresses, ASecondPressOnFermaDoesNotStartAJobOverTheStoppedFile) {
    const std::string output = freshOutputPath("ferma-doppio");
    setDoubleClickTime(500);
    ASSERT_TRUE(fillAndPress(dialog, longJob, output));
    ASSERT_TRUE(waitFor(engineIsUnderWay));
    advanceClock(2000);
    ASSERT_TRUE(press(dialog, ID_START)); // "&Ferma"
    ASSERT_TRUE(backToIdle(dialog));
    const int64_t stopped = finishedStereoBytes(output);
    EXPECT_GT(stopped, 0);

    // The second click lands on "&Avvia" when the job stopped sooner than it came.
    for (DWORD after : {0u, 499u}) {
        advanceClock(after);
        ASSERT_TRUE(press(dialog, ID_START));
        EXPECT_EQ(lookOf(dialog), idleLook(true)) << after << " ms after";
        EXPECT_EQ(recorded().workerStarts, 1);
        EXPECT_EQ(finishedStereoBytes(output), stopped);
    }
    advanceClock(1);
    ASSERT_TRUE(press(dialog, ID_START));
    EXPECT_EQ(lookOf(dialog), runningLook()) << "a later press starts the next job";
    EXPECT_EQ(recorded().workerStarts, 2);
}

TEST_F(QuickPresses, APressWhileTheEndIsShownInsideAChooserStartsNothing) {
    struct Case {
        const char* what;
        bool fails; // the output names the input
        int answer; // to the box
    };
    const Case cases[] = {
        {"done, Yes: pressed during the box and during the shell", false, IDYES},
        {"done, No", false, IDNO},
        {"failed", true, IDOK},
    };
    const DialogFiles& files = dialogFiles();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output = c.fails ? files.input : freshOutputPath("scelta");
        holdWorkers();
        ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
        const StandInRecord before = recorded();

        // The job ends while the user is picking the next output: the chooser's own loop
        // delivers the end message, and the box (and the shell) take presses meanwhile.
        int presses = 0;
        const WhileModal pressStart = [&](HWND owner) {
            ++presses;
            EXPECT_TRUE(press(owner, ID_START));
        };
        whileNextBox(pressStart);
        whileNextShell(pressStart);
        answerNextBox(c.answer);
        whileNextChooser([&](HWND) {
            releaseWorkers();
            EXPECT_TRUE(pumpUntil([&] { return recorded().boxes.size() > before.boxes.size(); }));
        });
        cancelNextChooser();
        ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE));

        const StandInRecord after = recorded();
        EXPECT_EQ(presses, c.answer == IDYES ? 2 : 1);
        EXPECT_EQ(after.workerStarts, before.workerStarts) << "a second job started";
        ASSERT_EQ(after.boxes.size(), before.boxes.size() + 1);
        EXPECT_EQ(after.boxes.back().text,
                  c.fails ? "Il file di output deve essere diverso dal file di input e dal file "
                            "dell'impulso"
                          : kDoneQuestion);
        EXPECT_EQ(after.shells.size(), before.shells.size() + (c.answer == IDYES ? 1 : 0));
        EXPECT_EQ(lookOf(dialog), idleLook(true));
        EXPECT_EQ(jobState.running.load(), 0);
        if (!c.fails) {
            EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
        }
        whileNextShell(nullptr); // not asked for when the answer was No
    }
}

// ---- Jobs that cannot start ----

using UnstartedJob = DialogTest;

TEST_F(UnstartedJob, AThreadThatCannotStartIsReportedAndTheDialogStaysIdle) {
    const std::string output = freshOutputPath("mai");
    failNextWorkerStart();
    ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
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
    ASSERT_TRUE(backToIdle(dialog));
    EXPECT_EQ(finishedStereoBytes(output), kShortOutputBytes);
}

TEST_F(UnstartedJob, AStopEventThatCannotBeCreatedStartsNoWorker) {
    const std::string output = freshOutputPath("senza-evento");
    failNextEventCreation();
    ASSERT_TRUE(fillAndPress(dialog, shortJob, output));
    ASSERT_EQ(recorded().boxes.size(), 1u);
    EXPECT_EQ(recorded().boxes[0].text, "Impossibile avviare l'elaborazione");
    EXPECT_EQ(recorded().workerStarts, 0);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
