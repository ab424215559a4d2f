// The literal engine. It is deliberately plain: the delay line is an array that moves by
// one frame for every output frame, the move folded into the multiply-add loop, and each
// output frame goes to the writer on its own. Faster paths are tested against it.
#include "convolution/ReferenceEngine.h"

#include <cstdlib>
#include <cstring>

#include "convolution/TermArithmetic.h"

namespace {

// InputChannels floats per delay-line frame, ImpulseChannels per impulse frame; the output
// has two channels when either has two.
template <uint32_t InputChannels, uint32_t ImpulseChannels>
ConvolveResult runLayout(const float* hr, uint32_t n, const EngineIo& io) {
    WavReader* input = io.input;
    WavWriter* output = io.output;
    JobProgress& progress = *io.progress;
    const StopCheck stop = io.stop;
    constexpr bool stereoOut = InputChannels == 2 || ImpulseChannels == 2;
    constexpr uint32_t hRight = ImpulseChannels - 1; // offset of the right impulse sample
    constexpr uint32_t dRight = InputChannels - 1;   // offset of the right input sample
    if (static_cast<uint64_t>(n) * InputChannels > SIZE_MAX / sizeof(float)) {
        return convolveOutOfMemory;
    }
    auto* d = static_cast<float*>(calloc(static_cast<size_t>(n) * InputChannels, sizeof(float)));
    if (d == nullptr) {
        return convolveOutOfMemory;
    }
    const uint32_t m = input->frames;
    const uint64_t frames = static_cast<uint64_t>(m) + n;
    startProgress(progress, progressCount(frames));
    const uint64_t checkEvery = framesBetweenChecks(n, stereoOut ? 2 : 1);
    ConvolveResult result = convolveCompleted;
    for (uint64_t frame = 0; frame < frames; ++frame) {
        if (frame % checkEvery == 0 && frame != 0 && stopRequested(stop)) {
            result = convolveStopped;
            break;
        }
        // A frame that cannot be read whole (the file ends early) is silence, as are the
        // frames after the input's end.
        float incoming[2] = {0.0f, 0.0f};
        if (frame < m) {
            WavReader::readFrame(input, incoming);
        }
        float sum[2];
        sum[0] = firstTerm(hr[0], d[0]);
        sum[1] = firstTerm(hr[hRight], d[dRight]);
        for (uint32_t i = 1; i < n; ++i) {
            sum[0] = addTerm(sum[0], hr[i * ImpulseChannels], d[i * InputChannels]);
            if (stereoOut) {
                sum[1] = addTerm(sum[1], hr[i * ImpulseChannels + hRight],
                                 d[i * InputChannels + dRight]);
            }
            for (uint32_t c = 0; c < InputChannels; ++c) {
                d[(i - 1) * InputChannels + c] = d[i * InputChannels + c];
            }
        }
        for (uint32_t c = 0; c < InputChannels; ++c) {
            d[static_cast<size_t>(n - 1) * InputChannels + c] = incoming[c];
        }
        progress.done.store(progressCount(frame + 1), std::memory_order_relaxed);
        if (!WavWriter::writeFrames(output, sum, 1)) {
            result = convolveWriteFailed;
            break;
        }
    }
    free(d);
    return result;
}

} // namespace

ConvolveResult convolveReference(const Impulse& impulse, const EngineIo& io) {
    const uint32_t n = impulse.framesHeld;
    if (n == 0) {
        return convolveCompleted; // no impulse, no sums: callers never ask for this
    }
    reverseImpulse(impulse.samples, n, impulse.channels);
    const uint32_t inputChannels = io.input->channels;
    if (inputChannels == 1 && impulse.channels == 1) {
        return runLayout<1, 1>(impulse.samples, n, io);
    }
    if (inputChannels == 1 && impulse.channels == 2) {
        return runLayout<1, 2>(impulse.samples, n, io);
    }
    if (inputChannels == 2 && impulse.channels == 2) {
        return runLayout<2, 2>(impulse.samples, n, io);
    }
    if (inputChannels == 2 && impulse.channels == 1) {
        return runLayout<2, 1>(impulse.samples, n, io);
    }
    return convolveCompleted;
}
