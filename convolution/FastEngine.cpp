// The fast engine's driver: streaming, blocks, threads, progress and the output. The sums
// themselves are the kernels' (SumKernels.h) and the sizes the block plan's (BlockPlan.h);
// this file decides which frames and taps the kernels see.
//
// Output frame f is sum over i of hr[i] * u[f + i], i = 0 ... N - 1 ascending, where hr is
// the reversed impulse and u the input preceded by N silent frames (u[t] = x[t - N]), so
// the window of block b, whose first frame is bB, is u[bB ... bB + B + N). The input frames
// go into a ring per input channel (BlockPlan.h) a block at a time: chunk c, input frames
// cB ... cB + B - 1, is all that block c adds to block c - 1's window. The window is held
// transposed per input channel, in a ring of panels of columns (BlockPlan.h): before a
// block's pieces start, the B / S columns it adds are transposed, and the pieces copy their
// kernels' rows out of the block's panels.
//
// The work is one stream of tasks that the workers take in order, with no wait between
// blocks: block b's pieces, then its file task, then block b + 1's pieces, and so on. A
// worker that finishes early goes on to the next block while the others finish theirs. The
// file task prepares the block after next, so that the next block's pieces run beside it:
// the file work then takes one worker's share of the time instead of stopping all of them
// (with short impulses it is a good part of the work). The protocol, per task:
//
//   task          waits for                        writes
//   piece of b    file task b - 2 (b's panels in   its frames of output buffer b % 3 (the
//                 place, block b - 3 written)      one of block b - 3)
//   file task b   block b - 1's pieces, file       block b - 1 to the file; chunk b + 3
//                 task b - 1                       into the rings; block b + 2's new
//                                                  columns into the panels (whole columns:
//                                                  the last ones reach into chunk b + 3)
//
// While file task b runs only block b's and b + 1's pieces can, and it writes nothing they
// read. Each task waits only for earlier tasks, so the earliest one unfinished can always
// go on, whatever number of workers takes part.
//
// The stop request is looked at by each file task and, every few milliseconds of work, by
// long pieces (see lookAtStop). A stop ends the stream at the block of the task that saw it:
// the blocks before it are written, the tasks of that block and later ones are left, and a
// piece already running leaves its block between two steps.
#include "convolution/FastEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "convolution/BlockPlan.h"
#include "convolution/Workers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned kMostPieces = kPiecesPerWorker * kMostWorkers;
constexpr size_t kAlignment = 64; // the widest vector, and a cache line

// A buffer aligned to the widest vector, taken from malloc.
struct AlignedBuffer {
    void* allocation; // what malloc returned; null when nothing is held
    void* data;       // the aligned start inside it
};

// What a new buffer holds: zeros, or nothing yet because every item is written before it is
// read. Either way a large buffer's pages are touched first by whoever first uses them,
// often a worker, beside the others' work: zeros come from calloc, whose large blocks are
// fresh pages that the system zeroes as they are first touched. Zeroing them here touched
// every page at once, on the thread setting up while the others waited (2.5 MiB, about 2
// ms, for a stereo cabinet job; a page fault costs about two microseconds here).
enum class Contents { zeros, writtenFirst };

bool allocateAligned(AlignedBuffer& buffer, uint64_t count, size_t itemBytes,
                     Contents contents = Contents::zeros) {
    if (count > (SIZE_MAX - kAlignment) / itemBytes) {
        return false;
    }
    const size_t bytes = static_cast<size_t>(count) * itemBytes;
    buffer.allocation =
        contents == Contents::zeros ? calloc(bytes + kAlignment, 1) : malloc(bytes + kAlignment);
    if (buffer.allocation == nullptr) {
        return false;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.allocation);
    buffer.data = reinterpret_cast<void*>((address + kAlignment - 1) & ~uintptr_t{kAlignment - 1});
    return true;
}

void releaseAligned(AlignedBuffer& buffer) {
    free(buffer.allocation);
    buffer = AlignedBuffer{};
}

float* floats(const AlignedBuffer& buffer) {
    return static_cast<float*>(buffer.data);
}

// One output channel: which window its sums run over and which taps they take.
struct ChannelPass {
    uint32_t inputChannel;  // window index: 0, or 1 for the right input channel
    const float* taps;      // one reversed impulse channel, impulseFrames contiguous floats
    uint32_t outputChannel; // its place in an output frame
    TapSpan span;           // its non-zero taps: the only ones it computes
};

// What one worker computes with: its own tile, rows and running sums, on its own cache lines.
struct WorkerScratch {
    AlignedBuffer rows[2]; // the kernels' rows, rowCount x lanes floats: one set being summed,
                           // the other being copied out of the tile for the next step
    AlignedBuffer sums[2]; // running sums per pass: S rows of `lanes` floats (and up to
                           // tileRows, so that whole lanes x lanes blocks transpose)
    AlignedBuffer ordered; // a finished piece's sums in frame order: per pass, `lanes` runs
                           // of tileRows floats (lane l's S frames first)
};

// The job's shape and the arithmetic chosen for it; fixed for the whole call.
struct Shape {
    const SumKernels* kernels; // the instruction set's kernels
    SumTile sumTile;           // the single-precision or the double kernel
    uint64_t inputFrames;      // M: the input frames that are not all silence
    uint64_t computedFrames;   // M + N: the output frames computed, after the leading ones
    uint64_t leadingFrames;    // silent output frames before the computed ones
    uint64_t outputFrames;     // the output's length: leading + M + N, and silence after that
    uint32_t impulseFrames;    // N
    uint32_t inputChannels;    // 1 or 2 windows
    uint32_t outputChannels;   // floats per output frame
    ChannelPass passes[2];     // one per output channel
    bool skipSilence;          // leave out taps that meet only silent input frames
    uint32_t lanes;            // frames per vector
    BlockPlan plan;            // blocks, pieces and tiles
};

// The file work, done by whichever worker takes a block's file task; file tasks run one at
// a time and in order.
struct BlockFiles {
    WavReader* input;       // read ahead from here
    WavWriter* writer;      // finished blocks go here
    JobProgress* progress;  // done is stored before frames go to the writer
    StopCheck stop;         // looked at once per block
    AlignedBuffer read;     // a stereo chunk's input frames as read, interleaved
    bool writeFailed;       // the writer refused frames: nothing more is produced
    uint64_t framesRead;    // input frames read so far
    uint64_t framesWritten; // output frames handed to the writer so far
};

struct Engine {
    Shape shape;                // fixed for the call
    unsigned workers;           // threads asked to compute, the caller included
    uint64_t blocks;            // blocks worth computing: ceil((M + N) / B)
    AlignedBuffer rowFrom;      // rowFromCount offsets: the row of window sample x
    AlignedBuffer splitTaps[2]; // a stereo impulse's channels, each made contiguous
    AlignedBuffer window[2];    // per input channel: the ring of u (BlockPlan.h)
    // Per input channel, with skipSilence: a ring (windowRing entries, indexed like the
    // window's, and one more that filling passes through) of how many samples of u before
    // each position are not zero, modulo 2^32. The difference of two entries counts the
    // non-zero samples between them.
    AlignedBuffer nonZeroBefore[2];
    AlignedBuffer panels[2]; // per input channel: the window transposed, a ring of panels
    // B output frames each, interleaved: block b uses b % kOutputBlocks.
    AlignedBuffer outputBlocks[kOutputBlocks];
    std::atomic<uint64_t> nextTask; // tasks taken so far: (pieces + 1) per block
    // The blocks to compute: all of them, until a file task lowers it at a stop or a refused
    // write. Tasks of later blocks are not run; the file task of this block is the last one,
    // and writes the block before it.
    std::atomic<uint64_t> endBlock;
    std::atomic<uint64_t> filesDone;                 // file tasks finished, in block order
    std::atomic<unsigned> piecesDone[kOutputBlocks]; // block b's pieces finished, at b % that
    std::atomic<bool> looking;                       // a task is looking at the stop request
    bool stopSeen;                                   // the request said stop; kept under `looking`
    BlockFiles files;                                // the file tasks' state
    WorkerScratch scratch[kMostWorkers];
};

// Lowers the end of the stream to `block`, so that block - 1 is the last one written; never
// raises it. A stop and a refused write can each lower it, from different threads.
void endStreamAt(Engine& e, uint64_t block) {
    uint64_t end = e.endBlock.load(std::memory_order_relaxed);
    while (block < end &&
           !e.endBlock.compare_exchange_weak(end, block, std::memory_order_relaxed)) {
    }
}

// Looks at the stop request for a task of block `block`, and ends the stream there at a
// stop. Tasks on different threads look, but never two at once: one that finds another
// looking leaves the look to it. So the caller's check need not be thread-safe, each look
// comes after the one before it, and nothing is asked once it has said stop, nor for a
// block the stream no longer reaches.
void lookAtStop(Engine& e, uint64_t block) {
    if (e.looking.exchange(true, std::memory_order_acquire)) {
        return;
    }
    if (!e.stopSeen && block < e.endBlock.load(std::memory_order_relaxed) &&
        stopRequested(e.files.stop)) {
        e.stopSeen = true;
        endStreamAt(e, block);
    }
    e.looking.store(false, std::memory_order_release);
}

uint64_t blockStart(const Engine& e, uint64_t block) {
    return block * e.shape.plan.blockFrames;
}

// Output frames of a block that belong to the output.
uint32_t blockCount(const Engine& e, uint64_t block) {
    const uint64_t total = e.shape.computedFrames;
    return static_cast<uint32_t>(std::min(e.shape.plan.blockFrames, total - blockStart(e, block)));
}

// The taps piece `piece` of the block starting at frame `start` computes: [lo, hi).
void tapRange(const Shape& s, uint64_t start, unsigned piece, int64_t& lo, int64_t& hi) {
    const uint64_t pieceFrames = static_cast<uint64_t>(s.lanes) * s.plan.laneFrames;
    const int64_t first = static_cast<int64_t>(start + piece * pieceFrames);
    const int64_t n = s.impulseFrames;
    lo = 0;
    hi = n;
    if (s.skipSilence) {
        // Frame f with tap i reads u[f + i], a real input frame only for N <= f + i < N + M.
        // The piece's frames are first ... first + pieceFrames - 1; a tap outside [lo, hi)
        // meets silence in every lane and only adds exact zeros.
        const int64_t last = first + static_cast<int64_t>(pieceFrames) - 1;
        lo = std::max<int64_t>(0, n - last);
        hi = std::min<int64_t>(
            n, std::max<int64_t>(0, n + static_cast<int64_t>(s.inputFrames) - first));
    }
}

// The piece a block's task-th piece task computes: pieces are taken by the taps they
// compute, most first. Near the input's start and end pieces differ; taken in this order,
// the last ones to finish are the short ones, so the block after starts on time.
unsigned pieceForTask(const Shape& s, uint64_t start, unsigned task) {
    const unsigned pieces = s.plan.pieces;
    int64_t work[kMostPieces];
    unsigned order[kMostPieces];
    for (unsigned p = 0; p < pieces; ++p) {
        int64_t lo = 0;
        int64_t hi = 0;
        tapRange(s, start, p, lo, hi);
        work[p] = std::max<int64_t>(0, hi - lo);
        unsigned at = p; // insertion: stable, so equal pieces keep their order
        while (at > 0 && work[order[at - 1]] < work[p]) {
            order[at] = order[at - 1];
            --at;
        }
        order[at] = p;
    }
    return order[task];
}

// A step of a piece: one tile of taps on one input channel.
struct PieceStep {
    int64_t firstTap; // i0: the step's first tap
    uint32_t taps;    // taps in the step
    uint32_t channel; // input channel
};

// The taps one piece computes, and where its window starts.
struct PieceTaps {
    int64_t lo;        // the first tap of its first tile (tapRange)
    int64_t hi;        // one past its last tap
    int64_t steps;     // tiles x input channels
    uint64_t first;    // its first frame, f: tap i of lane sum j reads u[f + i + ...]
    uint64_t frames;   // lanes x S
    int64_t spanLo[2]; // per input channel: the first tap of any pass on it
    int64_t spanHi[2]; // and one past the last; spanLo == spanHi when none computes
};

// Non-zero samples of u in [from, to) on one input channel; to - from <= B + N.
uint32_t nonZeroIn(const Engine& e, uint32_t channel, uint64_t from, uint64_t to) {
    const auto* before = static_cast<const uint32_t*>(e.nonZeroBefore[channel].data);
    const uint64_t ring = e.shape.plan.windowRing;
    return before[to % ring] - before[from % ring];
}

// Narrows the taps [t0, t1) of a piece to those whose window, u[first + t ... first + t +
// frames), holds a sample other than zero: a tap before the reach of the first such sample,
// or after the last one, meets only zeros in every lane (ZeroTermExactness.h). Two binary
// searches over the counts. false when no tap is left.
bool narrowToSound(const Engine& e, uint32_t channel, const PieceTaps& p, int64_t& t0,
                   int64_t& t1) {
    const uint64_t from = p.first + static_cast<uint64_t>(t0);
    const uint64_t to = p.first + static_cast<uint64_t>(t1 - 1) + p.frames;
    if (nonZeroIn(e, channel, from, to) == 0) {
        return false;
    }
    uint64_t lo = from; // the first non-zero sample is in [lo, hi]
    uint64_t hi = nonZeroIn(e, channel, from, from + 1) > 0 ? from : to - 1; // sound: at once
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (nonZeroIn(e, channel, from, mid + 1) > 0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    const auto firstSound = static_cast<int64_t>(lo - p.first);
    hi = to - 1; // the last one is in [lo, hi]
    if (nonZeroIn(e, channel, hi, to) > 0) {
        lo = hi; // sound at the window's end: at once
    }
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo + 1) / 2;
        if (nonZeroIn(e, channel, mid, to) > 0) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    const auto lastSound = static_cast<int64_t>(lo - p.first);
    t0 = std::max(t0, firstSound - static_cast<int64_t>(p.frames) + 1);
    t1 = std::min(t1, lastSound + 1);
    return true;
}

// Step k of a piece (tile k / channels on input channel k % channels), narrowed to the taps
// its passes compute and, when silence is skipped, to those that meet sound. false when
// nothing is left of it.
bool pieceStep(const Engine& e, const PieceTaps& p, int64_t k, PieceStep& step) {
    const Shape& s = e.shape;
    const auto channel = static_cast<uint32_t>(k % s.inputChannels);
    int64_t t0 = p.lo + k / s.inputChannels * s.plan.tileTaps;
    int64_t t1 = std::min<int64_t>(t0 + s.plan.tileTaps, p.hi);
    t0 = std::max(t0, p.spanLo[channel]);
    t1 = std::min(t1, p.spanHi[channel]);
    if (t0 >= t1 || (s.skipSilence && !narrowToSound(e, channel, p, t0, t1))) {
        return false;
    }
    step = PieceStep{t0, static_cast<uint32_t>(t1 - t0), channel};
    return true;
}

// The first step from k on that has taps left, or p.steps.
int64_t nextStep(const Engine& e, const PieceTaps& p, int64_t k, PieceStep& step) {
    while (k < p.steps && !pieceStep(e, p, k, step)) {
        ++k;
    }
    return k;
}

// The copy of a step's rows out of the block's panels. Block b's first column is column
// (b mod m) x B / S of ring panel (b div m) mod ringPanels, m the blocks per panel;
// `pieceOffset` is the piece's first frame from the block's start.
RowCopy stepRows(const Engine& e, uint64_t block, uint64_t pieceOffset, const PieceStep& step,
                 float* rows) {
    const BlockPlan& plan = e.shape.plan;
    const uint64_t blocksPerPanel = plan.panelColumns / plan.blockColumns;
    // The step's first row, as window samples from the block's first panel's start; every
    // panel is laid out alike, so the offsets are kept for the rows from one panel's start.
    const uint64_t sample = block % blocksPerPanel * plan.blockFrames + pieceOffset +
                            static_cast<uint64_t>(step.firstTap);
    const uint64_t panelSamples = uint64_t{plan.panelColumns} * plan.laneFrames;
    const uint64_t panel = block / blocksPerPanel % plan.ringPanels + sample / panelSamples;
    return RowCopy{floats(e.panels[step.channel]) + panel * plan.panelFloats,
                   static_cast<const uint32_t*>(e.rowFrom.data) + sample % panelSamples, rows, 0,
                   plan.laneFrames + step.taps - 1};
}

// Whether a piece's sums are transposed straight into the block: with one output channel a
// lane's run of sums is its frames, when the runs are S long.
bool storesStraight(const Shape& s) {
    return s.outputChannels == 1 && s.plan.tileRows == s.plan.laneFrames;
}

// Puts a finished piece's sums into its frames of the block, `out` on: lane l, sum j is frame
// l x S + j, and pass p's sample is channel passes[p].outputChannel of it. The kernels'
// transposition puts each lane's sums in a run of their own first, in whole lanes x lanes
// blocks: one float at a time this was a twentieth of all the work besides the sums.
void storePiece(const Engine& e, WorkerScratch& scratch, float* out) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    const size_t run = plan.tileRows; // a lane's sums in `ordered`
    const size_t passFloats = run * s.lanes;
    if (storesStraight(s)) {
        s.kernels->transpose(floats(scratch.sums[0]), s.lanes, s.lanes, plan.tileRows, out, run);
        return;
    }
    float* ordered = floats(scratch.ordered);
    for (uint32_t p = 0; p < s.outputChannels; ++p) {
        s.kernels->transpose(floats(scratch.sums[p]), s.lanes, s.lanes, plan.tileRows,
                             ordered + p * passFloats, run);
    }
    // Where each channel's runs start: with two, one interleaving loop, which becomes vector
    // code.
    const bool inOrder = s.outputChannels == 1 || s.passes[0].outputChannel == 0;
    const size_t leftRuns = inOrder ? 0 : passFloats;
    const size_t rightRuns = inOrder ? passFloats : 0;
    for (uint32_t l = 0; l < s.lanes; ++l) {
        float* frames = out + static_cast<size_t>(l) * plan.laneFrames * s.outputChannels;
        const float* first = ordered + l * run;
        if (s.outputChannels == 1) {
            memcpy(frames, first, plan.laneFrames * sizeof(float));
            continue;
        }
        const float* left = first + leftRuns;
        const float* right = first + rightRuns;
        for (uint32_t j = 0; j < plan.laneFrames; ++j) {
            frames[2 * j] = left[j];
            frames[2 * j + 1] = right[j];
        }
    }
}

// One piece of a block: lanes x S consecutive output frames, computed with the worker's own
// scratch buffers. Its steps are the tiles of taps, each on every input channel; the rows of
// each step are copied out while the kernels sum the step before. A long piece looks at the
// stop request between steps. false when the piece was left unfinished because the stream
// ended before its block.
bool computePiece(Engine& e, uint64_t block, unsigned piece, WorkerScratch& scratch) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    PieceTaps p{};
    p.frames = static_cast<uint64_t>(s.lanes) * plan.laneFrames;
    const uint64_t pieceOffset = piece * p.frames; // from the block's start
    p.first = blockStart(e, block) + pieceOffset;
    tapRange(s, blockStart(e, block), piece, p.lo, p.hi);
    p.steps = p.hi > p.lo ? (p.hi - p.lo + plan.tileTaps - 1) / plan.tileTaps * s.inputChannels : 0;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        p.spanLo[c] = s.impulseFrames;
        p.spanHi[c] = 0;
    }
    for (uint32_t q = 0; q < s.outputChannels; ++q) {
        const ChannelPass& pass = s.passes[q];
        if (pass.span.first < pass.span.end) {
            p.spanLo[pass.inputChannel] =
                std::min<int64_t>(p.spanLo[pass.inputChannel], pass.span.first);
            p.spanHi[pass.inputChannel] =
                std::max<int64_t>(p.spanHi[pass.inputChannel], pass.span.end);
        }
    }
    const size_t sumFloats = static_cast<size_t>(plan.laneFrames) * s.lanes;
    for (uint32_t q = 0; q < s.outputChannels; ++q) {
        memset(scratch.sums[q].data, 0, sumFloats * sizeof(float));
    }
    PieceStep step{};
    int64_t k = nextStep(e, p, 0, step);
    unsigned filling = 0; // the rows buffer the current step's rows are in
    if (k < p.steps) {
        RowCopy rows = stepRows(e, block, pieceOffset, step, floats(scratch.rows[0]));
        s.kernels->copyRows(rows);
    }
    uint64_t sinceLook = 0; // terms computed since this piece last looked at the stop request
    while (k < p.steps) {
        PieceStep following{};
        const int64_t after = nextStep(e, p, k + 1, following);
        const float* rows = floats(scratch.rows[filling]);
        RowCopy next{};
        if (after < p.steps) {
            next = stepRows(e, block, pieceOffset, following, floats(scratch.rows[1 - filling]));
        }
        for (uint32_t q = 0; q < s.outputChannels; ++q) {
            const ChannelPass& pass = s.passes[q];
            const int64_t from = std::max<int64_t>(step.firstTap, pass.span.first);
            const int64_t to = std::min<int64_t>(step.firstTap + step.taps, pass.span.end);
            if (pass.inputChannel == step.channel && from < to) {
                // Tap t of the step takes the rows from t - firstTap on.
                s.sumTile(rows + static_cast<size_t>(from - step.firstTap) * s.lanes,
                          pass.taps + from, static_cast<uint32_t>(to - from),
                          floats(scratch.sums[q]), plan.laneFrames, next);
                sinceLook +=
                    p.frames * static_cast<uint64_t>(to - from); // a term per frame and tap
            }
        }
        s.kernels->copyRows(next); // what the kernels left
        if (sinceLook >= plan.lookTerms) {
            sinceLook = 0;
            lookAtStop(e, block);
        }
        if (block >= e.endBlock.load(std::memory_order_relaxed)) {
            return false;
        }
        k = after;
        step = following;
        filling = 1 - filling;
    }
    storePiece(e, scratch,
               floats(e.outputBlocks[block % kOutputBlocks]) + pieceOffset * s.outputChannels);
    return true;
}

// counts[k] = seen + the samples of values[0 ... k] that are not zero (of either sign), and
// seen moves on to the last. Tested as the bits of a magnitude: a float comparison (which
// must allow for NaN) made this loop a third of all the file work of a short impulse.
void countNonZero(const float* values, uint32_t* counts, uint64_t count, uint32_t& seen) {
    uint64_t k = 0;
#if defined(__SSE2__)
    // Four at a time, a running sum within the vector in two shifted adds.
    const __m128i magnitude = _mm_set1_epi32(0x7FFFFFFF);
    const __m128i one = _mm_set1_epi32(1);
    __m128i carry = _mm_set1_epi32(static_cast<int>(seen));
    for (; k + 4 <= count; k += 4) {
        const __m128i bits =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + k)), magnitude);
        __m128i sums = _mm_andnot_si128(_mm_cmpeq_epi32(bits, _mm_setzero_si128()), one);
        sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 4));
        sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
        sums = _mm_add_epi32(sums, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(counts + k), sums);
        carry = _mm_shuffle_epi32(sums, 0xFF);
    }
    seen = static_cast<uint32_t>(_mm_cvtsi128_si32(carry));
#endif
    for (; k < count; ++k) {
        uint32_t bits;
        memcpy(&bits, values + k, sizeof bits);
        seen += (bits << 1) != 0 ? 1 : 0;
        counts[k] = seen;
    }
}

// Puts `count` samples of one channel, from[k x stride] (stride 1 or 2; with stride 1 they
// may be in place already), then `silent` zeros, into the ring from position `at` on, and
// those of them before position `mirror` also into the copy of the ring's start after its
// end; with `before`, counts the non-zero ones (from *seen on) into it. The run does not
// wrap: at + count + silent <= windowRing.
void fillRing(float* ring, uint64_t windowRing, uint64_t mirror, uint64_t at, const float* from,
              uint32_t stride, uint64_t count, uint64_t silent, uint32_t* before, uint32_t& seen) {
    float* first = ring + at;
    if (stride == 1) {
        if (from != first) {
            memcpy(first, from, count * sizeof(float));
        }
    } else {
        // One channel of two: a stride the compiler knows makes this vector code.
        for (uint64_t k = 0; k < count; ++k) {
            first[k] = from[2 * k];
        }
    }
    memset(first + count, 0, silent * sizeof(float));
    if (at < mirror) {
        memcpy(first + windowRing, first,
               (std::min(at + count + silent, mirror) - at) * sizeof(float));
    }
    if (before != nullptr) {
        // Entry at + k + 1 counts the samples before it; the silence adds none.
        uint32_t* counts = before + at + 1;
        countNonZero(first, counts, count, seen);
        std::fill(counts + count, counts + count + silent, seen);
    }
}

// Reads chunk `chunk` (input frames chunk x B ... + B - 1, or fewer where the input ends)
// and puts it into the rings, one channel per ring, with silence after it up to a whole
// block; what cannot be read is silence too. Mono frames are read straight into the ring;
// stereo ones go through f.read to be split.
void readChunk(Engine& e, uint64_t chunk) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    BlockFiles& f = e.files;
    const uint64_t left = s.inputFrames - f.framesRead;
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(left, plan.blockFrames));
    const bool direct = s.inputChannels == 1;
    if (count > 0 && !direct) {
        WavReader::readNextFrames(f.input, floats(f.read), count);
    }
    f.framesRead += count;
    const uint64_t ring = plan.windowRing;
    const uint64_t start = (s.impulseFrames + blockStart(e, chunk)) % ring;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        auto* before = static_cast<uint32_t*>(e.nonZeroBefore[c].data); // null: not counted
        uint32_t seen = before != nullptr ? before[start] : 0;
        // The chunk's B positions, in at most two runs: up to the ring's end, then from 0.
        // Entry `ring` of the counts is entry 0: it is copied over once the run ends there.
        uint64_t done = 0;
        for (uint64_t at = start; done < plan.blockFrames; at = 0) {
            const uint64_t run = std::min(plan.blockFrames - done, ring - at);
            const uint64_t read = done < count ? std::min<uint64_t>(count - done, run) : 0;
            float* into = floats(e.window[c]) + at;
            if (direct && read > 0) {
                WavReader::readNextFrames(f.input, into, static_cast<uint32_t>(read));
            }
            fillRing(floats(e.window[c]), ring, plan.windowMirror, at,
                     direct ? into : floats(f.read) + done * s.inputChannels + c, s.inputChannels,
                     read, run - read, before, seen);
            if (before != nullptr && at + run == ring) {
                before[0] = seen;
            }
            done += run;
        }
    }
}

// Transposes `count` columns, samples column x S ... (the chunks are in the rings), into
// ring panel `panel` from its column `at` on, and, for one of the first mirrorPanels panels,
// copies them into its copy after the ring (a row copy costs half a transposition).
void transposeInto(Engine& e, uint64_t column, uint32_t count, uint64_t panel, uint32_t at) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    const uint64_t sample = column * plan.laneFrames % plan.windowRing;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        float* first = floats(e.panels[c]) + panel * plan.panelFloats + at;
        s.kernels->transpose(floats(e.window[c]) + sample, plan.laneFrames, plan.tileRows, count,
                             first, plan.panelStride);
        if (panel >= plan.mirrorPanels) {
            continue;
        }
        float* copy = first + plan.ringPanels * plan.panelFloats;
        for (uint32_t r = 0; r < plan.tileRows; ++r) {
            const size_t row = static_cast<size_t>(r) * plan.panelStride;
            std::copy(first + row, first + row + count, copy + row);
        }
    }
}

// Transposes the B / S columns from column `column` on (samples column x S ... of u) into
// their panel, and the first `lanes` columns of a panel also after the panel before it.
void transposeColumns(Engine& e, uint64_t column) {
    const BlockPlan& plan = e.shape.plan;
    const uint64_t panel = column / plan.panelColumns % plan.ringPanels;
    const auto at = static_cast<uint32_t>(column % plan.panelColumns);
    transposeInto(e, column, plan.blockColumns, panel, at);
    if (at == 0 && column > 0) {
        transposeInto(e, column, e.shape.lanes, (panel + plan.ringPanels - 1) % plan.ringPanels,
                      plan.panelColumns);
    }
}

// Hands finished frames to the writer, counting them first. false once the writer refuses.
bool writeBlock(BlockFiles& f, const float* frames, uint32_t count) {
    f.progress->done.store(progressCount(f.framesWritten + count), std::memory_order_relaxed);
    if (!WavWriter::writeFrames(f.writer, frames, count)) {
        return false;
    }
    f.framesWritten += count;
    return true;
}

// Waits until ready() holds: spinning first, since a running job's waits are short (another
// worker finishing a piece), then sleeping a little at a time for the long ones (a stalled
// output file, a core taken by another program).
template <typename Ready> void waitUntil(Ready ready) {
    if (spinUntil(ready, std::chrono::microseconds(500))) {
        return;
    }
    auto pause = std::chrono::microseconds(20);
    while (!ready()) {
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(1));
    }
}

// Block b's file task: writes block b - 1, then, unless the stream ends here, looks at the
// stop request, reads chunk b + 3 and transposes block b + 2's new columns. It ends the stream
// after the last block, at a stop or at a refused write. Called once the file task before it is
// done. When a stop seen in block b - 1 ended the stream before it, block b - 1 is unfinished
// and nothing is written.
void fileTask(Engine& e, uint64_t block) {
    BlockFiles& f = e.files;
    const auto ended = [&] { return e.endBlock.load(std::memory_order_relaxed) < block; };
    if (block > 0) {
        std::atomic<unsigned>& before = e.piecesDone[(block - 1) % kOutputBlocks];
        waitUntil([&] {
            return before.load(std::memory_order_acquire) == e.shape.plan.pieces || ended();
        });
        if (!ended()) {
            before.store(0, std::memory_order_relaxed); // for block b + 2, after this task
            if (!writeBlock(f, floats(e.outputBlocks[(block - 1) % kOutputBlocks]),
                            blockCount(e, block - 1))) {
                f.writeFailed = true;
                endStreamAt(e, block);
            }
        }
        lookAtStop(e, block); // a stop makes block b - 1 the last
    }
    if (block + 2 < e.blocks && block < e.endBlock.load(std::memory_order_relaxed)) {
        readChunk(e, block + 3);
        // Block b + 2's last B / S columns, past all of block b + 1's.
        const BlockPlan& plan = e.shape.plan;
        transposeColumns(e, (block + 1) * plan.blockColumns + plan.tileColumns);
    }
    e.filesDone.store(block + 1, std::memory_order_release);
}

// A worker's share of the job: tasks in order, as many as it gets to (see the top of the
// file), until the stream ends.
void workerTask(void* context, unsigned worker) {
    auto& e = *static_cast<Engine*>(context);
    const unsigned pieces = e.shape.plan.pieces;
    for (;;) {
        const uint64_t task = e.nextTask.fetch_add(1, std::memory_order_relaxed);
        const uint64_t block = task / (pieces + 1);
        const auto inBlock = static_cast<unsigned>(task % (pieces + 1));
        // Until the file task before this one (a file task), or the one that prepared this
        // block (a piece), is done, or the stream has ended before it.
        const uint64_t needed = inBlock == pieces || block == 0 ? block : block - 1;
        waitUntil([&] {
            const uint64_t end = e.endBlock.load(std::memory_order_relaxed);
            return e.filesDone.load(std::memory_order_acquire) >= std::min(needed, end + 1);
        });
        const uint64_t end = e.endBlock.load(std::memory_order_relaxed);
        if (block > end) {
            return;
        }
        if (inBlock == pieces) {
            fileTask(e, block);
        } else if (block < end &&
                   computePiece(e, block, pieceForTask(e.shape, blockStart(e, block), inBlock),
                                e.scratch[worker])) {
            e.piecesDone[block % kOutputBlocks].fetch_add(1, std::memory_order_release);
        }
    }
}

// Silence, written until `until` frames are, a few thousand at a time, looking at the stop
// request after each while some are left: the output's frames before the first one the kept
// impulse reaches, and those after the last one any input frame reaches.
ConvolveResult writeSilence(BlockFiles& f, uint64_t until) {
    constexpr uint32_t kSilentFrames = 8192;
    static const float kSilence[2 * kSilentFrames] = {};
    while (f.framesWritten < until) {
        const uint64_t count = std::min<uint64_t>(kSilentFrames, until - f.framesWritten);
        if (!writeBlock(f, kSilence, static_cast<uint32_t>(count))) {
            return convolveWriteFailed;
        }
        if (f.framesWritten < until && stopRequested(f.stop)) {
            return convolveStopped;
        }
    }
    return convolveCompleted;
}

ConvolveResult runBlocks(Engine& e) {
    e.blocks = (e.shape.computedFrames + e.shape.plan.blockFrames - 1) / e.shape.plan.blockFrames;
    const ConvolveResult leading = writeSilence(e.files, e.shape.leadingFrames);
    if (leading != convolveCompleted) {
        return leading;
    }
    // Blocks 0 and 1 prepared: chunks 0 to 2 read, their columns transposed.
    for (uint64_t chunk = 0; chunk < 3; ++chunk) {
        readChunk(e, chunk);
    }
    const BlockPlan& plan = e.shape.plan;
    for (uint64_t column = 0; column < plan.tileColumns + plan.blockColumns;
         column += plan.blockColumns) {
        transposeColumns(e, column);
    }
    e.endBlock.store(e.blocks, std::memory_order_relaxed); // published by the threads' start
    runWorkers(e.workers, workerTask, &e);
    if (e.files.writeFailed) {
        return convolveWriteFailed;
    }
    if (e.endBlock.load(std::memory_order_relaxed) < e.blocks) {
        return convolveStopped; // the frames computed so far went to the file
    }
    return writeSilence(e.files, e.shape.outputFrames);
}

// Entries of the engine's rowFrom: the offsets a tile can copy from, and those the copies
// look ahead to.
uint32_t rowFromCount(const BlockPlan& plan) {
    return plan.rowOffsets + kCopyAhead;
}

bool allocateEngine(Engine& e, const float* reversedImpulse, uint32_t impulseChannels,
                    const TapSpan* spans) {
    Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        if (!allocateAligned(e.window[c], plan.windowCapacity, sizeof(float)) ||
            (s.skipSilence &&
             !allocateAligned(e.nonZeroBefore[c], plan.windowRing + 1, sizeof(uint32_t)))) {
            return false;
        }
    }
    if ((s.inputChannels == 2 && !allocateAligned(e.files.read, plan.blockFrames * 2, sizeof(float),
                                                  Contents::writtenFirst)) ||
        !allocateAligned(e.rowFrom, rowFromCount(plan), sizeof(uint32_t), Contents::writtenFirst)) {
        return false;
    }
    // A block's pieces write all of it before it is written out.
    for (AlignedBuffer& b : e.outputBlocks) {
        if (!allocateAligned(b, plan.blockFrames * s.outputChannels, sizeof(float),
                             Contents::writtenFirst)) {
            return false;
        }
    }
    auto* rowFrom = static_cast<uint32_t*>(e.rowFrom.data);
    for (uint32_t x = 0; x < rowFromCount(plan); ++x) {
        // Sample x from a panel's start: row x mod S, column x div S.
        const uint64_t column = x / plan.laneFrames;
        rowFrom[x] = static_cast<uint32_t>(column / plan.panelColumns * plan.panelFloats +
                                           x % plan.laneFrames * plan.panelStride +
                                           column % plan.panelColumns);
    }
    const uint64_t panelCount = uint64_t{plan.ringPanels} + plan.mirrorPanels;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        if (!allocateAligned(e.panels[c], panelCount * plan.panelFloats, sizeof(float))) {
            return false;
        }
    }
    for (unsigned w = 0; w < e.workers; ++w) {
        WorkerScratch& scratch = e.scratch[w];
        // Rows are copied in before the kernels read them.
        if (!allocateAligned(scratch.rows[0], static_cast<uint64_t>(plan.rowCount) * s.lanes,
                             sizeof(float), Contents::writtenFirst) ||
            !allocateAligned(scratch.rows[1], static_cast<uint64_t>(plan.rowCount) * s.lanes,
                             sizeof(float), Contents::writtenFirst)) {
            return false;
        }
        const uint64_t passFloats = static_cast<uint64_t>(plan.tileRows) * s.lanes;
        for (uint32_t p = 0; p < s.outputChannels; ++p) {
            if (!allocateAligned(scratch.sums[p], passFloats, sizeof(float))) {
                return false;
            }
        }
        if (!storesStraight(s) && !allocateAligned(scratch.ordered, passFloats * s.outputChannels,
                                                   sizeof(float), Contents::writtenFirst)) {
            return false;
        }
    }
    const float* left = reversedImpulse;
    const float* right = reversedImpulse;
    if (impulseChannels == 2) {
        // Each kernel walks one impulse channel with unit stride.
        if (!allocateAligned(e.splitTaps[0], s.impulseFrames, sizeof(float),
                             Contents::writtenFirst) ||
            !allocateAligned(e.splitTaps[1], s.impulseFrames, sizeof(float),
                             Contents::writtenFirst)) {
            return false;
        }
        for (uint32_t i = 0; i < s.impulseFrames; ++i) {
            floats(e.splitTaps[0])[i] = reversedImpulse[2 * static_cast<size_t>(i)];
            floats(e.splitTaps[1])[i] = reversedImpulse[2 * static_cast<size_t>(i) + 1];
        }
        left = floats(e.splitTaps[0]);
        right = floats(e.splitTaps[1]);
    }
    s.passes[0] = ChannelPass{0, left, 0, spans[0]};
    // The right output takes the right input channel when there is one, and the right
    // impulse channel when there is one.
    s.passes[1] =
        ChannelPass{s.inputChannels == 2 ? 1u : 0u, right, 1, spans[impulseChannels == 2 ? 1 : 0]};
    return true;
}

void releaseEngine(Engine& e) {
    for (AlignedBuffer& b : e.window) {
        releaseAligned(b);
    }
    for (AlignedBuffer& b : e.nonZeroBefore) {
        releaseAligned(b);
    }
    for (AlignedBuffer& b : e.panels) {
        releaseAligned(b);
    }
    for (AlignedBuffer& b : e.splitTaps) {
        releaseAligned(b);
    }
    releaseAligned(e.rowFrom);
    releaseAligned(e.files.read);
    for (AlignedBuffer& b : e.outputBlocks) {
        releaseAligned(b);
    }
    for (WorkerScratch& scratch : e.scratch) {
        releaseAligned(scratch.rows[0]);
        releaseAligned(scratch.rows[1]);
        releaseAligned(scratch.sums[0]);
        releaseAligned(scratch.sums[1]);
        releaseAligned(scratch.ordered);
    }
}

} // namespace

ConvolveResult convolveFast(const Impulse& reversed, const EngineIo& io,
                            const FastEngineSetup& setup) {
    const float* reversedImpulse = reversed.samples;
    const uint32_t impulseFrames = reversed.framesHeld;
    const uint32_t impulseChannels = reversed.channels;
    WavReader* input = io.input;
    JobProgress& progress = *io.progress;
    const StopCheck stop = io.stop;
    Engine e{};
    Shape& s = e.shape;
    s.kernels = setup.kernels;
    s.sumTile = setup.singleFma ? setup.kernels->singleFma : setup.kernels->doubleChain;
    s.inputFrames = setup.inputFrames;
    s.leadingFrames = setup.leadingFrames;
    s.outputFrames = setup.outputFrames;
    s.impulseFrames = impulseFrames;
    s.inputChannels = input->channels;
    s.outputChannels = outputChannelsFor(input->channels, impulseChannels);
    s.skipSilence = setup.skipSilence;
    s.lanes = setup.kernels->lanes;
    e.files.input = input;
    e.files.writer = io.output;
    e.files.progress = &progress;
    e.files.stop = stop;
    startProgress(progress, progressCount(s.outputFrames));
    // A stop asked for before the work starts ends it here: the file tasks look only from
    // the second block on, and a job of one block (a short input, or a slow machine) would
    // otherwise run to its end whatever is asked.
    if (stopRequested(stop)) {
        return convolveStopped;
    }
    if (impulseFrames == 0) {
        return writeSilence(e.files, s.outputFrames); // an impulse of zeros
    }
    s.computedFrames = s.inputFrames + impulseFrames;
    // Never more workers than vectors of output frames.
    e.workers = std::min(std::max(setup.threads, 1u), kMostWorkers);
    e.workers = static_cast<unsigned>(
        std::min<uint64_t>(e.workers, (s.computedFrames + s.lanes - 1) / s.lanes));
    BlockPlanInput shape{};
    shape.lanes = s.lanes;
    shape.group = setup.singleFma ? setup.kernels->singleGroup : 1;
    shape.termsPerMs =
        setup.singleFma ? setup.kernels->singleTermsPerMs : setup.kernels->doubleTermsPerMs;
    shape.impulseFrames = impulseFrames;
    shape.passes = s.outputChannels;
    shape.workers = e.workers;
    shape.totalFrames = s.computedFrames;
    shape.laneFrames = setup.laneFrames;
    shape.tileTaps = setup.tileTaps;
    s.plan = planBlocks(shape);

    ConvolveResult result = convolveOutOfMemory;
    if (allocateEngine(e, reversedImpulse, impulseChannels, setup.taps)) {
        result = runBlocks(e);
    }
    releaseEngine(e);
    return result;
}
