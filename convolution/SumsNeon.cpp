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

// The single-precision kernel: as on AVX-512, a ring of rows in registers, one row load per
// tap for Group multiply-adds. With 32 registers, 12 sums, the ring of 12 rows and the taps
// (4 to a register, each used by lane index, so no broadcast is needed) fit. 12 independent
// chains cover the FMA latency of the cores this is meant for (4 cycles, 2 to 4 pipes).
struct SingleFma {
    static constexpr uint32_t kLanes = V::kLanes;
    static constexpr int kGroup = 12;

    // Group sums advanced through all taps: at tap t sum j takes row t + j. FMLA rounds
    // a * b + c once, exactly as the x86 fused multiply-add does, so the same argument makes
    // it the defined step (a double sum rounded to float): with 16-bit samples on both sides
    // every product is a multiple of 2^-30 no larger than 1, and every running sum of an
    // impulse of at most 2^22 taps stays a multiple of 2^-30 no larger than 2^22, so the
    // double sum is exact and its two roundings are the one rounding of the fused operation
    // (SingleFmaExactness.h argues each step in full).
    template <int Group>
    static void group(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                      RowCopy& copy) {
        V::Floats acc[Group];
        for (int j = 0; j < Group; ++j) {
            acc[j] = V::load(sums + j * V::kLanes);
        }
        uint32_t t = 0;
        if (Group % 4 == 0 && tapCount >= static_cast<uint32_t>(Group)) {
            V::Floats ring[Group];
            for (int j = 0; j < Group - 1; ++j) {
                ring[j] = V::load(rows + j * V::kLanes);
            }
            RowCopier<V> copier(copy);
            // Group taps; with `copying`, one row of the copy per tap as well.
            const auto sweep = [&](auto copying) {
                const float* base = rows + static_cast<size_t>(t) * V::kLanes;
#pragma GCC unroll 16
                for (int u0 = 0; u0 < Group; u0 += 4) {
                    const float32x4_t h = vld1q_f32(taps + t + u0);
#pragma GCC unroll 4
                    for (int k = 0; k < 4; ++k) {
                        const int u = u0 + k;
                        ring[(u + Group - 1) % Group] = V::load(base + (u + Group - 1) * V::kLanes);
#pragma GCC unroll 16
                        for (int j = 0; j < Group; ++j) {
                            acc[j] = fusedStepByLane(acc[j], ring[(u + j) % Group], h, k);
                        }
                        if constexpr (decltype(copying)::value) {
                            copier.copy(static_cast<uint32_t>(u));
                        }
                    }
                }
            };
            for (; t + Group <= tapCount && copier.left >= static_cast<uint32_t>(Group);
                 t += Group) {
                sweep(std::true_type{});
                copier.advance(Group);
            }
            copier.finish(copy);
            for (; t + Group <= tapCount; t += Group) {
                sweep(std::false_type{});
            }
        }
        for (; t < tapCount; ++t) {
            const V::Floats h = V::broadcast(taps[t]);
            for (int j = 0; j < Group; ++j) {
                acc[j] =
                    V::fusedStep(h, V::load(rows + static_cast<size_t>(t + j) * V::kLanes), acc[j]);
            }
        }
        for (int j = 0; j < Group; ++j) {
            V::store(sums + j * V::kLanes, acc[j]);
        }
    }

    // acc + row * h[lane] with one rounding; the lane must be a constant.
    static inline float32x4_t fusedStepByLane(float32x4_t acc, float32x4_t row, float32x4_t h,
                                              int lane) {
        switch (lane) {
        case 0:
            return vfmaq_laneq_f32(acc, row, h, 0);
        case 1:
            return vfmaq_laneq_f32(acc, row, h, 1);
        case 2:
            return vfmaq_laneq_f32(acc, row, h, 2);
        default:
            return vfmaq_laneq_f32(acc, row, h, 3);
        }
    }
};

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
