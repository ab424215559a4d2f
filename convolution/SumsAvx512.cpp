// The kernels for AVX-512F: 16 output frames per vector. Built with -mavx512f on this file
// alone; the dispatcher runs them only after checking the CPU and the OS.
//
// Everything but the accessor at the end has internal linkage and no standard-library
// function template is instantiated here: a shared inline function compiled with these
// flags could otherwise be the copy the linker keeps, and run on a CPU without the
// instructions.
#include "convolution/SumKernels.h"

#if defined(__AVX512F__)

#include "convolution/SumsTemplate.h"
#include "convolution/VectorAvx512.h"

namespace {

using V = Avx512;

// The single-precision kernel: the ring sweep (SumsTemplate.h) over 14 sums. 14 sums, the
// ring of 14 rows, the broadcast tap and a row being copied use 30 of the 32 vector
// registers; each tap costs one row load and one broadcast for 14 multiply-adds.
using SingleFma = FusedKernel<V, RingSweep<V, 14>>;

// 16 x 16 transpose in four shuffle stages: pairs, quads, then 128-bit blocks twice.
void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    __m512 a[16];
    for (int l = 0; l < 16; ++l) {
        a[l] = _mm512_loadu_ps(window + l * windowStride);
    }
    __m512 t[16];
    for (int p = 0; p < 8; ++p) {
        t[2 * p] = _mm512_unpacklo_ps(a[2 * p], a[2 * p + 1]);
        t[2 * p + 1] = _mm512_unpackhi_ps(a[2 * p], a[2 * p + 1]);
    }
    // u[4q + e] holds element 4k + e of lanes 4q .. 4q + 3, in 128-bit block k.
    __m512 u[16];
    for (int q = 0; q < 4; ++q) {
        u[4 * q + 0] = _mm512_shuffle_ps(t[4 * q], t[4 * q + 2], 0x44);
        u[4 * q + 1] = _mm512_shuffle_ps(t[4 * q], t[4 * q + 2], 0xEE);
        u[4 * q + 2] = _mm512_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0x44);
        u[4 * q + 3] = _mm512_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0xEE);
    }
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

#else

const SumKernels* avx512Kernels() {
    return nullptr; // not an x86-64 build: the dispatcher never asks for it
}

#endif
