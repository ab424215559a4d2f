// The inner loops of the fast engine, one set per instruction set, all on one data layout.
//
// A piece of a block (what one thread computes at a time) is `lanes` segments of S
// consecutive output frames; vector lane l computes segment l. Its window, from the piece's
// first frame on, is v[0 ...]. Sum j of lane l (the lane's frame j) meets tap t at
// v[l * S + j + t], so the kernels take "rows": row r holds v[l * S + r] for every lane l, and
// at tap t sum j takes row j + t. One aligned row load then serves every sum whose window
// overlaps there, and it stays in a register while they use it. Each lane still walks the
// taps one by one in ascending order, which is what makes its sum the defined one.
//
// Rows r and r + S hold the same samples, one lane apart, so a tile of K taps repeats every
// sample about K / S times. Transposing straight into rows would pay a full lanes x lanes
// shuffle for each of them. The window is instead transposed once into a "tile" of S rows,
// where tile row r', column c holds v[c * S + r'], each sample stored once (BlockPlan.h has
// how the driver lays it out); row r is then the `lanes` floats from tile row r mod S,
// column r div S on, and is copied out with one unaligned load and one aligned store, no
// shuffle at all. Those copies are made while the kernels sum the tile before (RowCopy), on
// load and store ports the multiply-adds leave idle, so they cost next to nothing.
#pragma once

#include <cstddef>
#include <cstdint>

// Rows still to be copied out of a transposed tile: row r goes from tile + from[r] to
// rows + r * lanes (aligned), for r = next ... end - 1. from[] goes on for kCopyAhead more
// entries: each copy asks for the lines of the row that many on (any value there will do,
// asking for a line never faults).
constexpr uint32_t kCopyAhead = 48;
struct RowCopy {
    const float* tile;    // the transposed window
    const uint32_t* from; // where each row starts in the tile
    float* rows;          // the rows being built
    uint32_t next;        // the first row not copied yet
    uint32_t end;         // one past the last row to copy
};

// Continues `sumRows` running sums through taps[0 .. tapCount): sum j (the vector at
// sums + j * lanes) takes tap t against the row at rows + (j + t) * lanes. rows and sums are
// aligned to the vector width; rows holds sumRows + tapCount - 1 rows. Along the way it may
// copy some of the rows of `copy` (advancing copy.next); it never reads those it writes.
using SumTile = void (*)(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                         uint32_t sumRows, RowCopy& copy);

// tile[r * tileStride + c] = window[c * windowStride + r] for r < rows and c < columns, both
// multiples of `lanes`; tile and tileStride are aligned to the vector width. Reads the
// window up to index (columns - 1) * windowStride + rows - 1.
using TransposeTile = void (*)(const float* window, size_t windowStride, uint32_t rows,
                               uint32_t columns, float* tile, size_t tileStride);

// Copies the rest of `copy`'s rows.
using CopyRows = void (*)(RowCopy& copy);

struct SumKernels {
    uint32_t lanes;          // output frames per vector: 16, 8, 4, or the portable width
    SumTile singleFma;       // single-precision FMA per term; null where there is none
    uint32_t singleGroup;    // sums singleFma keeps in registers at once: sumRows works best as
                             // a multiple of it (a remainder runs with fewer chains)
    SumTile doubleChain;     // product and sum in double, rounded to float per term
    TransposeTile transpose; // transposes a window into a tile
    CopyRows copyRows;       // copies rows out of a tile
    // Lane-terms one thread does per millisecond, somewhat below what a 2024 desktop core
    // measures; they size the blocks so that progress and stop stay prompt.
    double singleTermsPerMs; // with singleFma
    double doubleTermsPerMs; // with doubleChain
};

// The portable kernels always exist. The others are null when the build is for another
// processor family (the build says which kernel files it compiles); the caller checks the
// CPU before using them.
const SumKernels* portableKernels();
#if defined(CONVOLUZIONE_X86_KERNELS)
const SumKernels* avx2Kernels();
const SumKernels* avx512Kernels();
#else
inline const SumKernels* avx2Kernels() {
    return nullptr;
}
inline const SumKernels* avx512Kernels() {
    return nullptr;
}
#endif
#if defined(CONVOLUZIONE_NEON_KERNELS)
const SumKernels* neonKernels();
#else
inline const SumKernels* neonKernels() {
    return nullptr;
}
#endif
