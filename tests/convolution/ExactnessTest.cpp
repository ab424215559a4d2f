// Why the engine may fuse: on 16-bit samples one single-precision FMA gives exactly the
// defined double-then-float step, as long as the partial sums stay small enough; off that
// grid it does not, and the engine must notice.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "convolution/SingleFmaExactness.h"
#include "convolution/TermArithmetic.h"
#include "tests/convolution/EngineVariants.h"
#include "tests/support/EngineHarness.h"

namespace {

// One correctly rounded single-precision a * b + c, as the FMA instruction computes it,
// built from double arithmetic alone: some C runtimes (MinGW's among them) implement fmaf
// with two roundings, which would make these tests judge the runtime, not the argument.
// The product is exact in double; TwoSum gives the sum's rounding error exactly; rounding
// the double to odd when that error is not zero lets the final conversion to float round
// once, as if from the exact value (a double carries more than 24 + 2 bits).
float fusedMultiplyAdd(float a, float b, float c) {
    const double product = static_cast<double>(a) * static_cast<double>(b);
    double sum = product + static_cast<double>(c);
    const double bPart = sum - product;
    const double error = (product - (sum - bPart)) + (static_cast<double>(c) - bPart);
    uint64_t bits = 0;
    std::memcpy(&bits, &sum, sizeof bits);
    if (error != 0.0 && (bits & 1u) == 0) {
        // Toward the exact value: away from zero when the error has the sum's sign.
        bits = (error > 0.0) == (sum > 0.0) ? bits + 1 : bits - 1;
        std::memcpy(&sum, &bits, sizeof sum);
    }
    return static_cast<float>(sum);
}

TEST(SingleFmaExactness, TheTestsFusedStepRoundsOnce) {
    // a * b + c = 1 + 2^-23 + 2^-24 - 2^-70, just below the midpoint between 1 + 2^-23 and
    // 1 + 2^-22. Rounded once it goes down; rounded to double first it becomes the midpoint,
    // which then goes to the even neighbour. (Off the 16-bit grid, so the engine never fuses
    // such a term.)
    const float a = std::ldexp(1.0f + std::ldexp(1.0f, -23), -24);
    const float b = 1.0f - std::ldexp(1.0f, -23);
    const float c = 1.0f + std::ldexp(1.0f, -23);
    EXPECT_EQ(fusedMultiplyAdd(a, b, c), c);
    EXPECT_EQ(addTerm(c, a, b), 1.0f + std::ldexp(1.0f, -22));
    EXPECT_EQ(fusedMultiplyAdd(-1.0f, 1.0f, 1.0f), 0.0f);
}

TEST(SingleFmaExactness, RecognisesSixteenBitSteps) {
    EXPECT_TRUE(isSixteenBitStep(0.0f));
    EXPECT_TRUE(isSixteenBitStep(-0.0f));
    EXPECT_TRUE(isSixteenBitStep(1.0f)); // +32768 steps: no file holds it, but it is safe
    EXPECT_TRUE(isSixteenBitStep(-1.0f));
    EXPECT_TRUE(isSixteenBitStep(std::ldexp(1.0f, -15)));
    EXPECT_TRUE(isSixteenBitStep(32767.0f / 32768.0f));
    EXPECT_FALSE(isSixteenBitStep(std::ldexp(1.0f, -16)));
    EXPECT_FALSE(isSixteenBitStep(1.0f + std::ldexp(1.0f, -15)));
    EXPECT_FALSE(isSixteenBitStep(-1.0f - std::ldexp(1.0f, -15)));
    EXPECT_FALSE(isSixteenBitStep(0.1f));
    EXPECT_FALSE(isSixteenBitStep(std::numeric_limits<float>::denorm_min()));
    EXPECT_FALSE(isSixteenBitStep(std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(isSixteenBitStep(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(isSixteenBitStep(1e30f));
}

TEST(SingleFmaExactness, HoldsUpToTheLongestImpulseOnly) {
    const float taps[] = {0.5f, -0.25f};
    EXPECT_TRUE(singleFmaIsExact(taps, 2, kLongestSingleFmaImpulse));
    EXPECT_FALSE(singleFmaIsExact(taps, 2, kLongestSingleFmaImpulse + 1));
    const float offGrid[] = {0.5f, 0.3f};
    EXPECT_FALSE(singleFmaIsExact(offGrid, 2, 2));
}

// Running sums the argument allows: multiples of 2^-30 that are floats, from 0 up to the
// largest an impulse of 2^22 taps can reach, with emphasis on where float spacing is coarse.
std::vector<float> sampleSums(std::mt19937& rng) {
    std::vector<float> sums = {0.0f,
                               std::ldexp(1.0f, -30),
                               -std::ldexp(3.0f, -30),
                               0.5f,
                               std::ldexp(1.0f, -6) + std::ldexp(1.0f, -29),
                               4194303.5f,
                               -4194304.0f,
                               4194303.0f,
                               1048575.75f,
                               8191.999f};
    for (int i = 0; i < 40; ++i) {
        const int exponent = std::uniform_int_distribution<int>(-30, 22)(rng);
        const float magnitude =
            std::ldexp(std::uniform_real_distribution<float>(0.5f, 1.0f)(rng), exponent);
        // Round onto the 2^-30 grid, which a float of this size always can hold.
        const float onGrid = static_cast<float>(
            std::ldexp(std::nearbyint(std::ldexp(static_cast<double>(magnitude), 30)), -30));
        sums.push_back(i % 2 == 0 ? onGrid : -onGrid);
    }
    return sums;
}

TEST(SingleFmaExactness, OneFusedStepEqualsTheDefinedStepForEveryInputSample) {
    std::mt19937 rng(12345);
    std::vector<float> impulse = {
        1.0f, -1.0f, std::ldexp(1.0f, -15), -32767.0f / 32768.0f, 0.5f, 12345.0f / 32768.0f};
    for (int i = 0; i < 10; ++i) {
        impulse.push_back(
            static_cast<float>(std::uniform_int_distribution<int>(-32768, 32767)(rng)) / 32768.0f);
    }
    const std::vector<float> sums = sampleSums(rng);
    int differing = 0;
    for (float h : impulse) {
        for (float sum : sums) {
            for (int sample = -32768; sample <= 32767; ++sample) {
                const float x = static_cast<float>(sample) / 32768.0f;
                const float fused = fusedMultiplyAdd(h, x, sum);
                const float defined = addTerm(sum, h, x);
                differing += std::memcmp(&fused, &defined, sizeof(float)) != 0;
            }
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(SingleFmaExactness, LongChainsOfFullScaleTermsStayEqual) {
    // Sums that climb to 2^17 and beyond, where a float's last place is 2^-6 and every
    // step rounds, and sums that wander around zero through the fine binades.
    std::mt19937 rng(777);
    std::uniform_int_distribution<int> step(-32768, 32767);
    for (int chain = 0; chain < 6; ++chain) {
        const bool climbing = chain % 2 == 0;
        float fused = 0.0f;
        float defined = 0.0f;
        for (int i = 0; i < 400000; ++i) {
            const int hs = climbing ? 32767 - step(rng) % 64 : step(rng);
            const int xs = climbing ? std::abs(step(rng) / 2) : step(rng);
            const float h = static_cast<float>(hs) / 32768.0f;
            const float x = static_cast<float>(xs) / 32768.0f;
            fused = fusedMultiplyAdd(h, x, fused);
            defined = addTerm(defined, h, x);
            ASSERT_EQ(fused, defined) << "chain " << chain << " term " << i;
        }
        if (climbing) {
            EXPECT_GT(defined, 65536.0f); // the chain really reached the coarse binades
        }
    }
}

// 0.5 - 2^-25 plus (2^-26 - 2^-56): the double sum rounds to the midpoint between two
// floats, which then goes to the even one, 0.5; one fused rounding gives 0.5 - 2^-25.
// Both factors of the second term are off the 2^-15 grid for the impulse only.
const float kOddBelowHalf = 0.5f - std::ldexp(1.0f, -25);
const float kSmallTap = std::ldexp(149943.0f, -41);   // times 7161 / 32768 = 2^-26 - 2^-56
const float kFirstTap = 1.0f - std::ldexp(1.0f, -24); // times 0.5 = 0.5 - 2^-25

TEST(SingleFmaExactness, OffTheGridOneFusedStepCanDiffer) {
    const float x = 7161.0f / 32768.0f;
    ASSERT_EQ(firstTerm(kFirstTap, 0.5f), kOddBelowHalf);
    EXPECT_EQ(addTerm(kOddBelowHalf, kSmallTap, x), 0.5f);
    EXPECT_EQ(fusedMultiplyAdd(kSmallTap, x, kOddBelowHalf), kOddBelowHalf);
}

TEST(SingleFmaExactness, EngineTakesTheDoubleChainForAnOffGridImpulse) {
    // Output frame 2 is h[1] * x[0] + h[0] * x[1]: exactly 0.5 by the definition (16384),
    // one step lower (16383) had the engine fused.
    const std::vector<int16_t> input = {16384, 7161};
    const std::vector<float> impulse = {kSmallTap, kFirstTap};
    const EngineRun expected = runEngine(referenceEngine(), 1, input, 1, impulse);
    ASSERT_EQ(expected.samples.at(2), 16384);
    for (const EngineVariant& variant : enginesOnThisCpu()) {
        for (unsigned threads = 1; threads <= 2; ++threads) {
            const EngineRun run =
                runEngine(engineWith(optionsFor(variant, threads)), 1, input, 1, impulse);
            EXPECT_EQ(run.samples, expected.samples) << variant.name;
        }
    }
}

} // namespace
