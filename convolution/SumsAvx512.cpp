// The kernels for AVX-512F: 16 output frames per vector. Built with -mavx512f on this file
// alone; the dispatcher runs them only after checking the CPU and the OS.
//
// Everything but the accessor at the end has internal linkage and no standard-library
// template is instantiated here: a shared inline function compiled with these flags could
// otherwise be the copy the linker keeps, and run on a CPU without the instructions.
#include "convolution/SumKernels.h"

#if defined(__AVX512F__)

// GCC 12's AVX-512 headers build some intrinsics on a deliberately undefined value and
// then warn about it at every use (GCC bug 105593); the warning says nothing about this file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include <utility>

namespace {

constexpr uint32_t kLanes = 16;
// Sums kept in registers by the single-precision kernel: 12 accumulators, 12 rows and the
// broadcast tap use 25 of the 32 vector registers, and each tap costs one row load and one
// broadcast for 12 multiply-adds, so the loop is bound by the FMA units, not by loads.
constexpr int kSingleGroup = 12;
constexpr int kDoubleGroup = 6; // 12 double accumulators: enough chains to hide the conversions

// Group sums advanced through all taps. The rows live in a ring of Group registers: at
// tap t sum j needs row t + j, so each tap brings in one new row (t + Group - 1) and the
// others were loaded for earlier taps. Unrolling by Group makes every ring slot a fixed
// register.
// Each step is one fused multiply-add per lane, used only when it equals the defined step
// (a double sum rounded to float): with 16-bit samples on both sides every product is a
// multiple of 2^-30 no larger than 1, and every running sum of an impulse of at most 2^22
// taps stays a multiple of 2^-30 no larger than 2^22, so the double sum is exact and its
// two roundings are the one rounding of the fused operation (SingleFmaExactness.h argues
// each step in full).
template <int Group>
void sumGroupSingle(const float* rows, const float* taps, uint32_t tapCount, float* sums) {
    __m512 acc[Group];
    for (int j = 0; j < Group; ++j) {
        acc[j] = _mm512_load_ps(sums + j * kLanes);
    }
    uint32_t t = 0;
    if (tapCount >= static_cast<uint32_t>(Group)) {
        __m512 ring[Group];
        for (int j = 0; j < Group - 1; ++j) {
            ring[j] = _mm512_load_ps(rows + j * kLanes);
        }
        for (; t + Group <= tapCount; t += Group) {
            const float* base = rows + static_cast<size_t>(t) * kLanes;
#pragma GCC unroll 16
            for (int u = 0; u < Group; ++u) {
                ring[(u + Group - 1) % Group] = _mm512_load_ps(base + (u + Group - 1) * kLanes);
                const __m512 h = _mm512_set1_ps(taps[t + u]);
#pragma GCC unroll 16
                for (int j = 0; j < Group; ++j) {
                    acc[j] = _mm512_fmadd_ps(h, ring[(u + j) % Group], acc[j]);
                }
            }
        }
    }
    for (; t < tapCount; ++t) {
        const __m512 h = _mm512_set1_ps(taps[t]);
        for (int j = 0; j < Group; ++j) {
            const __m512 row = _mm512_load_ps(rows + static_cast<size_t>(t + j) * kLanes);
            acc[j] = _mm512_fmadd_ps(h, row, acc[j]);
        }
    }
    for (int j = 0; j < Group; ++j) {
        _mm512_store_ps(sums + j * kLanes, acc[j]);
    }
}

// Rounds each double to float and back: the running sum is a float after every term.
inline __m512d roundToFloat(__m512d value) {
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(value));
}

// The double chain, 8 lanes per double vector, two vectors per row. The product of two
// floats is exact in double, so a fused double multiply-add rounds the same exact value
// that a separate multiply and add would: one rounding to double, then one to float.
template <int Group>
void sumGroupDouble(const float* rows, const float* taps, uint32_t tapCount, float* sums) {
    __m512d low[Group];
    __m512d high[Group];
    for (int j = 0; j < Group; ++j) {
        low[j] = _mm512_cvtps_pd(_mm256_load_ps(sums + j * kLanes));
        high[j] = _mm512_cvtps_pd(_mm256_load_ps(sums + j * kLanes + 8));
    }
    for (uint32_t t = 0; t < tapCount; ++t) {
        const __m512d h = _mm512_set1_pd(static_cast<double>(taps[t]));
        for (int j = 0; j < Group; ++j) {
            const float* row = rows + static_cast<size_t>(t + j) * kLanes;
            low[j] = roundToFloat(_mm512_fmadd_pd(h, _mm512_cvtps_pd(_mm256_load_ps(row)), low[j]));
            high[j] =
                roundToFloat(_mm512_fmadd_pd(h, _mm512_cvtps_pd(_mm256_load_ps(row + 8)), high[j]));
        }
    }
    for (int j = 0; j < Group; ++j) {
        _mm256_store_ps(sums + j * kLanes, _mm512_cvtpd_ps(low[j]));
        _mm256_store_ps(sums + j * kLanes + 8, _mm512_cvtpd_ps(high[j]));
    }
}

using GroupKernel = void (*)(const float*, const float*, uint32_t, float*);

// The remainder of sumRows after whole groups goes through a smaller instance.
template <template <int> class Kernel, int... Sizes>
constexpr GroupKernel kernelFor(int size, std::integer_sequence<int, Sizes...>) {
    constexpr GroupKernel table[] = {nullptr, &Kernel<Sizes + 1>::run...};
    return table[size];
}

template <int Group> struct SingleGroup {
    static void run(const float* r, const float* h, uint32_t n, float* s) {
        sumGroupSingle<Group>(r, h, n, s);
    }
};
template <int Group> struct DoubleGroup {
    static void run(const float* r, const float* h, uint32_t n, float* s) {
        sumGroupDouble<Group>(r, h, n, s);
    }
};

template <template <int> class Kernel, int Group>
void sumTile(const float* rows, const float* taps, uint32_t tapCount, float* sums,
             uint32_t sumRows) {
    uint32_t j = 0;
    for (; j + Group <= sumRows; j += Group) {
        Kernel<Group>::run(rows + static_cast<size_t>(j) * kLanes, taps, tapCount,
                           sums + static_cast<size_t>(j) * kLanes);
    }
    if (j < sumRows) {
        kernelFor<Kernel>(static_cast<int>(sumRows - j), std::make_integer_sequence<int, Group>{})(
            rows + static_cast<size_t>(j) * kLanes, taps, tapCount,
            sums + static_cast<size_t>(j) * kLanes);
    }
}

// 16 x 16 transpose in four shuffle stages: pairs, quads, then 128-bit blocks twice.
void transposeBlock(const float* window, size_t laneStride, float* rows) {
    __m512 a[16];
    for (int l = 0; l < 16; ++l) {
        a[l] = _mm512_loadu_ps(window + l * laneStride);
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
        _mm512_store_ps(rows + (e + 0) * kLanes, _mm512_shuffle_f32x4(even0, even1, 0x88));
        _mm512_store_ps(rows + (e + 8) * kLanes, _mm512_shuffle_f32x4(even0, even1, 0xDD));
        _mm512_store_ps(rows + (e + 4) * kLanes, _mm512_shuffle_f32x4(odd0, odd1, 0x88));
        _mm512_store_ps(rows + (e + 12) * kLanes, _mm512_shuffle_f32x4(odd0, odd1, 0xDD));
    }
}

void transpose(const float* window, size_t laneStride, uint32_t rowCount, float* rows) {
    uint32_t r = 0;
    for (; r + 16 <= rowCount; r += 16) {
        transposeBlock(window + r, laneStride, rows + static_cast<size_t>(r) * kLanes);
    }
    for (; r < rowCount; ++r) {
        for (uint32_t l = 0; l < kLanes; ++l) {
            rows[static_cast<size_t>(r) * kLanes + l] = window[l * laneStride + r];
        }
    }
}

const SumKernels kAvx512 = {
    kLanes,                             // lanes
    sumTile<SingleGroup, kSingleGroup>, // singleFma
    kSingleGroup,                       // singleGroup
    sumTile<DoubleGroup, kDoubleGroup>, // doubleChain
    transpose,                          // transpose
    8.0e7,                              // singleTermsPerMs
    2.0e7,                              // doubleTermsPerMs
};

} // namespace

const SumKernels* avx512Kernels() {
    return &kAvx512;
}

#else

const SumKernels* avx512Kernels() {
    return nullptr; // not an x86-64 build: the dispatcher never asks for it
}

#endif
