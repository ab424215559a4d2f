// AVX2 + FMA vectors, as the kernels (SumsTemplate.h) and the benchmark's peak loop use them:
// 8 floats, 4 doubles. Include only from files built with -mavx2 -mfma, never from a header
// other files include: see SumsTemplate.h for why everything here is file-local.
#pragma once

#include <cstdint>

#include <immintrin.h>

namespace {

struct Avx2 {
    using Floats = __m256;
    using Doubles = __m256d;
    static constexpr uint32_t kLanes = 8;
    static constexpr uint32_t kDoubleLanes = 4;
    static constexpr int kDoubleGroup = 4; // 8 double accumulators of the 16 registers

    static Floats load(const float* p) { return _mm256_load_ps(p); } // aligned to 32 bytes
    static Floats loadUnaligned(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Floats v) { _mm256_store_ps(p, v); } // aligned to 32 bytes
    static Floats broadcast(float x) { return _mm256_set1_ps(x); }
    static Floats add(Floats a, Floats b) { return _mm256_add_ps(a, b); }
    // The transposition's shuffles (SumsTemplate.h), each within 128-bit blocks.
    static Floats interleaveLow(Floats a, Floats b) { return _mm256_unpacklo_ps(a, b); }
    static Floats interleaveHigh(Floats a, Floats b) { return _mm256_unpackhi_ps(a, b); }
    static Floats lowPairs(Floats a, Floats b) { return _mm256_shuffle_ps(a, b, 0x44); }
    static Floats highPairs(Floats a, Floats b) { return _mm256_shuffle_ps(a, b, 0xEE); }
    // a * b + c with one rounding.
    static Floats fusedStep(Floats a, Floats b, Floats c) { return _mm256_fmadd_ps(a, b, c); }

    // kDoubleLanes floats from p (any alignment), exactly, as doubles.
    static Doubles widen(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    // Stores kDoubleLanes floats at p (any alignment), each double rounded to float.
    static void narrow(float* p, Doubles v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
    static Doubles broadcastDouble(double x) { return _mm256_set1_pd(x); }
    static Doubles fusedStepDouble(Doubles a, Doubles b, Doubles c) {
        return _mm256_fmadd_pd(a, b, c);
    }
    // Emits nothing: only makes v live here, so the register allocator
    // cannot hand its register to an earlier result (see the single-precision kernels).
    static void keepInRegister(Floats v) {
#if defined(__GNUC__)
        asm("" : : "x"(v));
#endif
        (void)v;
    }
    // Each double rounded to float and back: a running sum is a float after every term.
    static Doubles roundToFloat(Doubles v) {
        return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
    }
};

} // namespace
