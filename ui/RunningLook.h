// The dialog's two looks, and the one way the start button is enabled or disabled.
#pragma once

#include <windows.h>

// Running: button 1004 becomes the enabled "&Ferma" button and the progress bar shows.
// Idle: the button reads "&Avvia", enabled as the start rule last said, and the bar hides.
void setRunningLook(HWND dialog, bool running);

// Enables or disables button 1004. A disabled window cannot keep the keyboard focus: the
// platform would drop it, leaving Tab and the mnemonics dead until the next click. So
// when the button has the focus and is being disabled, the focus first moves on to the
// next tab stop. Returns the control that took the focus, or null when it did not move.
HWND enableStartButton(HWND dialog, bool enabled);
