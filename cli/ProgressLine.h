// The progress line the command line keeps on a terminal while a job runs:
// "[#######.......]  50%  661.500/1.323.000 frame  00:03 / ~00:03", as wide as the terminal.
#pragma once

#include <cstdint>
#include <string>

#include "convolution/JobProgress.h"

// "00:03", "12:34", "1:02:03": minutes and seconds, hours only when there are any.
std::string clockText(uint64_t milliseconds);

// How long the rest should take at the pace so far: workingMs spent on done of total
// frames. UINT64_MAX when nothing is done yet, so there is no pace to go by.
uint64_t estimateLeft(int32_t done, int32_t total, uint64_t workingMs);

// The line, at most columns - 1 characters (a character in the last column makes some
// terminals wrap): bar, percentage, frames (Italian grouping), elapsed and estimated time
// left ("~--:--" while unknown). The bar takes the room the rest leaves; on a narrow
// terminal the frames go first, then the bar. done is clamped to 0 ... total and the
// percentage truncates, so an early read never shows nonsense.
std::string formatProgressLine(int32_t done, int32_t total, uint64_t elapsedMs, uint64_t leftMs,
                               int columns);

// "fatto: 30,0 s di audio in 1,3 s": the line that stays on a terminal after a completed
// job, frames of input at rate in elapsedMs.
std::string finishedLine(uint32_t frames, uint32_t rate, uint64_t elapsedMs);

// What the command line has drawn on standard error, so it can redraw and clear it.
struct ProgressDisplay {
    uint64_t startMs;       // when the job started (monotonic clock)
    uint64_t activeSinceMs; // when its progress became valid (frames began), 0 until then
    size_t drawnLength;     // characters of the line now on the terminal, 0 when none
};

ProgressDisplay startProgressDisplay();
// Redraws the line from the job's progress, once frames are being counted.
void drawProgress(ProgressDisplay& display, const JobProgress& progress);
// Blanks the line, if one was drawn, and puts the cursor back at its start.
void clearProgress(ProgressDisplay& display);
