// Advanced SIMD (NEON) vectors of 64-bit ARM, as the kernels (SumsTemplate.h) and the
// benchmark's peak loop use them: 4 floats, 2 doubles. Every AArch64 processor has them.
// Include only from kernel files, never from a header other files include: see
// SumsTemplate.h for why everything here is file-local.
#pragma once

#include <cstdint>

#include <arm_neon.h>

namespace {

struct Neon {
    using Floats = float32x4_t;
    using Doubles = float64x2_t;
    static constexpr uint32_t kLanes = 4;
    static constexpr uint32_t kDoubleLanes = 2;
    static constexpr int kDoubleGroup = 6; // 12 double accumulators of the 32 registers

    // NEON loads and stores take any alignment.
    static Floats load(const float* p) { return vld1q_f32(p); }
    static Floats loadUnaligned(const float* p) { return vld1q_f32(p); }
    static void store(float* p, Floats v) { vst1q_f32(p, v); }
    static Floats broadcast(float x) { return vdupq_n_f32(x); }
    static Floats add(Floats a, Floats b) { return vaddq_f32(a, b); }
    // The transposition's shuffles (SumsTemplate.h): low gets a0 b0 a1 b1 and high
    // a2 b2 a3 b3; pairs<false> gives a0 a1 b0 b1, pairs<true> a2 a3 b2 b3.
    static void interleave(Floats a, Floats b, Floats& low, Floats& high) {
        low = vzip1q_f32(a, b);
        high = vzip2q_f32(a, b);
    }
    template <bool High> static Floats pairs(Floats a, Floats b) {
        const float64x2_t a2 = vreinterpretq_f64_f32(a);
        const float64x2_t b2 = vreinterpretq_f64_f32(b);
        return vreinterpretq_f32_f64(High ? vzip2q_f64(a2, b2) : vzip1q_f64(a2, b2));
    }
    // a * b + c with one rounding (FMLA), in floats or in doubles.
    static Floats fusedStep(Floats a, Floats b, Floats c) { return vfmaq_f32(c, a, b); }
    static Doubles fusedStep(Doubles a, Doubles b, Doubles c) { return vfmaq_f64(c, a, b); }
    // acc + row * taps[lane] with one rounding (FMLA by element); lane must fold to a
    // constant where this is inlined.
    static Floats fusedStepByLane(Floats acc, Floats row, Floats taps, int lane) {
        switch (lane) {
        case 0:
            return vfmaq_laneq_f32(acc, row, taps, 0);
        case 1:
            return vfmaq_laneq_f32(acc, row, taps, 1);
        case 2:
            return vfmaq_laneq_f32(acc, row, taps, 2);
        default:
            return vfmaq_laneq_f32(acc, row, taps, 3);
        }
    }

    // kDoubleLanes floats from p, exactly, as doubles.
    static Doubles widen(const float* p) { return vcvt_f64_f32(vld1_f32(p)); }
    // Stores kDoubleLanes floats at p, each double rounded to float (to nearest, the
    // default rounding mode).
    static void narrow(float* p, Doubles v) { vst1_f32(p, vcvt_f32_f64(v)); }
    static Doubles broadcastDouble(double x) { return vdupq_n_f64(x); }
    // Each double rounded to float and back: a running sum is a float after every term.
    static Doubles roundToFloat(Doubles v) { return vcvt_f64_f32(vcvt_f32_f64(v)); }
    // The x86 kernels need this hint to keep GCC from copying sums between registers; on
    // AArch64 GCC allocates the ring sweep without such copies, and the hint would add some
    // (12 in a loop of 144 multiply-adds), so here it is nothing.
    static void keepInRegister(Floats) {}
};

} // namespace
