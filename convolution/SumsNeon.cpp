// The kernels for 64-bit ARM with Advanced SIMD (NEON): 4 output frames per vector. Every
// AArch64 processor has these instructions, so no run-time check is needed.
//
// Everything but the accessor at the end has internal linkage, as in the x86 kernel files.
#include "convolution/SumKernels.h"

#include "convolution/SumsTemplate.h"
#include "convolution/VectorNeon.h"

namespace {

using V = Neon;

// The single-precision kernel: the ring sweep (SumsTemplate.h) over 12 sums, as on AVX-512,
// with 4 taps to a register, each used by lane index.
// FMLA rounds a * b + c once, exactly as the x86 fused multiply-add does, so the argument
// that makes one fused step the defined step for 16-bit samples (SingleFmaExactness.h)
// holds here unchanged. 12 sums, the ring of 12 rows, the taps and a row being copied fit
// in the 32 registers; 12 independent chains cover the FMA latency of the cores this is
// meant for (4 cycles, 2 to 4 pipes).
using SingleFma = FusedKernel<V, RingSweep<V, 12, 4>>;

// 4 x 4 transpose: the two stages every instruction set shares are the whole of it here.
void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    float32x4_t u[4];
    transposeQuads<V>(window, windowStride, u);
    for (size_t e = 0; e < 4; ++e) {
        vst1q_f32(tile + e * tileStride, u[e]);
    }
}

constexpr SumKernels kNeon = kernelTable<V, SingleFma, transposeBlock>(2.0e7, 5.0e6);

} // namespace

const SumKernels* neonKernels() {
    return &kNeon;
}
