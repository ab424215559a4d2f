// The inner loops of the fast engine, one set per instruction set, all on one data layout.
//
// Layout. A piece of a block (what one thread computes at a time) is `lanes` segments of S
// consecutive output frames; vector lane l computes segment l. The input window is copied
// "transposed": row r holds, for every lane l, the window sample at l * S + r. Sum j of a lane (its
// frame j) meets tap t at row j + t, so at every tap one aligned row load serves all the sums whose
// windows overlap there, and the row stays in a register while they use it. Each lane still walks
// the taps one by one in ascending order, which is what makes its sum the defined one.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues `sumRows` running sums through taps[0 .. tapCount): sum j (the vector at
// sums + j * lanes) takes tap t against the row at rows + (j + t) * lanes. rows and sums
// are aligned to the vector width; rows holds sumRows + tapCount - 1 rows.
using SumTile = void (*)(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                         uint32_t sumRows);

// rows[r * lanes + l] = window[l * laneStride + r] for r < rowCount: the transposed copy.
using TransposeRows = void (*)(const float* window, size_t laneStride, uint32_t rowCount,
                               float* rows);

struct SumKernels {
    uint32_t lanes;          // output frames per vector: 16, 8, or the portable width
    SumTile singleFma;       // single-precision FMA per term; null where there is none
    uint32_t singleGroup;    // sums singleFma keeps in registers at once: sumRows works best as
                             // a multiple of it (a remainder runs with fewer chains)
    SumTile doubleChain;     // product and sum in double, rounded to float per term
    TransposeRows transpose; // builds the transposed rows
    // Lane-terms one thread does per millisecond, somewhat below what a 2024 desktop core
    // (Zen 5) measures; they size the blocks so that progress and stop stay prompt.
    double singleTermsPerMs; // with singleFma
    double doubleTermsPerMs; // with doubleChain
};

// The portable kernels always exist. The others are null when the build has no such
// instruction set (another processor family); the caller checks the CPU before using them.
const SumKernels* portableKernels();
const SumKernels* avx2Kernels();
const SumKernels* avx512Kernels();
