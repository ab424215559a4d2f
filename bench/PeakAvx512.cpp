#include "bench/PeakLoop.h"

#if defined(__AVX512F__)
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorAvx512.h"

PeakLoop peakLoopAvx512() {
    return peakLoop<Avx512, 24>; // 24 of the 32 registers
}

#else

PeakLoop peakLoopAvx512() {
    return nullptr;
}

#endif
