// The fast engine against the literal one, bit for bit: random recordings and impulses in
// all four layouts, on every instruction-set path this CPU has, with FMA and with the double
// chain, on 1, 2 and 3 threads, with blocks and tiles small enough that short inputs cross
// many of them (and with the engine's own sizes).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/convolution/EngineVariants.h"
#include "tests/support/EngineHarness.h"

namespace {

// Impulse samples as a 16-bit file gives them (the FMA path applies), loud enough to
// saturate the output or quiet enough to keep every sum tiny.
std::vector<float> sixteenBitImpulse(std::mt19937& rng, size_t count, int amplitude) {
    std::vector<float> out;
    for (int16_t s : randomSamples(rng, count, amplitude)) {
        out.push_back(static_cast<float>(s) / 32768.0f);
    }
    return out;
}

// Impulse samples a direct caller could pass: off the 16-bit grid or beyond full scale, so
// the engine must take the double chain.
std::vector<float> arbitraryImpulse(std::mt19937& rng, size_t count) {
    std::uniform_real_distribution<float> value(-1.5f, 1.5f);
    std::vector<float> out(count);
    for (float& s : out) {
        s = value(rng);
    }
    return out;
}

// Runs an engine on an input file already written, so that a case pays for its input once
// however many engines it is run through. Returns the output's samples and the progress.
EngineRun runOnFile(const ScratchDir& dir, const std::string& inputPath, uint32_t impulseChannels,
                    const std::vector<float>& impulse, const EngineCall& engine) {
    WavReader* reader = WavReader::open(inputPath.c_str());
    EngineRun run{};
    run.outputChannels = outputChannelsFor(reader->channels, impulseChannels);
    const std::string outputPath = dir.file("out.wav");
    WavWriter* writer = WavWriter::create(outputPath.c_str(), 8000, run.outputChannels);
    std::vector<float> h = impulse;
    JobProgress progress{};
    run.result = engine(reader, h.data(), static_cast<uint32_t>(h.size() / impulseChannels),
                        impulseChannels, writer, progress, StopCheck{});
    WavWriter::finish(writer);
    WavReader::close(reader);
    run.samples = samplesAfterHeader(readFileBytes(outputPath));
    run.total = progress.total.load();
    run.done = progress.done.load();
    return run;
}

struct Case {
    Layout layout;
    std::vector<int16_t> input;
    std::vector<float> impulse;
    std::string describe;
};

Case randomCase(std::mt19937& rng, int index) {
    Case c;
    c.layout = kLayouts[index % 4];
    const int shape = std::uniform_int_distribution<int>(0, 19)(rng);
    // Mostly short, so the literal engine stays quick; now and then long enough to span
    // many blocks and tiles even at the engine's own sizes.
    size_t m = std::uniform_int_distribution<size_t>(0, 120)(rng);
    size_t n = std::uniform_int_distribution<size_t>(1, 90)(rng);
    if (shape == 0) {
        m = std::uniform_int_distribution<size_t>(0, 4)(rng);
    } else if (shape == 1) {
        n = std::uniform_int_distribution<size_t>(1, 3)(rng);
        m = std::uniform_int_distribution<size_t>(0, 5000)(rng);
    } else if (shape == 2) {
        n = std::uniform_int_distribution<size_t>(300, 2600)(rng);
        m = std::uniform_int_distribution<size_t>(0, 400)(rng);
    }
    const int amplitudes[] = {32768, 32768, 2000, 300, 3};
    const int amplitude = amplitudes[std::uniform_int_distribution<int>(0, 4)(rng)];
    c.input = randomSamples(rng, m * c.layout.inputChannels, amplitude);
    const int impulseKind = std::uniform_int_distribution<int>(0, 9)(rng);
    const size_t taps = n * c.layout.impulseChannels;
    if (impulseKind == 0) {
        c.impulse = arbitraryImpulse(rng, taps);
    } else {
        c.impulse = sixteenBitImpulse(rng, taps, impulseKind < 6 ? 32768 : 64);
    }
    c.describe = "case " + std::to_string(index) + ": " + std::to_string(c.layout.inputChannels) +
                 "x" + std::to_string(c.layout.impulseChannels) + " m=" + std::to_string(m) +
                 " n=" + std::to_string(n) + " amplitude=" + std::to_string(amplitude) +
                 " impulse kind " + std::to_string(impulseKind);
    return c;
}

TEST(FastEngine, MatchesTheLiteralEngineOnRandomCases) {
    // Each case runs through two of the variants in turn, so every variant meets hundreds
    // of cases and every thread count, and the whole stays quick.
    std::mt19937 rng(3141592);
    const std::vector<EngineVariant> variants = enginesOnThisCpu();
    ScratchDir dir;
    const std::string inputPath = dir.file("in.wav");
    for (int index = 0; index < 1000; ++index) {
        const Case c = randomCase(rng, index);
        writeFileBytes(inputPath, pcmWav(c.layout.inputChannels, 8000, c.input));
        const EngineRun expected =
            runOnFile(dir, inputPath, c.layout.impulseChannels, c.impulse, referenceEngine());
        for (int pick = 0; pick < 2; ++pick) {
            const EngineVariant& variant = variants[(2 * index + pick) % variants.size()];
            // Small odd sizes leave remainders everywhere; 0 lets the engine choose.
            const unsigned threads = 1 + static_cast<unsigned>((index + pick) % 3);
            const bool ownSizes = index % 5 == 4;
            const unsigned laneFrames = ownSizes ? 0 : 1 + rng() % 29;
            const unsigned tileTaps = ownSizes ? 0 : 1 + rng() % 40;
            const EngineRun run =
                runOnFile(dir, inputPath, c.layout.impulseChannels, c.impulse,
                          engineWith(optionsFor(variant, threads, laneFrames, tileTaps)));
            ASSERT_EQ(run.result, convolveCompleted) << c.describe << " " << variant.name;
            ASSERT_EQ(run.samples, expected.samples)
                << c.describe << " " << variant.name << " threads=" << threads
                << " laneFrames=" << laneFrames << " tileTaps=" << tileTaps;
            ASSERT_EQ(run.done, expected.done);
            ASSERT_EQ(run.total, expected.total);
        }
    }
}

TEST(FastEngine, GivesTheSameBytesOnOneTwoAndThreeThreads) {
    // Larger than the cases above, at the engine's own block sizes; long enough that the
    // slower paths (whose blocks are shorter) cross several blocks.
    std::mt19937 rng(2718);
    for (const Layout& layout : kLayouts) {
        const auto input = randomSamples(rng, 30000 * layout.inputChannels, 32768);
        const auto impulse = sixteenBitImpulse(rng, 500 * layout.impulseChannels, 32768);
        const EngineRun expected = runEngine(referenceEngine(), layout.inputChannels, input,
                                             layout.impulseChannels, impulse);
        for (const EngineVariant& variant : enginesOnThisCpu()) {
            for (unsigned threads = 1; threads <= 3; ++threads) {
                const EngineRun run =
                    runEngine(engineWith(optionsFor(variant, threads)), layout.inputChannels, input,
                              layout.impulseChannels, impulse);
                ASSERT_EQ(run.samples, expected.samples)
                    << variant.name << " threads=" << threads << " layout " << layout.inputChannels
                    << "x" << layout.impulseChannels;
            }
        }
    }
}

TEST(FastEngine, SaturatingSumsMatchInEveryLayout) {
    // Full-scale input against a full-scale impulse of one sign: sums far past +-1, where
    // only the writer saturates, and the largest partial sums the FMA argument allows for.
    std::mt19937 rng(99);
    for (const Layout& layout : kLayouts) {
        std::vector<int16_t> input(3000 * layout.inputChannels);
        for (size_t i = 0; i < input.size(); ++i) {
            input[i] = i % 7 == 3 ? -32768 : 32767;
        }
        std::vector<float> impulse(400 * layout.impulseChannels, 1.0f);
        impulse[5] = -1.0f;
        const EngineRun expected = runEngine(referenceEngine(), layout.inputChannels, input,
                                             layout.impulseChannels, impulse);
        for (const EngineVariant& variant : enginesOnThisCpu()) {
            const EngineRun run =
                runEngine(engineWith(optionsFor(variant, 2, 7, 13)), layout.inputChannels, input,
                          layout.impulseChannels, impulse);
            ASSERT_EQ(run.samples, expected.samples) << variant.name;
        }
    }
}

TEST(FastEngine, NonFiniteImpulseSamplesStillMatch) {
    // inf x 0 is NaN: with such an impulse the silence around the input is not skippable,
    // and the writer turns NaN into 0 and infinities into full scale.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::vector<float>> impulses = {
        {0.5f, inf, 0.25f}, {-inf, 0.0f, 0.0f, 0.0f}, {0.1f, nan}, {1e30f, 1e30f, -1e30f}};
    const std::vector<int16_t> input = {1000, -3, 0, 32767, -32768, 5, 0, 0, 9};
    for (const auto& impulse : impulses) {
        const EngineRun expected = runEngine(referenceEngine(), 1, input, 1, impulse);
        for (const EngineVariant& variant : enginesOnThisCpu()) {
            const EngineRun run =
                runEngine(engineWith(optionsFor(variant, 2, 1, 2)), 1, input, 1, impulse);
            ASSERT_EQ(run.samples, expected.samples) << variant.name;
        }
    }
}

TEST(FastEngine, EveryBuildHasTheVectorKernelsOfItsProcessorFamily) {
    // Otherwise the cases above would quietly compare only the portable path.
#if defined(__aarch64__)
    EXPECT_TRUE(enginePathAvailable(enginePathNeon));
#else
    EXPECT_FALSE(enginePathAvailable(enginePathNeon));
#endif
    EXPECT_FALSE(enginesOnThisCpu().empty());
}

TEST(FastEngine, DefaultOptionsMatchTheLiteralEngine) {
    // What the job runs: the path this CPU picks, one thread per core.
    std::mt19937 rng(7);
    const auto input = randomSamples(rng, 2 * 5000, 32768);
    const auto impulse = sixteenBitImpulse(rng, 2 * 300, 32768);
    const EngineRun expected = runEngine(referenceEngine(), 2, input, 2, impulse);
    const EngineRun run = runEngine(engineWith(EngineOptions{}), 2, input, 2, impulse);
    EXPECT_EQ(run.samples, expected.samples);
    EXPECT_EQ(run.total, expected.total);
    EXPECT_EQ(run.done, expected.done);
    EXPECT_EQ(run.active, 1);
}

} // namespace
