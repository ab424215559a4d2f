#include "cli/ProgressLine.h"

#include <cstdio>

#include "cli/Report.h"
#include "platform/Platform.h"

namespace {

constexpr int kNarrowestBar = 10; // below this a bar says too little to be worth its room

std::string twoDigits(uint64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

} // namespace

std::string clockText(uint64_t milliseconds) {
    const uint64_t seconds = milliseconds / 1000;
    const uint64_t hours = seconds / 3600;
    const std::string minutesAndSeconds =
        twoDigits(seconds / 60 % 60) + ":" + twoDigits(seconds % 60);
    return hours > 0 ? std::to_string(hours) + ":" + minutesAndSeconds : minutesAndSeconds;
}

uint64_t estimateLeft(int32_t done, int32_t total, uint64_t workingMs) {
    if (done <= 0 || total <= 0) {
        return UINT64_MAX;
    }
    const uint64_t part = done < total ? static_cast<uint64_t>(done) : static_cast<uint64_t>(total);
    const uint64_t rest = static_cast<uint64_t>(total) - part;
    // In double: workingMs * rest would pass 2^64 after some 90 days of a 2^31-frame job.
    return static_cast<uint64_t>(static_cast<double>(workingMs) * static_cast<double>(rest) /
                                 static_cast<double>(part));
}

std::string formatProgressLine(int32_t done, int32_t total, uint64_t elapsedMs, uint64_t leftMs,
                               int columns) {
    const int64_t whole = total > 0 ? total : 0;
    int64_t part = done < 0 ? 0 : done;
    if (part > whole) {
        part = whole;
    }
    const int64_t percent = whole > 0 ? part * 100 / whole : 0;
    char percentText[16];
    snprintf(percentText, sizeof percentText, " %3lld%%", static_cast<long long>(percent));
    const std::string frames = "  " + italianCount(static_cast<uint64_t>(part)) + "/" +
                               italianCount(static_cast<uint64_t>(whole)) + " frame";
    const std::string times = "  " + clockText(elapsedMs) + " / ~" +
                              (leftMs == UINT64_MAX ? std::string("--:--") : clockText(leftMs));
    const int room = columns - 1;
    // The widest form that fits, the bar taking the room the rest leaves.
    for (const std::string& rest : {percentText + frames + times, percentText + times}) {
        const int barWidth = room - static_cast<int>(rest.size()) - 2;
        if (barWidth >= kNarrowestBar) {
            const int64_t filled = whole > 0 ? part * barWidth / whole : 0;
            return "[" + std::string(static_cast<size_t>(filled), '#') +
                   std::string(static_cast<size_t>(barWidth - filled), '.') + "]" + rest;
        }
    }
    const size_t digits = std::string(percentText).find_first_not_of(' ');
    std::string line = std::string(percentText).substr(digits) + times;
    if (static_cast<int>(line.size()) > room) {
        line = std::string(percentText).substr(digits);
    }
    if (room > 0 && static_cast<int>(line.size()) > room) {
        line.resize(static_cast<size_t>(room));
    }
    return line;
}

std::string finishedLine(uint32_t frames, uint32_t rate, uint64_t elapsedMs) {
    const double seconds = rate > 0 ? static_cast<double>(frames) / rate : 0.0;
    return "fatto: " + italianDecimal(seconds) + " s di audio in " +
           italianDecimal(static_cast<double>(elapsedMs) / 1000.0) + " s";
}

ProgressDisplay startProgressDisplay() {
    return ProgressDisplay{monotonicMilliseconds(), 0, 0};
}

void drawProgress(ProgressDisplay& display, const JobProgress& progress) {
    if (progress.active.load(std::memory_order_acquire) != 1) {
        return;
    }
    const uint64_t now = monotonicMilliseconds();
    if (display.activeSinceMs == 0) {
        display.activeSinceMs = now;
    }
    const int32_t total = progress.total.load(std::memory_order_relaxed);
    const int32_t done = progress.done.load(std::memory_order_relaxed);
    const std::string line = formatProgressLine(
        done, total, now - display.startMs, estimateLeft(done, total, now - display.activeSinceMs),
        standardErrorColumns());
    // Spaces over what a longer line left (the terminal may have narrowed since).
    const size_t blank = display.drawnLength > line.size() ? display.drawnLength - line.size() : 0;
    fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(blank), "");
    if (blank > 0) {
        fprintf(stderr, "\r%s", line.c_str());
    }
    fflush(stderr);
    display.drawnLength = line.size();
}

void clearProgress(ProgressDisplay& display) {
    if (display.drawnLength > 0) {
        fprintf(stderr, "\r%*s\r", static_cast<int>(display.drawnLength), "");
        fflush(stderr);
        display.drawnLength = 0;
    }
}
