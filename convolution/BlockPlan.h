// How the fast engine cuts a job into blocks, pieces and tiles, as a pure function of the
// job's shape and the kernels' layout, so that its rules can be checked without any file.
//
// A block is B consecutive output frames, computed by all workers and then written. It is
// cut into pieces of lanes x S frames (lane l of a piece computes S consecutive frames); a
// worker takes a piece at a time. The window of block b, N + B samples from its first frame
// on, is held transposed per input channel: row r, column c holds window sample c x S + r,
// for tileColumns columns. The taps are swept in tiles of at most K; for each, the kernels'
// rowCount rows are copied out of the transposed window (SumKernels.h): row k of the
// piece's taps from i0 on is row (i0 + k) mod S from column (i0 + k) div S + piece x lanes
// on, `lanes` columns.
//
// The window of block b + 1 is that of block b moved on by B = pieces x lanes x S samples,
// B / S whole columns, so the columns are kept once, in a ring, and each block transposes
// only the B / S columns it adds. The ring is made of panels of panelColumns columns (a
// multiple of B / S) that hold their rows one after the other, each row followed by the
// first `lanes` columns of the next panel: a row copy is then one run, and a tile's copies
// stay within a panel or two. After the ring come copies of its first mirrorPanels panels,
// as many as a block's columns can run past the ring's last panel into, so a block's panels
// are always consecutive.
//
// The input samples themselves go through a ring of windowRing floats per input channel,
// also followed by a copy of its start, as much as a transposition can read past the end:
// a block's new columns are transposed once the two chunks after the block are in, when
// all their samples are, and that happens while the block before it is computed
// (FastEngine.cpp), so the rings hold three blocks' work at once. (Keeping each ring whole
// twice cost as much again as the transposition, in memory traffic.)
#pragma once

#include <cstdint>

// Pieces of a block per worker (one when working alone, or when pieces are long). Workers
// take pieces as they become free, so a worker whose core is busy with another program does
// fewer of them instead of holding up the block.
constexpr unsigned kPiecesPerWorker = 2;

// Output blocks in flight: one being written while the next two are computed.
constexpr unsigned kOutputBlocks = 3;

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
    uint32_t laneFrames;   // S: frames per lane in a piece; at least 1
    uint32_t tileTaps;     // K: most taps in one tile; 1 ... N
    unsigned pieces;       // pieces per block: one or kPiecesPerWorker per worker
    uint64_t blockFrames;  // B = pieces x lanes x S
    uint32_t blockColumns; // B / S = pieces x lanes: the columns each block adds
    uint32_t tileRows;     // rows of the transposed window: S rounded up to whole lanes
    uint32_t tileColumns;  // columns of one block's window, a multiple of B / S
    uint32_t panelColumns; // columns per panel: a multiple of B / S, at least kPanelColumns
    uint32_t panelStride;  // floats per panel row: panelColumns, then `lanes` more
    uint64_t panelFloats;  // floats per panel: tileRows x panelStride
    uint32_t ringPanels;   // panels in the ring: enough for a block's columns and 2B / S more
    uint32_t mirrorPanels; // copies of the ring's first panels after it: 1 ... ringPanels
    uint32_t rowCount;     // rows the kernels take in a full tile: S + K - 1
    uint32_t rowOffsets;   // rows a tile can copy from a panel's start: panelColumns x S + rowCount
    uint64_t windowRing;   // input samples per ring: N + 4B + tileRows
    uint64_t windowMirror; // samples from the ring's start copied after its end: B + tileRows
    uint64_t windowCapacity; // floats per input ring buffer: windowRing + windowMirror
    uint64_t lookTerms;      // terms a piece computes between two looks at a stop of its own
};

BlockPlan planBlocks(const BlockPlanInput& in);
