// Running an engine on samples held in memory, and the convolution written straight from
// its definition (no delay line), to compare engines with.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "convolution/Convolve.h"
#include "tests/support/TestFiles.h"

using EngineCall = std::function<ConvolveResult(const Impulse&, const EngineIo&)>;

struct EngineRun {
    ConvolveResult result;        // what the engine reported
    uint32_t outputChannels;      // channels of the file it wrote
    std::vector<int16_t> samples; // the file's samples, interleaved
    int32_t total;                // progress.total when it returned
    int32_t done;                 // progress.done when it returned
    int32_t active;               // progress.active when it returned (the job clears it)
};

// Writes the input as a 16-bit WAV file, runs the engine on it with the impulse, and reads
// back what it wrote. The impulse is copied, so the caller's stays as it is.
EngineRun runEngine(const EngineCall& engine, uint16_t inputChannels,
                    const std::vector<int16_t>& input, uint32_t impulseChannels,
                    const std::vector<float>& impulse, StopCheck stop = StopCheck{});

// The four channel layouts: input channels x impulse channels.
struct Layout {
    uint16_t inputChannels;
    uint32_t impulseChannels;
};
extern const Layout kLayouts[4];

// Random 16-bit samples in -amplitude ... amplitude - 1.
std::vector<int16_t> randomSamples(std::mt19937& rng, size_t count, int amplitude);

EngineCall referenceEngine();
EngineCall engineWith(EngineOptions options);

// Output frame m = sum over k = N-1 down to 0 of h[k] * x[m-1-k], rounded after every term,
// converted to 16 bits as the writer does.
std::vector<int16_t> definitionOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                      uint32_t impulseChannels, const std::vector<float>& impulse);
// The same for an impulse given as the 16-bit samples of its file: what a complete job (or
// the command line) writes after the header for two files built from these samples.
std::vector<int16_t> expectedOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                    uint32_t impulseChannels, const std::vector<int16_t>& impulse);
