// The dialog's two looks, and the one way the start button is enabled or disabled.
#pragma once

#include <windows.h>

// Running: ID_START becomes the enabled "&Ferma" button and the progress bar shows.
// Idle: the button reads "&Avvia", enabled when startRuleMet (the start rule's last
// result), and the bar hides.
void setRunningLook(HWND dialog, bool running, bool startRuleMet);

// Enables or disables ID_START. A disabled window cannot keep the keyboard focus: the
// platform would drop it, leaving Tab and the mnemonics dead until the next click. So
// when the button has the focus and is being disabled, the focus first moves on to the
// next tab stop. Returns the control that took the focus, or null when it did not move.
HWND enableStartButton(HWND dialog, bool enabled);
