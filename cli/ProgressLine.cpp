#include "cli/ProgressLine.h"

#include <cstdio>

std::string formatProgressLine(int32_t done, int32_t total, int barWidth) {
    const int64_t whole = total > 0 ? total : 0;
    int64_t part = done < 0 ? 0 : done;
    if (part > whole) {
        part = whole;
    }
    const int64_t percent = whole > 0 ? part * 100 / whole : 0;
    const int64_t filled = whole > 0 ? part * barWidth / whole : 0;
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(barWidth - filled), '.');
    char numbers[64];
    snprintf(numbers, sizeof numbers, "] %3lld%%  %lld/%lld frame", static_cast<long long>(percent),
             static_cast<long long>(part), static_cast<long long>(whole));
    line += numbers;
    return line;
}
