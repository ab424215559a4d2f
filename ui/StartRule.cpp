#include "ui/StartRule.h"

#include "job/JobState.h"
#include "ui/DialogIds.h"
#include "ui/DialogState.h"
#include "ui/RunningLook.h"

namespace {

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
    dialogState.startRuleMet =
        namesExistingFile(input) && namesExistingFile(impulse) && output[0] != '\0';
    if (jobState.running == 0) {
        enableStartButton(dialog, dialogState.startRuleMet);
    }
}
