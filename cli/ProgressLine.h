// The one-line progress bar the command line shows on a terminal.
#pragma once

#include <cstdint>
#include <string>

// "[#####.....]  50%  500/1000 frame": the bar is barWidth characters wide; the percentage
// truncates, and done is clamped to 0 ... total so an early read never shows nonsense.
std::string formatProgressLine(int32_t done, int32_t total, int barWidth);
