// A whole WAV file's data in memory at once: how the tests, the benchmark and the fuzz
// targets take an impulse or compare what was written. The job itself loads in pieces, so
// that it can stop between them.
#pragma once

#include "wav/WavReader.h"

// All `frames` frames of the data as a new malloc'ed buffer of frames x channels floats (the
// caller frees it); samples the file does not hold read as 0. Null for a null reader, no
// frames, a buffer that does not fit in memory, no memory, or a failed seek.
float* loadAll(WavReader* reader);
