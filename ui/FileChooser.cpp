#include "ui/FileChooser.h"

#include <cstddef>

#include <commdlg.h>

#include "job/JobState.h"
#include "ui/DialogServices.h"
#include "ui/DialogTexts.h"

namespace {

constexpr DWORD kExistingFileFlags =
    OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES | OFN_ENABLESIZING;
// The Open dialog serves for the output too: the create prompt is what lets it accept a
// name that does not exist yet (after asking). The overwrite prompt matters only to a Save
// dialog, so picking an existing output asks nothing; a job replaces it without a question.
constexpr DWORD kOutputFileFlags =
    OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT | OFN_LONGNAMES | OFN_ENABLESIZING;
static_assert(kExistingFileFlags == 0x00A01800, "flags of the input and impulse choosers");
static_assert(kOutputFileFlags == 0x00A02802, "flags of the output chooser");

// The request's original form (OPENFILENAME_SIZE_VERSION_400A) ends with lpTemplateName:
// 76 bytes where pointers take 4, 136 where they take 8 (the pointers grow and the fields
// between them are padded). The chooser checks lStructSize against the sizes it knows for
// its own build, so a 64-bit program that claimed 76 bytes would have every request
// refused.
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) ==
                  (sizeof(void*) == 8 ? 136 : 76),
              "the original OPENFILENAMEA form");

} // namespace

bool chooseFile(HWND dialog, HWND edit, ChooserMode mode) {
    char path[kPathBytes] = {};
    SendMessageA(edit, WM_GETTEXT, kPathBytes, reinterpret_cast<LPARAM>(path));

    // The request in its original, shorter form (no places bar); no title, initial folder
    // or default extension, so a name typed without ".wav" is used as typed.
    OPENFILENAMEA request = {};
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    request.hwndOwner = dialog;
    request.lpstrFilter = kWaveFilter;
    request.lpstrFile = path;
    request.nMaxFile = kPathBytes;
    request.Flags = mode == chooseOutputFile ? kOutputFileFlags : kExistingFileFlags;
    if (!dialogServices.chooseOpenFile(&request)) {
        return false;
    }
    SetWindowTextA(edit, path);
    return true;
}
