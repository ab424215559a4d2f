// The kernels for AVX2 with FMA: 8 output frames per vector. Built with -mavx2 -mfma on this
// file alone; the dispatcher runs them only after checking the CPU and the OS.
//
// Everything but the accessor at the end has internal linkage and no standard-library
// template is instantiated here: a shared inline function compiled with these flags could
// otherwise be the copy the linker keeps, and run on a CPU without the instructions.
#include "convolution/SumKernels.h"

#if defined(__AVX2__) && defined(__FMA__)

#include <immintrin.h>

#include <utility>

namespace {

constexpr uint32_t kLanes = 8;
// The single-precision kernel's register block. With 16 vector registers a ring of rows as
// in the AVX-512 kernel leaves room for only 6 or 7 sums, fewer than FMA latency times FMA
// units (8 or more), so the units would wait on their own results; taking every row from
// memory instead costs a load per multiply-add. The kernel sweeps 4 taps at a time over
// 10 sums: each row loaded serves up to 4 sums (one per tap of the sweep), so 10 sums,
// 4 broadcast taps and the row in hand fill 15 registers, with 13 row loads and 4
// broadcasts for 40 multiply-adds.
constexpr int kSingleGroup = 10;
constexpr int kSweepTaps = 4;
constexpr int kDoubleGroup = 4; // 8 double accumulators: enough chains to hide the conversions

// Group sums advanced through all taps: at tap t sum j takes row t + j. Each step is one fused
// multiply-add per lane, used only when it equals the defined step (a double sum rounded to float):
// with 16-bit samples on both sides every product is a multiple of 2^-30 no larger than 1, and
// every running sum of an impulse of at most 2^22 taps stays a multiple of 2^-30 no larger than
// 2^22, so the double sum is exact and its two roundings are the one rounding of the fused
// operation (SingleFmaExactness.h argues each step in full).
template <int Group>
void sumGroupSingle(const float* rows, const float* taps, uint32_t tapCount, float* sums) {
    __m256 acc[Group];
    for (int j = 0; j < Group; ++j) {
        acc[j] = _mm256_load_ps(sums + j * kLanes);
    }
    uint32_t t = 0;
    for (; t + kSweepTaps <= tapCount; t += kSweepTaps) {
        __m256 h[kSweepTaps];
        for (int u = 0; u < kSweepTaps; ++u) {
            h[u] = _mm256_set1_ps(taps[t + u]);
        }
        const float* base = rows + static_cast<size_t>(t) * kLanes;
        // Row q serves sum j = q - u for each of the sweep's taps u, so sum j takes its
        // taps in ascending order as q goes up.
#pragma GCC unroll 32
        for (int q = 0; q < Group + kSweepTaps - 1; ++q) {
            const __m256 row = _mm256_load_ps(base + q * kLanes);
#pragma GCC unroll 8
            for (int u = 0; u < kSweepTaps; ++u) {
                const int j = q - u;
                if (j >= 0 && j < Group) {
                    acc[j] = _mm256_fmadd_ps(h[u], row, acc[j]);
                }
            }
        }
    }
    for (; t < tapCount; ++t) {
        const __m256 h = _mm256_set1_ps(taps[t]);
        for (int j = 0; j < Group; ++j) {
            const __m256 row = _mm256_load_ps(rows + static_cast<size_t>(t + j) * kLanes);
            acc[j] = _mm256_fmadd_ps(h, row, acc[j]);
        }
    }
    for (int j = 0; j < Group; ++j) {
        _mm256_store_ps(sums + j * kLanes, acc[j]);
    }
}

// Rounds each double to float and back: the running sum is a float after every term.
inline __m256d roundToFloat(__m256d value) {
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(value));
}

// The double chain, 4 lanes per double vector, two vectors per row. The product of two
// floats is exact in double, so a fused double multiply-add rounds the same exact value
// that a separate multiply and add would: one rounding to double, then one to float.
template <int Group>
void sumGroupDouble(const float* rows, const float* taps, uint32_t tapCount, float* sums) {
    __m256d low[Group];
    __m256d high[Group];
    for (int j = 0; j < Group; ++j) {
        low[j] = _mm256_cvtps_pd(_mm_load_ps(sums + j * kLanes));
        high[j] = _mm256_cvtps_pd(_mm_load_ps(sums + j * kLanes + 4));
    }
    for (uint32_t t = 0; t < tapCount; ++t) {
        const __m256d h = _mm256_set1_pd(static_cast<double>(taps[t]));
        for (int j = 0; j < Group; ++j) {
            const float* row = rows + static_cast<size_t>(t + j) * kLanes;
            low[j] = roundToFloat(_mm256_fmadd_pd(h, _mm256_cvtps_pd(_mm_load_ps(row)), low[j]));
            high[j] =
                roundToFloat(_mm256_fmadd_pd(h, _mm256_cvtps_pd(_mm_load_ps(row + 4)), high[j]));
        }
    }
    for (int j = 0; j < Group; ++j) {
        _mm_store_ps(sums + j * kLanes, _mm256_cvtpd_ps(low[j]));
        _mm_store_ps(sums + j * kLanes + 4, _mm256_cvtpd_ps(high[j]));
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

// 8 x 8 transpose in three shuffle stages: pairs, quads, then 128-bit halves.
void transposeBlock(const float* window, size_t laneStride, float* rows) {
    __m256 a[8];
    for (int l = 0; l < 8; ++l) {
        a[l] = _mm256_loadu_ps(window + l * laneStride);
    }
    __m256 t[8];
    for (int p = 0; p < 4; ++p) {
        t[2 * p] = _mm256_unpacklo_ps(a[2 * p], a[2 * p + 1]);
        t[2 * p + 1] = _mm256_unpackhi_ps(a[2 * p], a[2 * p + 1]);
    }
    // u[4q + e] holds element 4k + e of lanes 4q .. 4q + 3, in 128-bit half k.
    __m256 u[8];
    for (int q = 0; q < 2; ++q) {
        u[4 * q + 0] = _mm256_shuffle_ps(t[4 * q], t[4 * q + 2], 0x44);
        u[4 * q + 1] = _mm256_shuffle_ps(t[4 * q], t[4 * q + 2], 0xEE);
        u[4 * q + 2] = _mm256_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0x44);
        u[4 * q + 3] = _mm256_shuffle_ps(t[4 * q + 1], t[4 * q + 3], 0xEE);
    }
    for (int e = 0; e < 4; ++e) {
        _mm256_store_ps(rows + e * kLanes, _mm256_permute2f128_ps(u[e], u[4 + e], 0x20));
        _mm256_store_ps(rows + (e + 4) * kLanes, _mm256_permute2f128_ps(u[e], u[4 + e], 0x31));
    }
}

void transpose(const float* window, size_t laneStride, uint32_t rowCount, float* rows) {
    uint32_t r = 0;
    for (; r + 8 <= rowCount; r += 8) {
        transposeBlock(window + r, laneStride, rows + static_cast<size_t>(r) * kLanes);
    }
    for (; r < rowCount; ++r) {
        for (uint32_t l = 0; l < kLanes; ++l) {
            rows[static_cast<size_t>(r) * kLanes + l] = window[l * laneStride + r];
        }
    }
}

const SumKernels kAvx2 = {
    kLanes,                             // lanes
    sumTile<SingleGroup, kSingleGroup>, // singleFma
    kSingleGroup,                       // singleGroup
    sumTile<DoubleGroup, kDoubleGroup>, // doubleChain
    transpose,                          // transpose
    4.0e7,                              // singleTermsPerMs
    1.0e7,                              // doubleTermsPerMs
};

} // namespace

const SumKernels* avx2Kernels() {
    return &kAvx2;
}

#else

const SumKernels* avx2Kernels() {
    return nullptr; // not an x86-64 build: the dispatcher never asks for it
}

#endif
