#include <gtest/gtest.h>

#include <cstdint>

#include "cli/ProgressLine.h"

namespace {

// The line on an 80-column terminal with no time yet: the bar takes what the rest leaves.
std::string at80(int32_t done, int32_t total) {
    return formatProgressLine(done, total, 0, UINT64_MAX, 80);
}

} // namespace

TEST(ProgressLine, ShowsBarPercentageFramesAndTimesInTheTerminalsWidth) {
    const struct {
        int32_t done;
        int32_t total;
        uint64_t elapsedMs;
        uint64_t leftMs;
        int columns;
        const char* line;
    } rows[] = {
        {0, 1000, 0, UINT64_MAX, 52, "[.............]   0%  0/1.000 frame  00:00 / ~--:--"},
        {250, 1000, 3000, 9000, 52, "[##.........]  25%  250/1.000 frame  00:03 / ~00:09"},
        {999, 1000, 59999, 60, 52, "[##########.]  99%  999/1.000 frame  00:59 / ~00:00"},
        {1000, 1000, 61000, 0, 54, "[###########] 100%  1.000/1.000 frame  01:01 / ~00:00"},
        {500, 1000, 3723000, 3600000, 60,
         "[#######........]  50%  500/1.000 frame  1:02:03 / ~1:00:00"},
        // Narrower: first the frames go, then the bar, then the times.
        {500, 1000, 3000, 3000, 40, "[########........]  50%  00:03 / ~00:03"},
        {500, 1000, 3000, 3000, 30, "50%  00:03 / ~00:03"},
        {500, 1000, 3000, 3000, 10, "50%"},
    };
    for (const auto& row : rows) {
        const std::string line =
            formatProgressLine(row.done, row.total, row.elapsedMs, row.leftMs, row.columns);
        EXPECT_EQ(line, row.line) << row.columns;
        EXPECT_LE(static_cast<int>(line.size()), row.columns - 1);
    }
    EXPECT_EQ(at80(0, 1000).size(), 79u);
    EXPECT_EQ(at80(0, 1000).rfind("[....", 0), 0u);
}

TEST(ProgressLine, LargeCountsDoNotOverflowAndOddValuesAreClamped) {
    const std::string end = "  00:00 / ~--:--";
    const auto tail = [](const std::string& line) { return line.substr(line.find(']') + 1); };
    EXPECT_EQ(tail(at80(0x7FFFFFFF, 0x7FFFFFFF)), " 100%  2.147.483.647/2.147.483.647 frame" + end);
    EXPECT_EQ(tail(at80(1073741823, 0x7FFFFFFF)), "  49%  1.073.741.823/2.147.483.647 frame" + end);
    EXPECT_EQ(tail(at80(-5, 10)), "   0%  0/10 frame" + end);
    EXPECT_EQ(tail(at80(20, 10)), " 100%  10/10 frame" + end);
    EXPECT_EQ(tail(at80(3, 0)), "   0%  0/0 frame" + end);
    EXPECT_EQ(at80(20, 10).find('.'), std::string::npos); // a full bar
    // The estimate goes by the pace so far, and says nothing before there is one.
    EXPECT_EQ(estimateLeft(250, 1000, 3000), 9000u);
    EXPECT_EQ(estimateLeft(1000, 1000, 3000), 0u);
    EXPECT_EQ(estimateLeft(0, 1000, 3000), UINT64_MAX);
    EXPECT_EQ(estimateLeft(1, 0x7FFFFFFF, 3600000), 7730941125600000u);
    EXPECT_EQ(clockText(7730941125600000u), "2147483646:00:00");
    // What stays after a completed job: seconds of input, seconds taken.
    EXPECT_EQ(finishedLine(1323000, 44100, 1300), "fatto: 30,0 s di audio in 1,3 s");
    EXPECT_EQ(finishedLine(160000000, 44100, 3725449), "fatto: 3.628,1 s di audio in 3.725,4 s");
    EXPECT_EQ(finishedLine(1, 8000, 0), "fatto: 0,0 s di audio in 0,0 s");
}
