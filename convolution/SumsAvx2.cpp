// The kernels for AVX2 with FMA: 8 output frames per vector. Built with -mavx2 -mfma on this
// file alone; the dispatcher runs them only after checking the CPU and the OS.
//
// Everything but the accessor at the end has internal linkage and no standard-library
// function template is instantiated here: a shared inline function compiled with these
// flags could otherwise be the copy the linker keeps, and run on a CPU without the
// instructions.
#include "convolution/SumKernels.h"

#include "convolution/SumsTemplate.h"
#include "convolution/VectorX86.h"

namespace {

using V = Avx2;

// The single-precision kernel's sweep. With 16 vector registers a ring of rows as in the
// AVX-512 kernel leaves room for only 6 or 7 sums, fewer than FMA latency times FMA units
// (8 or more), so the units would wait on their own results; taking every row from memory
// instead costs a load per multiply-add. This sweep takes 3 taps at a time over 12 sums:
// each row loaded serves up to 3 sums (one per tap of the sweep), so 12 sums, 3 broadcast
// taps and the row in hand fill all 16 registers, with 14 row loads and 3 broadcasts for 36
// multiply-adds. It measured 3 to 4 % faster than 4 taps over 10 sums (GCC 12 gave that one
// seven register moves per sweep; Zen 3, one thread and two, 0.1 s and 2 s impulses) and
// clearly faster than 4 over 11 or 2 over 12. Each sweep also copies 3 rows of the next tile
// while the FMA units are busy.
struct ThreeTapSweep {
    static constexpr int kGroup = 12;
    static constexpr uint32_t kTaps = 3;

    template <int Group>
    static void sweep(V::Floats (&acc)[Group], const float* rows, const float* taps,
                      uint32_t tapCount, uint32_t& t, RowCopy& copy) {
        wholeSteps<V, kTaps>(t, tapCount, copy,
                             [&](uint32_t at, const RowCopier<V>& copier, auto copying) {
                                 V::Floats h[kTaps];
                                 for (uint32_t u = 0; u < kTaps; ++u) {
                                     h[u] = V::broadcast(taps[at + u]);
                                 }
                                 const float* base = rows + static_cast<size_t>(at) * V::kLanes;
            // Row q serves sum j = q - u for each of the sweep's taps u, so sum j takes its
            // taps in ascending order as q goes up.
#pragma GCC unroll 32
                                 for (int q = 0; q < Group + static_cast<int>(kTaps) - 1; ++q) {
                                     const V::Floats row = V::load(base + q * V::kLanes);
#pragma GCC unroll 8
                                     for (int u = 0; u < static_cast<int>(kTaps); ++u) {
                                         const int j = q - u;
                                         if (j >= 0 && j < Group) {
                                             acc[j] = V::fusedStep(h[u], row, acc[j]);
                                         }
                                     }
                                     if constexpr (decltype(copying)::value) {
                                         if (q < static_cast<int>(kTaps)) {
                                             copier.copy(static_cast<uint32_t>(q));
                                         }
                                     }
                                 }
                             });
    }
};

using SingleFma = FusedKernel<V, ThreeTapSweep>;

// 8 x 8 transpose in three shuffle stages: pairs, quads, then 128-bit halves.
void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    __m256 u[8];
    transposeQuads<V>(window, windowStride, u);
    for (int e = 0; e < 4; ++e) {
        _mm256_store_ps(tile + e * tileStride, _mm256_permute2f128_ps(u[e], u[4 + e], 0x20));
        _mm256_store_ps(tile + (e + 4) * tileStride, _mm256_permute2f128_ps(u[e], u[4 + e], 0x31));
    }
}

constexpr SumKernels kAvx2 = kernelTable<V, SingleFma, transposeBlock>(4.0e7, 1.0e7);

} // namespace

const SumKernels* avx2Kernels() {
    return &kAvx2;
}
