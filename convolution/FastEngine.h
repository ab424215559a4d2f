// The fast engine: the defined sums, computed in blocks of output frames, many frames per
// vector and all cores at once, with the same output bits as the literal engine.
#pragma once

#include <cstdint>

#include "convolution/EngineSupport.h"
#include "convolution/JobProgress.h"
#include "convolution/SumKernels.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

// The taps of one reversed impulse channel that are not zero: [first, end), or first == end
// when every one is. The taps outside only ever add exact zeros (ZeroTermExactness.h).
struct TapSpan {
    uint32_t first;
    uint32_t end;
};

struct FastEngineSetup {
    const SumKernels* kernels; // the instruction set's kernels
    bool singleFma;            // use kernels->singleFma (only when exact for this impulse)
    bool skipSilence;          // leave out terms on the silence around the input; only when
                               // every impulse sample is finite (inf x 0 would be NaN)
    unsigned threads;          // workers wanted, the caller included; at least 1
    unsigned laneFrames;       // output frames per lane and thread in a block; 0 = automatic
    unsigned tileTaps;         // taps per transposed tile; 0 = default
    uint64_t inputFrames;      // input frames that can be other than silence: input->frames, or
                               // fewer when the file holds fewer (and skipSilence allows)
    uint64_t leadingFrames;    // silent output frames written before the computed ones: the
                               // impulse's leading zeros, cut off by the caller
    uint64_t outputFrames;     // frames the output gets: at least leadingFrames + inputFrames +
                               // impulseFrames; those after them are silence
    TapSpan taps[2];           // per impulse channel, its non-zero taps within impulseFrames
};

// Convolves like convolveReference, with the impulse already reversed (its framesHeld
// frames are all it computes with, and only read; framesClaimed is not looked at): writes
// setup.leadingFrames silent frames, then computes setup.inputFrames + framesHeld output
// frames, then writes silence up to setup.outputFrames. Input and impulse channel counts
// are 1 or 2; framesHeld may be 0 (an impulse of zeros: the whole output is silence).
ConvolveResult convolveFast(const Impulse& reversed, const EngineIo& io,
                            const FastEngineSetup& setup);
