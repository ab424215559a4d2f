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

// Sums kept in registers by the single-precision kernel: 12 accumulators, 12 rows and the
// broadcast tap use 25 of the 32 vector registers, and each tap costs one row load and one
// broadcast for 12 multiply-adds, so the loop is bound by the FMA units, not by loads.
struct SingleFma {
    static constexpr uint32_t kLanes = V::kLanes;
    static constexpr int kGroup = 14;

    // Group sums advanced through all taps. The rows live in a ring of Group registers: at
    // tap t sum j needs row t + j, so each tap brings in one new row (t + Group - 1) and the
    // others were loaded for earlier taps. Unrolling by Group makes every ring slot a fixed
    // register. The tap and the oldest row are kept alive past their last multiply-add:
    // otherwise GCC writes that sum into the dying register and copies it back afterwards,
    // and those copies take turns on the FMA ports (about one in ten of them). Each tap also
    // copies one row of the next tile (SumKernels.h) while the FMA units are busy.
    // Each step is one fused multiply-add per lane, used only when it equals the defined
    // step (a double sum rounded to float): with 16-bit samples on both sides every product
    // is a multiple of 2^-30 no larger than 1, and every running sum of an impulse of at most
    // 2^22 taps stays a multiple of 2^-30 no larger than 2^22, so the double sum is exact and
    // its two roundings are the one rounding of the fused operation (SingleFmaExactness.h
    // argues each step in full).
    template <int Group>
    static void group(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                      RowCopy& copy) {
        V::Floats acc[Group];
        for (int j = 0; j < Group; ++j) {
            acc[j] = V::load(sums + j * V::kLanes);
        }
        uint32_t t = 0;
        if (tapCount >= static_cast<uint32_t>(Group)) {
            V::Floats ring[Group];
            for (int j = 0; j < Group - 1; ++j) {
                ring[j] = V::load(rows + j * V::kLanes);
            }
            RowCopier<V> copier(copy);
            // Group taps; with `copying`, one row of the copy per tap as well.
            const auto sweep = [&](auto copying) {
                const float* base = rows + static_cast<size_t>(t) * V::kLanes;
#pragma GCC unroll 16
                for (int u = 0; u < Group; ++u) {
                    ring[(u + Group - 1) % Group] = V::load(base + (u + Group - 1) * V::kLanes);
                    const V::Floats h = V::broadcast(taps[t + u]);
#pragma GCC unroll 16
                    for (int j = 0; j < Group; ++j) {
                        acc[j] = V::fusedStep(h, ring[(u + j) % Group], acc[j]);
                    }
                    V::keepInRegister(h);
                    V::keepInRegister(ring[u % Group]);
                    if constexpr (decltype(copying)::value) {
                        copier.copy(static_cast<uint32_t>(u));
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
};

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
