// The AVX-512 peak loop: 24 of the 32 vector registers hold independent sums.
#include "bench/PeakLoop.h"
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorX86.h"

PeakLoop peakLoopAvx512() {
    return peakLoop<Avx512, 24>;
}
