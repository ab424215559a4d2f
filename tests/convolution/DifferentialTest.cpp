// The fast engine against the literal one, bit for bit: random recordings and impulses in
// all four layouts, on every instruction-set path this CPU has, with FMA and with the double
// chain, on 1, 2 and 3 threads, with blocks and tiles small enough that short inputs cross
// many of them (and with the engine's own sizes).
#include <gtest/gtest.h>

#include <algorithm>
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
    const auto frames = static_cast<uint32_t>(h.size() / impulseChannels);
    run.result = engine(Impulse{h.data(), frames, frames, impulseChannels},
                        EngineIo{reader, writer, &progress, StopCheck{}});
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
    // Now and then digital silence: runs of zeros in the input, zeros at the impulse's ends.
    const bool zeros = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
    if (zeros && m > 0) {
        for (int run = 0; run < 3; ++run) {
            const size_t at = std::uniform_int_distribution<size_t>(0, m - 1)(rng);
            const size_t length = std::uniform_int_distribution<size_t>(1, m - at)(rng);
            std::fill(c.input.begin() + static_cast<long>(at * c.layout.inputChannels),
                      c.input.begin() + static_cast<long>((at + length) * c.layout.inputChannels),
                      int16_t{0});
        }
    }
    if (zeros) {
        const size_t edge = std::uniform_int_distribution<size_t>(0, n)(rng);
        const bool atStart = rng() % 2 == 0;
        for (size_t f = 0; f < edge; ++f) {
            const size_t frame = atStart ? f : n - 1 - f;
            c.impulse[frame * c.layout.impulseChannels] = 0.0f;
        }
    }
    c.describe = "case " + std::to_string(index) + ": " + std::to_string(c.layout.inputChannels) +
                 "x" + std::to_string(c.layout.impulseChannels) + " m=" + std::to_string(m) +
                 " n=" + std::to_string(n) + " amplitude=" + std::to_string(amplitude) +
                 " impulse kind " + std::to_string(impulseKind) + (zeros ? " with zeros" : "");
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

// Noise of both signs with exact-zero runs of `runFrames` frames (all channels), run k
// starting at k x d, d odd and longer than any block or tile window used below, so that the
// runs' starts and ends fall on every offset within a block, a piece and a tile.
std::vector<int16_t> noiseWithZeroRuns(std::mt19937& rng, uint16_t channels, size_t runFrames,
                                       size_t runs) {
    const size_t d = runFrames + (runFrames % 2 == 0 ? 131 : 132);
    std::vector<int16_t> out = randomSamples(rng, (runs * d + 40) * channels, 32768);
    for (size_t k = 0; k < runs; ++k) {
        std::fill(out.begin() + static_cast<long>(k * d * channels),
                  out.begin() + static_cast<long>((k * d + runFrames) * channels), int16_t{0});
    }
    return out;
}

// A 16-bit impulse of both signs whose channels start and end with different numbers of
// zeros, some of them -0 (which a direct caller may pass).
std::vector<float> impulseWithZeroEdges(std::mt19937& rng, uint32_t channels, size_t frames) {
    std::vector<float> out = sixteenBitImpulse(rng, frames * channels, 32768);
    const size_t leading[2] = {2, 5};
    const size_t trailing[2] = {3, 1};
    for (uint32_t c = 0; c < channels; ++c) {
        for (size_t f = 0; f < frames; ++f) {
            if (f < leading[c] || f + trailing[c] >= frames) {
                out[f * channels + c] = f % 2 == 0 ? 0.0f : -0.0f;
            }
        }
    }
    return out;
}

TEST(FastEngine, ZeroRunsAtEveryBlockPieceAndTileEdgeMatch) {
    // Lanes of 4, 8 or 16 frames, S = 2, K = 3, one or two threads: blocks of 8 to 128
    // frames, so the runs' edges (period d, odd) meet every offset in them.
    std::mt19937 rng(1618);
    for (const Layout& layout : kLayouts) {
        for (size_t runFrames : {1, 8, 17, 129}) {
            const auto input = noiseWithZeroRuns(rng, layout.inputChannels, runFrames, 128);
            const auto impulse = impulseWithZeroEdges(rng, layout.impulseChannels, 14);
            const EngineRun expected = runEngine(referenceEngine(), layout.inputChannels, input,
                                                 layout.impulseChannels, impulse);
            for (const EngineVariant& variant : enginesOnThisCpu()) {
                for (unsigned threads = 1; threads <= 2; ++threads) {
                    const EngineRun run =
                        runEngine(engineWith(optionsFor(variant, threads, 2, 3)),
                                  layout.inputChannels, input, layout.impulseChannels, impulse);
                    ASSERT_EQ(run.samples, expected.samples)
                        << variant.name << " threads=" << threads << " run=" << runFrames
                        << " layout " << layout.inputChannels << "x" << layout.impulseChannels;
                    ASSERT_EQ(run.done, expected.done);
                }
            }
        }
    }
}

TEST(FastEngine, SilentInputsAndImpulsesMatch) {
    // Inputs and impulses that are wholly or mostly zeros, in every layout: the output is
    // M + N frames whatever is left out, and a sum of zero terms (of either sign) is 0.
    std::mt19937 rng(577);
    const float inf = std::numeric_limits<float>::infinity();
    struct Row {
        const char* name;
        size_t inputFrames;
        bool silentInput;           // every input sample 0
        std::vector<float> pattern; // impulse frames (repeated per channel); empty = random
        size_t silentTail;          // zeros appended to the impulse's frames
    };
    const std::vector<Row> rows = {
        {"all-zero impulse", 700, false, {0.0f, -0.0f, 0.0f, 0.0f}, 0},
        {"all-zero input", 700, true, {}, 0},
        {"both all zero", 300, true, {0.0f, 0.0f}, 0},
        {"one tap among zeros", 700, false, {0.0f, -0.0f, 0.25f, 0.0f, -0.0f}, 40},
        {"negative tap at the end", 500, false, {0.0f, 0.0f, 0.0f, -0.5f}, 0},
        {"infinite tap among zeros", 200, false, {0.0f, inf, 0.0f, 0.5f}, 7},
        {"long silent tail", 900, false, {}, 2000},
        {"no input", 0, false, {}, 30},
    };
    for (const Row& row : rows) {
        for (const Layout& layout : kLayouts) {
            std::vector<int16_t> input =
                randomSamples(rng, row.inputFrames * layout.inputChannels, 32768);
            if (row.silentInput) {
                std::fill(input.begin(), input.end(), int16_t{0});
            }
            std::vector<float> frames = row.pattern;
            if (frames.empty()) {
                frames = sixteenBitImpulse(rng, 25, 32768);
            }
            frames.resize(frames.size() + row.silentTail, 0.0f);
            std::vector<float> impulse;
            for (float tap : frames) {
                for (uint32_t c = 0; c < layout.impulseChannels; ++c) {
                    impulse.push_back(c == 0 ? tap : -tap); // -tap: zeros of the other sign
                }
            }
            const EngineRun expected = runEngine(referenceEngine(), layout.inputChannels, input,
                                                 layout.impulseChannels, impulse);
            for (const EngineVariant& variant : enginesOnThisCpu()) {
                for (unsigned laneFrames : {0u, 3u}) {
                    const EngineRun run =
                        runEngine(engineWith(optionsFor(variant, 2, laneFrames, laneFrames)),
                                  layout.inputChannels, input, layout.impulseChannels, impulse);
                    ASSERT_EQ(run.result, convolveCompleted) << row.name;
                    ASSERT_EQ(run.samples, expected.samples)
                        << row.name << " " << variant.name << " layout " << layout.inputChannels
                        << "x" << layout.impulseChannels;
                    ASSERT_EQ(run.total, expected.total) << row.name;
                    ASSERT_EQ(run.done, expected.done) << row.name;
                }
            }
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
