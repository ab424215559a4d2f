// When the start button may start a job.
#pragma once

#include <windows.h>

// Applies the start rule to the dialog's fields: a job may start when the input and the
// impulse name existing files (not folders) and the output path is not empty. The result
// is kept in dialogState for the idle look; the button itself takes it only while no job
// runs, since during a job the same button is the stop button.
void updateStartButton(HWND dialog);
