// The kernels for 64-bit ARM with Advanced SIMD (NEON): 4 output frames per vector. Every
// AArch64 processor has these instructions, so no run-time check is needed.
//
// Everything but the accessor at the end has internal linkage, as in the x86 kernel files.
#include "convolution/SumKernels.h"

#if defined(__aarch64__)

#include "convolution/SumsTemplate.h"
#include "convolution/VectorNeon.h"

namespace {

using V = Neon;

// The single-precision kernel: the ring sweep (SumsTemplate.h) over 12 sums, as on AVX-512.
// FMLA rounds a * b + c once, exactly as the x86 fused multiply-add does, so the argument
// that makes one fused step the defined step for 16-bit samples (SingleFmaExactness.h)
// holds here unchanged. 12 sums, the ring of 12 rows, the tap (loaded and replicated by
// LD1R) and a row being copied fit in the 32 registers; 12 independent chains cover the FMA
// latency of the cores this is meant for (4 cycles, 2 to 4 pipes).
using SingleFma = FusedKernel<V, RingSweep<V, 12>>;

// 4 x 4 transpose: pairs swapped by TRN1/TRN2, then 64-bit halves recombined.
void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    const float32x4_t a0 = vld1q_f32(window);
    const float32x4_t a1 = vld1q_f32(window + windowStride);
    const float32x4_t a2 = vld1q_f32(window + 2 * windowStride);
    const float32x4_t a3 = vld1q_f32(window + 3 * windowStride);
    const float32x4x2_t p01 = vtrnq_f32(a0, a1); // a0[0] a1[0] a0[2] a1[2] | a0[1] a1[1] ...
    const float32x4x2_t p23 = vtrnq_f32(a2, a3);
    vst1q_f32(tile, vcombine_f32(vget_low_f32(p01.val[0]), vget_low_f32(p23.val[0])));
    vst1q_f32(tile + tileStride, vcombine_f32(vget_low_f32(p01.val[1]), vget_low_f32(p23.val[1])));
    vst1q_f32(tile + 2 * tileStride,
              vcombine_f32(vget_high_f32(p01.val[0]), vget_high_f32(p23.val[0])));
    vst1q_f32(tile + 3 * tileStride,
              vcombine_f32(vget_high_f32(p01.val[1]), vget_high_f32(p23.val[1])));
}

constexpr SumKernels kNeon = kernelTable<V, SingleFma, transposeBlock>(2.0e7, 5.0e6);

} // namespace

const SumKernels* neonKernels() {
    return &kNeon;
}

#else

const SumKernels* neonKernels() {
    return nullptr; // not a 64-bit ARM build: the dispatcher never asks for it
}

#endif
