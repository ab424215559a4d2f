// The dialog's two looks.
#pragma once

#include <windows.h>

// Running: button 1004 becomes the enabled "&Ferma" button and the progress bar shows.
// Idle: the button reads "&Avvia", enabled as the start rule last said, and the bar hides.
void setRunningLook(HWND dialog, bool running);
