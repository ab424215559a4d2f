// The two conversion rules at the audio boundary, with their literal edge values and,
// where it is cheap, every 16-bit value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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

// The bulk conversion of a writer's block against the rules one sample at a time: every edge
// value above at every position of a vector and of the stretch after the last whole one, and
// a sweep across the whole range, give the same bytes, the same count and the same peak.
TEST(SampleConversion, BlocksConvertAsSamplesDo) {
    const float edges[] = {32767.0f / 32768.0f,
                           0.99999f,
                           1.0f,
                           2.5f,
                           -1.0f,
                           -32768.5f / 32768.0f,
                           -32769.0f / 32768.0f,
                           -7.0f,
                           0.0f,
                           -0.0f,
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::nanf(""),
                           -std::nanf(""),
                           std::numeric_limits<float>::max(),
                           1.0e-30f};
    std::vector<float> values;
    for (int shift = 0; shift < 9; ++shift) {
        values.insert(values.end(), shift, 0.25f);
        values.insert(values.end(), std::begin(edges), std::end(edges));
    }
    for (int k = -70000; k <= 70000; k += 7) {
        values.push_back(static_cast<float>(k) / 32768.0f + 1.0f / 65536.0f);
    }
    for (size_t count : {values.size(), size_t{7}, size_t{8}, size_t{9}, size_t{0}}) {
        SCOPED_TRACE(count);
        std::vector<uint8_t> bytes(2 * count + 1, 0xAB);
        float peak = 0.5f;
        const size_t saturated = encodeSamples(values.data(), bytes.data(), count, peak);
        size_t expectedSaturated = 0;
        float expectedPeak = 0.5f;
        for (size_t i = 0; i < count; ++i) {
            const auto sample = static_cast<uint16_t>(floatToSample(values[i]));
            ASSERT_EQ(bytes[2 * i], sample & 0xFF) << i;
            ASSERT_EQ(bytes[2 * i + 1], sample >> 8) << i;
            if (saturates(values[i])) {
                ++expectedSaturated;
                expectedPeak = std::max(expectedPeak, std::fabs(values[i]));
            }
        }
        EXPECT_EQ(bytes[2 * count], 0xAB); // nothing written past the block
        EXPECT_EQ(saturated, expectedSaturated);
        EXPECT_EQ(peak, expectedPeak);
    }
}
