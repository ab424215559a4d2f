// x86 vectors, as the kernels (SumsTemplate.h) and the benchmark's peak loops use them:
// X86Vector<256> is AVX2 + FMA (8 floats, 4 doubles), X86Vector<512> is AVX-512F (16
// floats, 8 doubles). Each operation names the instruction of both widths side by side; a
// file instantiates only the width its flags allow, and the other width's branch is
// discarded before any code is made from it. Include only from files built with -mavx2
// -mfma (and -mavx512f for the wider one), never from a header other files include: see
// SumsTemplate.h for why everything here is file-local.
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

// The register types of each width (a template argument would lose their attributes).
template <int Bits> struct X86Registers;
template <> struct X86Registers<256> {
    using Floats = __m256;
    using Doubles = __m256d;
};
template <> struct X86Registers<512> {
    using Floats = __m512;
    using Doubles = __m512d;
};

template <int Bits> struct X86Vector {
    static constexpr bool kWide = Bits == 512;
    using Floats = typename X86Registers<Bits>::Floats;
    using Doubles = typename X86Registers<Bits>::Doubles;
    static constexpr uint32_t kLanes = Bits / 32;
    static constexpr uint32_t kDoubleLanes = Bits / 64;
    // Double accumulators, two per sum: 12 of the 32 registers, or 8 of the 16.
    static constexpr int kDoubleGroup = kWide ? 6 : 4;

    // Aligned to Bits / 8 bytes.
    static Floats load(const float* p) {
        if constexpr (kWide)
            return _mm512_load_ps(p);
        else
            return _mm256_load_ps(p);
    }
    static Floats loadUnaligned(const float* p) {
        if constexpr (kWide)
            return _mm512_loadu_ps(p);
        else
            return _mm256_loadu_ps(p);
    }
    // Aligned to Bits / 8 bytes.
    static void store(float* p, Floats v) {
        if constexpr (kWide)
            _mm512_store_ps(p, v);
        else
            _mm256_store_ps(p, v);
    }
    static Floats broadcast(float x) {
        if constexpr (kWide)
            return _mm512_set1_ps(x);
        else
            return _mm256_set1_ps(x);
    }
    static Floats add(Floats a, Floats b) {
        if constexpr (kWide)
            return _mm512_add_ps(a, b);
        else
            return _mm256_add_ps(a, b);
    }
    // The transposition's shuffles (SumsTemplate.h), each within 128-bit blocks: low gets
    // a0 b0 a1 b1 and high a2 b2 a3 b3; pairs<false> gives a0 a1 b0 b1, pairs<true> a2 a3 b2 b3.
    static void interleave(Floats a, Floats b, Floats& low, Floats& high) {
        if constexpr (kWide) {
            low = _mm512_unpacklo_ps(a, b);
            high = _mm512_unpackhi_ps(a, b);
        } else {
            low = _mm256_unpacklo_ps(a, b);
            high = _mm256_unpackhi_ps(a, b);
        }
    }
    template <bool High> static Floats pairs(Floats a, Floats b) {
        constexpr int kSelector = High ? 0xEE : 0x44;
        if constexpr (kWide)
            return _mm512_shuffle_ps(a, b, kSelector);
        else
            return _mm256_shuffle_ps(a, b, kSelector);
    }
    // a * b + c with one rounding, in floats or in doubles.
    template <typename R> static R fusedStep(R a, R b, R c) {
        constexpr bool kFloats = sizeof(a[0]) == sizeof(float); // the elements' width
        if constexpr (kWide && kFloats)
            return _mm512_fmadd_ps(a, b, c);
        else if constexpr (kWide)
            return _mm512_fmadd_pd(a, b, c);
        else if constexpr (kFloats)
            return _mm256_fmadd_ps(a, b, c);
        else
            return _mm256_fmadd_pd(a, b, c);
    }
    // Emits nothing: only makes v live here, so the register allocator cannot hand its
    // register to an earlier result (see the ring sweep in SumsTemplate.h).
    static void keepInRegister(Floats v) {
#if defined(__GNUC__)
        asm("" : : "v"(v));
#endif
        (void)v;
    }

    // kDoubleLanes floats from p (any alignment), exactly, as doubles.
    static Doubles widen(const float* p) {
        if constexpr (kWide)
            return _mm512_cvtps_pd(_mm256_loadu_ps(p));
        else
            return _mm256_cvtps_pd(_mm_loadu_ps(p));
    }
    // Stores kDoubleLanes floats at p (any alignment), each double rounded to float.
    static void narrow(float* p, Doubles v) {
        if constexpr (kWide)
            _mm256_storeu_ps(p, _mm512_cvtpd_ps(v));
        else
            _mm_storeu_ps(p, _mm256_cvtpd_ps(v));
    }
    static Doubles broadcastDouble(double x) {
        if constexpr (kWide)
            return _mm512_set1_pd(x);
        else
            return _mm256_set1_pd(x);
    }
    // Each double rounded to float and back: a running sum is a float after every term.
    static Doubles roundToFloat(Doubles v) {
        if constexpr (kWide)
            return _mm512_cvtps_pd(_mm512_cvtpd_ps(v));
        else
            return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
    }
};

using Avx2 = X86Vector<256>;
using Avx512 = X86Vector<512>;

} // namespace
