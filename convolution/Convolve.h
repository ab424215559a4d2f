// Direct-form convolution of a streamed input with an impulse held in memory.
//
// Output frame m (m = 0 ... M + N - 1) is sum over k of h[k] * x[m - 1 - k], with input
// frames outside 0 ... M - 1 taken as zero, so the output is the full linear convolution
// preceded by one silent frame: M + N frames. Each sum runs from the oldest term
// (k = N - 1) to the newest (k = 0): the first product is rounded to float, every later
// product is formed and added in double and the sum rounded back to float before the next
// term. Because every step rounds, this order is part of the result, and every engine must
// reproduce it to the bit.
//
// Channel layouts (input x impulse -> output): mono x mono -> mono; mono x stereo ->
// stereo (each output channel uses its own impulse channel); stereo x stereo -> stereo
// (channel by channel); stereo x mono -> stereo (the same impulse on both channels).
#pragma once

#include <cstdint>

#include "convolution/EngineOptions.h"
#include "convolution/EngineSupport.h"
#include "convolution/JobProgress.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

// True when this CPU (and its operating system) can run the given instruction-set path.
// The portable and reference paths are always available.
bool enginePathAvailable(EnginePath path);

// Convolves io.input with the impulse (framesHeld >= 1; reversed in place by the call)
// into io.output, publishing progress in io.progress; the caller clears progress.active.
//
// A file may claim more frames than it holds; the missing ones are silence. The input's
// reader knows how many it holds (framesInFile), the impulse says it in framesClaimed.
// Either way the output is M + N frames as claimed, but the work is in proportion to the
// frames held and to the sound in them: a term with a zero factor adds nothing to any sum
// (ZeroTermExactness.h), and output frames that meet only silence are written as silence
// without computing them.
ConvolveResult convolve(const Impulse& impulse, const EngineIo& io,
                        EngineOptions options = EngineOptions{});
