// The literal engine: a delay line that moves by one frame per output frame, the sums in
// the defined order. Kept as the reference every faster path is tested against.
#pragma once

#include <cstdint>

#include "convolution/EngineSupport.h"
#include "convolution/JobProgress.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

// Convolves like convolve (Convolve.h), frame by frame; reverses the impulse in place.
ConvolveResult convolveReference(WavReader* input, float* impulse, uint32_t impulseFrames,
                                 uint32_t impulseChannels, WavWriter* output, JobProgress& progress,
                                 StopCheck stop);
