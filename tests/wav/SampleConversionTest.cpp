// The two conversion rules at the audio boundary, with their literal edge values and,
// where it is cheap, every 16-bit value.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "wav/SampleConversion.h"

TEST(SampleConversion, SixteenBitToFloatIsExactScaling) {
    EXPECT_EQ(sampleToFloat(-32768), -1.0f);
    EXPECT_EQ(sampleToFloat(32767), 32767.0f / 32768.0f);
    EXPECT_EQ(sampleToFloat(0), 0.0f);
    EXPECT_EQ(kSampleToFloat, 1.0f / 32768.0f);
}

TEST(SampleConversion, EverySampleSurvivesTheRoundTrip) {
    for (int s = -32768; s <= 32767; ++s) {
        ASSERT_EQ(floatToSample(sampleToFloat(static_cast<int16_t>(s))), s);
    }
}

TEST(SampleConversion, FloatToSixteenBitTruncatesTowardZeroAndSaturates) {
    EXPECT_EQ(floatToSample(1.0f), 32767);
    EXPECT_EQ(floatToSample(-1.0f), -32768);
    EXPECT_EQ(floatToSample(0.99999f), 32767);               // 32767.67 truncated
    EXPECT_EQ(floatToSample(-0.00002f), 0);                  // toward zero, not down
    EXPECT_EQ(floatToSample(0.5f + 1.5f / 32768.0f), 16385); // 16385.5 truncated
    EXPECT_EQ(floatToSample(-0.5f - 1.5f / 32768.0f), -16385);
    EXPECT_EQ(floatToSample(2.5f), 32767);
    EXPECT_EQ(floatToSample(-7.0f), -32768);
    EXPECT_EQ(floatToSample(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(floatToSample(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(floatToSample(std::numeric_limits<float>::max()), 32767);
}

TEST(SampleConversion, NanBecomesSilence) {
    EXPECT_EQ(floatToSample(std::nanf("")), 0);
    EXPECT_EQ(floatToSample(-std::nanf("")), 0);
}

// Saturated means clamped: the value truncated toward zero would leave the 16-bit range. The
// edges on both sides, each checked against what floatToSample does with it.
TEST(SampleConversion, SaturatesExactlyWhereTheConversionClamps) {
    const struct {
        float value;
        bool saturated;
    } rows[] = {
        {32767.0f / 32768.0f, false},
        {0.99999f, false}, // 32767.67: truncation alone keeps it in range
        {1.0f, true},      // 32768 would not fit
        {2.5f, true},
        {-1.0f, false},                // -32768 fits
        {-32768.5f / 32768.0f, false}, // truncated toward zero: -32768
        {-32769.0f / 32768.0f, true},
        {-7.0f, true},
        {0.0f, false},
        {std::numeric_limits<float>::infinity(), true},
        {-std::numeric_limits<float>::infinity(), true},
        {std::nanf(""), false}, // silence, not a clamp
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(saturates(row.value), row.saturated);
        if (!std::isnan(row.value)) {
            const double truncated = std::trunc(static_cast<double>(row.value) * 32768.0);
            EXPECT_EQ(saturates(row.value), truncated != floatToSample(row.value));
        }
    }
}
