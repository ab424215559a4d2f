#include "bench/PeakLoop.h"

#if defined(__AVX2__) && defined(__FMA__)
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorAvx2.h"

PeakLoop peakLoopAvx2() {
    return peakLoop<Avx2, 12>; // 12 of the 16 registers
}

#else

PeakLoop peakLoopAvx2() {
    return nullptr;
}

#endif
