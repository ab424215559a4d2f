// AVX-512F vectors, as the kernels (SumsTemplate.h) and the benchmark's peak loop use them:
// 16 floats, 8 doubles. Include only from files built with -mavx512f, never from a header
// other files include: see SumsTemplate.h for why everything here is file-local.
#pragma once

#include <cstdint>

// GCC 12's AVX-512 headers build some intrinsics on a deliberately undefined value and
// then warn about it at every use (GCC bug 105593); the warning says nothing about our code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

namespace {

struct Avx512 {
    using Floats = __m512;
    using Doubles = __m512d;
    static constexpr uint32_t kLanes = 16;
    static constexpr uint32_t kDoubleLanes = 8;
    static constexpr int kDoubleGroup = 6; // 12 double accumulators of the 32 registers

    static Floats load(const float* p) { return _mm512_load_ps(p); } // aligned to 64 bytes
    static Floats loadUnaligned(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, Floats v) { _mm512_store_ps(p, v); } // aligned to 64 bytes
    static Floats broadcast(float x) { return _mm512_set1_ps(x); }
    static Floats add(Floats a, Floats b) { return _mm512_add_ps(a, b); }
    // The transposition's shuffles (SumsTemplate.h), each within 128-bit blocks.
    static Floats interleaveLow(Floats a, Floats b) { return _mm512_unpacklo_ps(a, b); }
    static Floats interleaveHigh(Floats a, Floats b) { return _mm512_unpackhi_ps(a, b); }
    static Floats lowPairs(Floats a, Floats b) { return _mm512_shuffle_ps(a, b, 0x44); }
    static Floats highPairs(Floats a, Floats b) { return _mm512_shuffle_ps(a, b, 0xEE); }
    // a * b + c with one rounding.
    static Floats fusedStep(Floats a, Floats b, Floats c) { return _mm512_fmadd_ps(a, b, c); }

    // kDoubleLanes floats from p (any alignment), exactly, as doubles.
    static Doubles widen(const float* p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
    // Stores kDoubleLanes floats at p (any alignment), each double rounded to float.
    static void narrow(float* p, Doubles v) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(v)); }
    static Doubles broadcastDouble(double x) { return _mm512_set1_pd(x); }
    static Doubles fusedStepDouble(Doubles a, Doubles b, Doubles c) {
        return _mm512_fmadd_pd(a, b, c);
    }
    // Emits nothing: only makes v live here, so the register allocator
    // cannot hand its register to an earlier result (see the single-precision kernels).
    static void keepInRegister(Floats v) {
#if defined(__GNUC__)
        asm("" : : "v"(v));
#endif
        (void)v;
    }
    // Each double rounded to float and back: a running sum is a float after every term.
    static Doubles roundToFloat(Doubles v) {
        return _mm512_cvtps_pd(_mm512_cvtpd_ps(v));
    }
};

} // namespace
