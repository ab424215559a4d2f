// Moving the progress bar from the job's counters.
#pragma once

#include <cstdint>

#include <windows.h>

// done x 10000 / total, in 64 bits so that no count of frames can overflow, truncated.
// 0 while total is not positive.
int32_t barPosition(int32_t done, int32_t total);

// One timer tick: moves the bar when the engine has published its counters.
void showProgress(HWND dialog);
