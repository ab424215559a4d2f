// The platform's Open dialog for one of the three path fields.
#pragma once

#include <windows.h>

enum ChooserMode {
    chooseExistingFile, // input and impulse: the file must exist
    chooseOutputFile,   // output: may be new (the chooser asks before creating)
};

// Shows the chooser owned by dialog, preloaded with the edit's text. When the user
// confirms, the edit takes the chosen path and the result is true; otherwise nothing
// changes.
bool chooseFile(HWND dialog, HWND edit, ChooserMode mode);
