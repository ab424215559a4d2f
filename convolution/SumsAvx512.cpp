// The kernels for AVX-512F: 16 output frames per vector. Built with -mavx512f on this file
// alone; the dispatcher runs them only after checking the CPU and the OS.
//
// Everything but the accessor at the end has internal linkage and no standard-library
// function template is instantiated here: a shared inline function compiled with these
// flags could otherwise be the copy the linker keeps, and run on a CPU without the
// instructions.
#include "convolution/SumKernels.h"

#include "convolution/SumsTemplate.h"
#include "convolution/VectorX86.h"

namespace {

using V = Avx512;

// The single-precision kernel: the ring sweep (SumsTemplate.h) over 14 sums. 14 sums, the
// ring of 14 rows, the broadcast tap and a row being copied use 30 of the 32 vector
// registers; each tap costs one row load and one broadcast for 14 multiply-adds.
using SingleFma = FusedKernel<V, RingSweep<V, 14>>;

// 16 x 16 transpose in four shuffle stages: pairs, quads, then 128-bit blocks twice.
void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    __m512 u[16];
    transposeQuads<V>(window, windowStride, u);
    for (int e = 0; e < 4; ++e) {
        const __m512 even0 = _mm512_shuffle_f32x4(u[e], u[4 + e], 0x88);
        const __m512 odd0 = _mm512_shuffle_f32x4(u[e], u[4 + e], 0xDD);
        const __m512 even1 = _mm512_shuffle_f32x4(u[8 + e], u[12 + e], 0x88);
        const __m512 odd1 = _mm512_shuffle_f32x4(u[8 + e], u[12 + e], 0xDD);
        _mm512_store_ps(tile + (e + 0) * tileStride, _mm512_shuffle_f32x4(even0, even1, 0x88));
        _mm512_store_ps(tile + (e + 8) * tileStride, _mm512_shuffle_f32x4(even0, even1, 0xDD));
        _mm512_store_ps(tile + (e + 4) * tileStride, _mm512_shuffle_f32x4(odd0, odd1, 0x88));
        _mm512_store_ps(tile + (e + 12) * tileStride, _mm512_shuffle_f32x4(odd0, odd1, 0xDD));
    }
}

constexpr SumKernels kAvx512 = kernelTable<V, SingleFma, transposeBlock>(8.0e7, 2.0e7);

} // namespace

const SumKernels* avx512Kernels() {
    return &kAvx512;
}
