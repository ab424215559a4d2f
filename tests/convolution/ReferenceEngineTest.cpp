// The literal engine against the convolution written from its definition, and the rules
// on length, silence, channel routing, rounding order and progress that every engine keeps.
#include <gtest/gtest.h>

#include <random>

#include "convolution/Convolve.h"
#include "convolution/EngineSupport.h"
#include "tests/support/EngineHarness.h"

namespace {

std::vector<float> asFloats(const std::vector<int16_t>& samples) {
    std::vector<float> out;
    for (int16_t s : samples) {
        out.push_back(static_cast<float>(s) / 32768.0f);
    }
    return out;
}

TEST(ReferenceEngine, MatchesTheDefinitionInEveryLayout) {
    std::mt19937 rng(20261207);
    for (const Layout& layout : kLayouts) {
        for (int round = 0; round < 60; ++round) {
            const size_t m = std::uniform_int_distribution<size_t>(0, 50)(rng);
            const size_t n = std::uniform_int_distribution<size_t>(1, 30)(rng);
            // Loud inputs with loud impulses saturate; quiet ones exercise small sums.
            const int amplitude = round % 3 == 0 ? 32768 : (round % 3 == 1 ? 300 : 3);
            const auto input = randomSamples(rng, m * layout.inputChannels, amplitude);
            const auto impulse = asFloats(randomSamples(rng, n * layout.impulseChannels, 32768));
            const EngineRun run = runEngine(referenceEngine(), layout.inputChannels, input,
                                            layout.impulseChannels, impulse);
            ASSERT_EQ(run.result, convolveCompleted);
            ASSERT_EQ(run.samples, definitionOutput(layout.inputChannels, input,
                                                    layout.impulseChannels, impulse))
                << "layout " << layout.inputChannels << "x" << layout.impulseChannels << " m=" << m
                << " n=" << n;
        }
    }
}

TEST(ReferenceEngine, OneFrameImpulseScalesTheInputAfterOneSilentFrame) {
    const std::vector<int16_t> input = {1000, -2000, 32767, -32768};
    const EngineRun run = runEngine(referenceEngine(), 1, input, 1, {0.5f});
    EXPECT_EQ(run.outputChannels, 1u);
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 500, -1000, 16383, -16384}));
}

TEST(ReferenceEngine, DelayedUnitImpulseShiftsTheInput) {
    const std::vector<int16_t> input = {100, 200, 300};
    // Zero except 0.5 at frame 2 of 5: three silent frames, the halved input, two more.
    const EngineRun run = runEngine(referenceEngine(), 1, input, 1, {0, 0, 0.5f, 0, 0});
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 0, 0, 50, 100, 150, 0, 0}));
}

TEST(ReferenceEngine, EmptyInputGivesSilenceAsLongAsTheImpulse) {
    const EngineRun run = runEngine(referenceEngine(), 2, {}, 1, {0.25f, 0.5f, 1.0f});
    EXPECT_EQ(run.result, convolveCompleted);
    EXPECT_EQ(run.samples, std::vector<int16_t>(6, 0));
    EXPECT_EQ(run.total, 3);
    EXPECT_EQ(run.done, 3);
}

TEST(ReferenceEngine, ChannelsAreRoutedByLayout) {
    // Stereo input, mono impulse: each channel filtered alone, never mixed.
    EngineRun run = runEngine(referenceEngine(), 2, {1000, 0, 0, 2000}, 1, {0.5f});
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 0, 500, 0, 0, 1000}));
    // Mono input, stereo impulse: left uses the impulse's left, right its right.
    run = runEngine(referenceEngine(), 1, {1000}, 2, {0.5f, -0.25f});
    EXPECT_EQ(run.outputChannels, 2u);
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 0, 500, -250}));
    // Stereo with stereo: channel by channel.
    run = runEngine(referenceEngine(), 2, {1000, 1000}, 2, {0.5f, -0.25f});
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 0, 500, -250}));
}

TEST(ReferenceEngine, SumsRunFromTheOldestTermAndRoundAfterEachOne) {
    // Three input frames of 0.5; output frame 3 adds h[2]*x[0], then h[1]*x[1], then
    // h[0]*x[2]. 0.5 - 2^-26 lies halfway between two floats and rounds back to 0.5, twice:
    // 16384. Adding the small terms first, or keeping a wider sum, gives 0.5 - 2^-25, which
    // truncates to 16383.
    const float tiny = -2.98023223876953125e-08f; // -2^-25
    const EngineRun run =
        runEngine(referenceEngine(), 1, {16384, 16384, 16384}, 1, {tiny, tiny, 1.0f});
    ASSERT_EQ(run.samples.size(), 6u);
    EXPECT_EQ(run.samples[3], 16384);
}

TEST(ReferenceEngine, SumsAreNotClippedBeforeTheWriterSaturates) {
    // 0.75 + 0.75 = 1.5 passes full scale: only the writer's conversion saturates it.
    const EngineRun run = runEngine(referenceEngine(), 1, {24576, 24576}, 1, {1.0f, 1.0f});
    EXPECT_EQ(run.samples, (std::vector<int16_t>{0, 24576, 32767, 24576}));
}

TEST(ReferenceEngine, ReportsProgressAndLeavesActiveRaised) {
    const EngineRun run = runEngine(referenceEngine(), 1, std::vector<int16_t>(10, 7), 2,
                                    std::vector<float>(8, 0.1f));
    EXPECT_EQ(run.total, 14);
    EXPECT_EQ(run.done, 14);
    EXPECT_EQ(run.active, 1); // the job, not the engine, lowers it
}

TEST(ReferenceEngine, StopsBetweenBlocksAndKeepsWhatItWrote) {
    // A long impulse makes each block of frames short, so the stop lands mid-run.
    int calls = 0;
    auto stopAtOnce = [](void* context) {
        ++*static_cast<int*>(context);
        return 1;
    };
    const EngineRun run = runEngine(referenceEngine(), 1, std::vector<int16_t>(4000, 100), 1,
                                    std::vector<float>(70000, 0.0f), StopCheck{stopAtOnce, &calls});
    EXPECT_EQ(run.result, convolveStopped);
    EXPECT_EQ(calls, 1);
    EXPECT_GT(run.done, 0);
    EXPECT_LT(run.done, run.total);
    EXPECT_EQ(run.samples.size(), static_cast<size_t>(run.done));
}

TEST(ReverseImpulse, SwapsFramesKeepingChannelOrder) {
    std::vector<float> mono = {1, 2, 3, 4, 5};
    reverseImpulse(mono.data(), 5, 1);
    EXPECT_EQ(mono, (std::vector<float>{5, 4, 3, 2, 1}));
    std::vector<float> stereo = {1, 10, 2, 20, 3, 30, 4, 40};
    reverseImpulse(stereo.data(), 4, 2);
    EXPECT_EQ(stereo, (std::vector<float>{4, 40, 3, 30, 2, 20, 1, 10}));
    std::vector<float> single = {7};
    reverseImpulse(single.data(), 1, 1);
    EXPECT_EQ(single, (std::vector<float>{7}));
}

} // namespace

namespace {

TEST(StopChecks, ComeOftenEvenWhenFramesCostMoreThanTheirSums) {
    // With a one-frame impulse nearly all the work is reading and writing frames; counting
    // only multiply-adds would leave millions of frames between two looks at the stop.
    EXPECT_LE(framesBetweenChecks(1, 1), 65536u);
    EXPECT_LE(framesBetweenChecks(1, 2), 65536u);
    // One frame of a very long impulse is already a lot of work: look after every frame.
    EXPECT_EQ(framesBetweenChecks(1u << 22, 2), 1u);
    EXPECT_GE(framesBetweenChecks(44100, 2), 1u);
}

} // namespace
