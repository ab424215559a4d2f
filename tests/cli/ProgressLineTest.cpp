#include <gtest/gtest.h>

#include "cli/ProgressLine.h"

TEST(ProgressLine, ShowsBarPercentageAndFrames) {
    EXPECT_EQ(formatProgressLine(0, 1000, 10), "[..........]   0%  0/1000 frame");
    EXPECT_EQ(formatProgressLine(250, 1000, 10), "[##........]  25%  250/1000 frame");
    EXPECT_EQ(formatProgressLine(999, 1000, 10), "[#########.]  99%  999/1000 frame");
    EXPECT_EQ(formatProgressLine(1000, 1000, 10), "[##########] 100%  1000/1000 frame");
}

TEST(ProgressLine, LargeCountsDoNotOverflowAndOddValuesAreClamped) {
    EXPECT_EQ(formatProgressLine(0x7FFFFFFF, 0x7FFFFFFF, 4),
              "[####] 100%  2147483647/2147483647 frame");
    EXPECT_EQ(formatProgressLine(1073741823, 0x7FFFFFFF, 4),
              "[#...]  49%  1073741823/2147483647 frame");
    EXPECT_EQ(formatProgressLine(-5, 10, 4), "[....]   0%  0/10 frame");
    EXPECT_EQ(formatProgressLine(20, 10, 4), "[####] 100%  10/10 frame");
    EXPECT_EQ(formatProgressLine(3, 0, 4), "[....]   0%  0/0 frame");
}
