#include "ui/StartRule.h"

#include "job/JobState.h"
#include "ui/DialogIds.h"
#include "ui/RunningLook.h"

namespace {

// The only state the dialog keeps outside its controls: the start button is also the stop
// button while a job runs, so its enabled state cannot hold the rule's result then.
bool lastRuleResult = false;

bool namesExistingFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

void updateStartButton(HWND dialog) {
    char input[kPathBytes] = {};
    char impulse[kPathBytes] = {};
    char output[kPathBytes] = {};
    GetDlgItemTextA(dialog, ID_INPUT_PATH, input, kPathBytes);
    GetDlgItemTextA(dialog, ID_IMPULSE_PATH, impulse, kPathBytes);
    GetDlgItemTextA(dialog, ID_OUTPUT_PATH, output, kPathBytes);
    // Whether the output exists does not matter: the job creates or replaces it.
    lastRuleResult = namesExistingFile(input) && namesExistingFile(impulse) && output[0] != '\0';
    if (jobState.running == 0) {
        enableStartButton(dialog, lastRuleResult);
    }
}

bool startRuleMet() {
    return lastRuleResult;
}
