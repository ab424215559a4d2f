// How the fast engine cuts a job into blocks, pieces and tiles, as a pure function of the
// job's shape and the kernels' layout, so that its rules can be checked without any file.
//
// A block is B consecutive output frames, computed by all workers at once and then written.
// It is cut into pieces of lanes x S frames (lane l of a piece computes S consecutive
// frames); a worker takes a piece at a time. The taps are swept in tiles of at most K: for
// each tile the piece's window is transposed into a tile of tileRows x tileStride floats and
// copied out into rowCount rows (SumKernels.h), which the sums then sweep.
//
// The window of input samples lives in one buffer per input channel, used as a ring of
// windowRing floats: a block reads its N + B samples and a margin past them that a
// transposition may read but never uses, while the two blocks after it are already in
// place and the one after those is being read in. Each of the first N + B + margin floats
// of the ring is also kept past its end, so every block's reads are one contiguous run.
#pragma once

#include <cstdint>

// Pieces of a block per worker (one when working alone, or when pieces are long). Workers
// take pieces as they become free, so a worker whose core is busy with another program does
// fewer of them instead of holding up the block.
constexpr unsigned kPiecesPerWorker = 2;

struct BlockPlanInput {
    uint32_t lanes;         // output frames per vector of the kernels
    uint32_t group;         // sums the kernel keeps in registers at once (1: no preference)
    double termsPerMs;      // lane-terms one thread does per millisecond with that kernel
    uint32_t impulseFrames; // N >= 1
    uint32_t passes;        // output channels: each is a pass over the window
    unsigned workers;       // threads computing, the caller included; at least 1
    uint64_t totalFrames;   // output frames worth computing (M + N, M the input frames held)
    uint32_t laneFrames;    // S forced by the caller (tests), or 0
    uint32_t tileTaps;      // K forced by the caller (tests), or 0
};

struct BlockPlan {
    uint32_t laneFrames;     // S: frames per lane in a piece; at least 1
    uint32_t tileTaps;       // K: most taps in one tile; 1 ... N
    unsigned pieces;         // pieces per block: one or kPiecesPerWorker per worker
    uint64_t blockFrames;    // B = pieces x lanes x S
    uint32_t tileRows;       // rows of a transposed tile: S rounded up to whole lanes
    uint32_t tileStride;     // floats per tile row: tileColumns for K taps
    uint32_t rowCount;       // rows of a full tile: S + K - 1
    uint64_t windowMargin;   // floats past a block's N + B that a transposition may read
    uint64_t windowRing;     // the ring's length: N + 3B + margin
    uint64_t windowCapacity; // floats per window buffer: the ring, then N + B + margin more
};

BlockPlan planBlocks(const BlockPlanInput& in);

// Columns a tile of `taps` taps needs, rounded up to whole lanes: row r of the piece is
// columns r div S ... r div S + lanes - 1 of tile row r mod S, for r < S + taps - 1.
uint32_t tileColumns(uint32_t lanes, uint32_t laneFrames, uint32_t taps);
