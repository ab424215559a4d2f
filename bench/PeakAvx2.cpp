#include "bench/PeakLoop.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

// 12 accumulators (of 16 registers): more than FMA latency times FMA units, so the units never
// wait.
uint64_t peak(uint64_t rounds, float* sink) {
    constexpr int kChains = 12;
    __m256 acc[kChains];
    for (int j = 0; j < kChains; ++j) {
        acc[j] = _mm256_set1_ps(static_cast<float>(j));
    }
    const __m256 scale = _mm256_set1_ps(0.999999f);
    const __m256 step = _mm256_set1_ps(1e-7f);
    for (uint64_t r = 0; r < rounds; ++r) {
#pragma GCC unroll 12
        for (int j = 0; j < kChains; ++j) {
            acc[j] = _mm256_fmadd_ps(acc[j], scale, step);
        }
    }
    __m256 total = acc[0];
    for (int j = 1; j < kChains; ++j) {
        total = _mm256_add_ps(total, acc[j]);
    }
    float lanes[8];
    _mm256_storeu_ps(lanes, total);
    *sink = lanes[0] + lanes[1] + lanes[2] + lanes[3] + lanes[4] + lanes[5] + lanes[6] + lanes[7];
    return rounds * kChains * 8;
}

} // namespace

PeakLoop peakLoopAvx2() {
    return peak;
}

#else

PeakLoop peakLoopAvx2() {
    return nullptr;
}

#endif
