// The Advanced SIMD (NEON) peak loop: 24 of the 32 vector registers hold independent sums.
#include "bench/PeakLoop.h"
#include "bench/PeakLoopTemplate.h"
#include "convolution/VectorNeon.h"

PeakLoop peakLoopNeon() {
    return peakLoop<Neon, 24>;
}
