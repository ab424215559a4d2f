// The engine's entry: reverses the impulse, picks the instruction set and the arithmetic,
// and hands the work to the fast engine (or, when asked, to the literal one).
#include "convolution/Convolve.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "convolution/CpuFeatures.h"
#include "convolution/EnginePaths.h"
#include "convolution/FastEngine.h"
#include "convolution/ReferenceEngine.h"
#include "convolution/SingleFmaExactness.h"
#include "convolution/SumKernels.h"
#include "convolution/ZeroTermExactness.h"

namespace {

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = detectCpuFeatures();
    return features;
}

// The kernels of a path this CPU has and the build holds.
const SumKernels* kernelsIfAvailable(const EnginePathRow& row) {
    return row.cpuHas(cpuFeatures()) ? row.kernels() : nullptr;
}

// The forced path's kernels when this CPU has them, else those of the nearest row before it
// that it has (the portable row always is); for enginePathAuto, the last row it has.
const SumKernels* chooseKernels(EnginePath path) {
    size_t row = path >= enginePathPortable && path < enginePathCount
                     ? static_cast<size_t>(path - enginePathPortable)
                     : kEnginePathCount - 1;
    for (;; --row) {
        if (const SumKernels* kernels = kernelsIfAvailable(kEnginePaths[row])) {
            return kernels;
        }
    }
}

// The literal engine works on the impulse as claimed, silent frames included, so that it
// stays the plain definition the shortcuts of the fast engine are judged against.
ConvolveResult literally(const Impulse& impulse, uint32_t claimed, const EngineIo& io) {
    if (claimed == impulse.framesHeld) {
        return convolveReference(impulse, io);
    }
    const size_t width = impulse.channels == 1 ? 1 : 2;
    auto* whole = static_cast<float*>(calloc(static_cast<size_t>(claimed) * width, sizeof(float)));
    if (whole == nullptr) {
        return convolveOutOfMemory;
    }
    std::copy(impulse.samples, impulse.samples + static_cast<size_t>(impulse.framesHeld) * width,
              whole);
    const ConvolveResult result =
        convolveReference(Impulse{whole, claimed, claimed, impulse.channels}, io);
    free(whole);
    return result;
}

bool allFinite(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool enginePathAvailable(EnginePath path) {
    if (path == enginePathAuto || path == enginePathReference) {
        return true;
    }
    return path < enginePathCount && kernelsIfAvailable(enginePathRow(path)) != nullptr;
}

ConvolveResult convolve(const Impulse& given, const EngineIo& io, EngineOptions options) {
    float* impulse = given.samples;
    const uint32_t impulseFrames = given.framesHeld;
    const uint32_t impulseChannels = given.channels;
    WavReader* input = io.input;
    const uint32_t claimed = std::max(impulseFrames, given.framesClaimed);
    if (options.path == enginePathReference) {
        return literally(given, claimed, io);
    }
    if (impulseFrames == 0) {
        return convolveCompleted; // no impulse, no sums: callers never ask for this
    }
    reverseImpulse(impulse, impulseFrames, impulseChannels); // first, as the literal engine does
    const uint32_t inputChannels = input->channels;
    if ((inputChannels != 1 && inputChannels != 2) ||
        (impulseChannels != 1 && impulseChannels != 2)) {
        return convolveCompleted; // no layout matches: nothing to produce
    }
    // The impulse's leading and trailing zeros add only zero terms (ZeroTermExactness.h):
    // frames [first, end) of the impulse as given, over both channels, are all that is
    // computed. Its leading zeros delay the output by `first` silent frames; its trailing
    // ones add silence at the end. Reversed, original frame k is frame N - 1 - k.
    FastEngineSetup setup{};
    uint32_t first = impulseFrames;
    uint32_t end = 0;
    NonZeroFrames spans[2] = {};
    for (uint32_t c = 0; c < impulseChannels; ++c) {
        const NonZeroFrames reversed = nonZeroFrames(impulse, impulseFrames, impulseChannels, c);
        spans[c] = NonZeroFrames{impulseFrames - reversed.end, impulseFrames - reversed.first};
        if (spans[c].first < spans[c].end) {
            first = std::min(first, spans[c].first);
            end = std::max(end, spans[c].end);
        }
    }
    const uint32_t kept = end > first ? end - first : 0;
    float* keptTaps = impulse + static_cast<size_t>(impulseFrames - end) * impulseChannels;
    for (uint32_t c = 0; c < impulseChannels; ++c) {
        // In the kept taps, reversed: original frame k is tap end - 1 - k.
        setup.taps[c] = spans[c].first < spans[c].end
                            ? TapSpan{end - spans[c].end, end - spans[c].first}
                            : TapSpan{0, 0};
    }
    const size_t samples = static_cast<size_t>(kept) * impulseChannels;
    setup.kernels = chooseKernels(options.path);
    setup.singleFma = setup.kernels->singleFma != nullptr && !options.forceDoubleChain &&
                      singleFmaIsExact(keptTaps, samples, kept);
    setup.skipSilence = setup.singleFma || allFinite(keptTaps, samples);
    setup.threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
    setup.laneFrames = options.laneFrames;
    setup.tileTaps = options.tileTaps;
    // Input frames past those the file holds read as silence. With a finite impulse their
    // terms are exact zeros and the output frames that meet only them are silence; an
    // infinite impulse sample times a silent frame is NaN, so then every frame is computed.
    setup.inputFrames =
        setup.skipSilence ? std::min(input->frames, input->framesInFile) : input->frames;
    setup.leadingFrames = kept > 0 ? first : 0;
    setup.outputFrames = static_cast<uint64_t>(input->frames) + claimed;
    return convolveFast(Impulse{keptTaps, kept, kept, impulseChannels}, io, setup);
}
