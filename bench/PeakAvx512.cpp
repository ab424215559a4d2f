#include "bench/PeakLoop.h"

#if defined(__AVX512F__)
#include <immintrin.h>

namespace {

// 24 accumulators: more than FMA latency times FMA units, so the units never wait.
uint64_t peak(uint64_t rounds, float* sink) {
    constexpr int kChains = 24;
    __m512 acc[kChains];
    for (int j = 0; j < kChains; ++j) {
        acc[j] = _mm512_set1_ps(static_cast<float>(j));
    }
    const __m512 scale = _mm512_set1_ps(0.999999f);
    const __m512 step = _mm512_set1_ps(1e-7f);
    for (uint64_t r = 0; r < rounds; ++r) {
#pragma GCC unroll 24
        for (int j = 0; j < kChains; ++j) {
            acc[j] = _mm512_fmadd_ps(acc[j], scale, step);
        }
    }
    __m512 total = acc[0];
    for (int j = 1; j < kChains; ++j) {
        total = _mm512_add_ps(total, acc[j]);
    }
    float lanes[16];
    _mm512_storeu_ps(lanes, total);
    float sum = 0.0f;
    for (float lane : lanes) {
        sum += lane;
    }
    *sink = sum;
    return rounds * kChains * 16;
}

} // namespace

PeakLoop peakLoopAvx512() {
    return peak;
}

#else

PeakLoop peakLoopAvx512() {
    return nullptr;
}

#endif
