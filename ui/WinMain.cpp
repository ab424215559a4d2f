// Convoluzione for Windows: the program is its dialog. The command line and the requested
// show state are ignored; the exit status is the dialog's end value (0 after a normal
// close, -1 when it could not be created).
#include <windows.h>

#include "ui/MainDialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return runMainDialog();
}
