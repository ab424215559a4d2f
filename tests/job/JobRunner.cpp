#include "tests/job/JobRunner.h"
#include "job/ConvolutionJob.h"

#include <cstring>

JobOutcome runJobHere(const std::string& input, const std::string& impulse,
                      const std::string& output, bool stopFirst) {
    copyPath(jobState.inputPath, input.c_str());
    copyPath(jobState.impulsePath, impulse.c_str());
    copyPath(jobState.outputPath, output.c_str());
    memset(jobState.errorText, 0, sizeof jobState.errorText);
    jobState.progress.active = 0;
    jobState.dialogWindow = createMessageWindow();
    jobState.stopEvent = createStopEvent();
    if (stopFirst) {
        signalStopEvent(jobState.stopEvent);
    }
    JobOutcome outcome{};
    outcome.exitCode = runConvolutionJob(nullptr);
    waitForMessage(jobState.dialogWindow, 0, &outcome.message);
    uint32_t extra = 0;
    while (waitForMessage(jobState.dialogWindow, 0, &extra)) {
        ++outcome.extraMessages;
    }
    outcome.errorText = jobState.errorText;
    outcome.active = jobState.progress.active;
    destroyMessageWindow(jobState.dialogWindow);
    closeStopEvent(jobState.stopEvent);
    jobState.dialogWindow = nullptr;
    jobState.stopEvent = nullptr;
    return outcome;
}
