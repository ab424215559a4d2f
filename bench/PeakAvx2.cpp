// The AVX2 + FMA peak loop: 12 of the 16 vector registers hold independent sums.
#include "bench/PeakLoop.h"
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorX86.h"

PeakLoop peakLoopAvx2() {
    return peakLoop<Avx2, 12>;
}
