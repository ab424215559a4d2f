#include "bench/PeakLoop.h"

#if defined(__aarch64__)
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorNeon.h"

PeakLoop peakLoopNeon() {
    return peakLoop<Neon, 24>; // 24 of the 32 registers
}

#else

PeakLoop peakLoopNeon() {
    return nullptr;
}

#endif
