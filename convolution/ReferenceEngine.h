// The literal engine: a delay line that moves by one frame per output frame, the sums in
// the defined order. Kept as the reference every faster path is tested against.
#pragma once

#include <cstdint>

#include "convolution/EngineSupport.h"
#include "convolution/JobProgress.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

// Convolves like convolve (Convolve.h), frame by frame, over the frames held (framesClaimed
// is not looked at: convolve hands it the impulse as claimed); reverses them in place.
ConvolveResult convolveReference(const Impulse& impulse, const EngineIo& io);
