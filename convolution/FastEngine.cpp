// The fast engine's driver: streaming, blocks, threads, progress and the output. The sums
// themselves are the kernels' (SumKernels.h) and the sizes the block plan's (BlockPlan.h);
// this file decides which frames and taps the kernels see.
//
// Output frame f is sum over i of hr[i] * u[f + i], i = 0 ... N - 1 ascending, where hr is
// the reversed impulse and u the input preceded by N silent frames (u[t] = x[t - N]), so
// the window of a block starting at frame m0 is u[m0 ... m0 + B + N). The window lives in
// one buffer per input channel and slides forward by a block at a time; it is moved back to
// the buffer's start only when it reaches the end, so each block costs O(B) to slide.
//
// The files are read and written while the block is being computed: during block b one
// worker hands block b - 1 to the writer and one reads block b + 1's input frames, each as
// soon as it has no piece of block b left to take. So no worker waits for the files, and the
// output goes through two block buffers in turn. The frames read ahead enter the window
// only once the block is done, so nothing a worker may read changes under it.
#include "convolution/FastEngine.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "convolution/BlockPlan.h"
#include "convolution/WorkerPool.h"

namespace {

constexpr unsigned kMostWorkers = 64;
constexpr unsigned kMostPieces = kPiecesPerWorker * kMostWorkers;
constexpr size_t kAlignment = 64; // the widest vector, and a cache line

// A zeroed buffer aligned to the widest vector, taken from malloc.
struct AlignedBuffer {
    void* allocation; // what malloc returned; null when nothing is held
    void* data;       // the aligned start inside it
};

bool allocateAligned(AlignedBuffer& buffer, uint64_t count, size_t itemBytes) {
    if (count > (SIZE_MAX - kAlignment) / itemBytes) {
        return false;
    }
    const size_t bytes = static_cast<size_t>(count) * itemBytes;
    buffer.allocation = malloc(bytes + kAlignment);
    if (buffer.allocation == nullptr) {
        return false;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.allocation);
    buffer.data = reinterpret_cast<void*>((address + kAlignment - 1) & ~uintptr_t{kAlignment - 1});
    // Touching every page now, once, keeps page faults out of the timed loop.
    memset(buffer.data, 0, bytes);
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
};

// What one worker computes with: its own tile, rows and running sums, on its own cache lines.
struct WorkerScratch {
    AlignedBuffer tile;    // the transposed window of one tile: tileRows x tileStride floats
    AlignedBuffer rows[2]; // the kernels' rows, rowCount x lanes floats: one set being summed,
                           // the other being copied out of the tile for the next step
    AlignedBuffer sums[2]; // running sums per pass: S rows of `lanes` floats
};

// The job's shape and the arithmetic chosen for it; fixed for the whole call.
struct Shape {
    const SumKernels* kernels; // the instruction set's kernels
    SumTile sumTile;           // the single-precision or the double kernel
    uint64_t inputFrames;      // M: the input frames that are not all silence
    uint64_t outputFrames;     // the output's length: M + N, and silence after that
    uint32_t impulseFrames;    // N
    uint32_t inputChannels;    // 1 or 2 windows
    uint32_t outputChannels;   // floats per output frame
    ChannelPass passes[2];     // one per output channel
    bool skipSilence;          // restrict taps to those that meet real input frames
    uint32_t lanes;            // frames per vector
    BlockPlan plan;            // blocks, pieces and tiles
};

// The calling thread's file work during a block (worker 0 does it before its pieces).
struct BlockFiles {
    WavReader* input;       // read ahead from here
    WavWriter* writer;      // the previous block goes here
    JobProgress* progress;  // done is stored before frames go to the writer
    AlignedBuffer read;     // the next block's input frames as read, interleaved
    uint32_t readCount;     // how many of them came from the input this block
    const float* writeFrom; // the previous block's frames; null when there are none
    uint32_t writeCount;    // how many of them belong to the output
    bool readAhead;         // whether another block follows, to read its input now
    bool writeFailed;       // the writer refused frames: nothing more is produced
    uint64_t framesRead;    // input frames read so far
    uint64_t framesWritten; // output frames handed to the writer so far
};

struct Engine {
    Shape shape;                      // fixed for the call
    unsigned workers;                 // threads computing, the caller included
    AlignedBuffer rowFrom;            // plan.rowCount offsets: where each row is in a tile
    AlignedBuffer splitTaps[2];       // a stereo impulse's channels, each made contiguous
    AlignedBuffer window[2];          // per input channel: the sliding window of u
    uint64_t windowStart;             // where u[blockStart] is in the window buffers
    uint64_t blockStart;              // m0: the block's first output frame
    AlignedBuffer outputBlocks[2];    // B output frames each, interleaved: block b uses b % 2
    float* output;                    // where the current block's frames go
    std::atomic<unsigned> nextTask;   // how many of the block's tasks have been taken
    unsigned pieceOrder[kMostPieces]; // the block's pieces, most taps first
    BlockFiles files;                 // the caller's share of each block
    WorkerScratch scratch[kMostWorkers];
};

// The taps a piece of the current block computes: [lo, hi).
void tapRange(const Engine& e, unsigned piece, int64_t& lo, int64_t& hi) {
    const Shape& s = e.shape;
    const uint64_t pieceFrames = static_cast<uint64_t>(s.lanes) * s.plan.laneFrames;
    const int64_t first = static_cast<int64_t>(e.blockStart + piece * pieceFrames);
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

// Orders the block's pieces by the taps they compute, most first. Near the input's start
// and end pieces differ; taken in this order, the last ones to finish are the short ones,
// so no worker waits long for another at the end of the block.
void orderPieces(Engine& e) {
    const unsigned pieces = e.shape.plan.pieces;
    int64_t work[kMostPieces];
    for (unsigned p = 0; p < pieces; ++p) {
        int64_t lo = 0;
        int64_t hi = 0;
        tapRange(e, p, lo, hi);
        work[p] = std::max<int64_t>(0, hi - lo);
        unsigned at = p; // insertion: stable, so equal pieces keep their order
        while (at > 0 && work[e.pieceOrder[at - 1]] < work[p]) {
            e.pieceOrder[at] = e.pieceOrder[at - 1];
            --at;
        }
        e.pieceOrder[at] = p;
    }
}

// A step of a piece: one tile of taps on one input channel.
struct PieceStep {
    int64_t firstTap; // i0: the tile's first tap
    uint32_t taps;    // taps in the tile
    uint32_t channel; // input channel
};

// Transposes a step's window into the worker's tile and returns the copy of its rows.
RowCopy prepareStep(const Engine& e, uint64_t pieceOffset, const PieceStep& step,
                    const WorkerScratch& scratch, float* rows) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    const float* window = floats(e.window[step.channel]) + e.windowStart + pieceOffset;
    s.kernels->transpose(window + step.firstTap, plan.laneFrames, plan.tileRows,
                         tileColumns(s.lanes, plan.laneFrames, step.taps), floats(scratch.tile),
                         plan.tileStride);
    return RowCopy{floats(scratch.tile), static_cast<const uint32_t*>(e.rowFrom.data), rows, 0,
                   plan.laneFrames + step.taps - 1};
}

// One piece of the current block: lanes x S consecutive output frames, computed with the
// worker's own scratch buffers. Its steps are the tiles of taps, each on every input channel;
// the rows of each step are copied out while the kernels sum the step before.
void computePiece(Engine& e, unsigned piece, WorkerScratch& scratch) {
    const Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    const uint64_t pieceFrames = static_cast<uint64_t>(s.lanes) * plan.laneFrames;
    const uint64_t pieceOffset = piece * pieceFrames; // from the block's start
    int64_t lo = 0;
    int64_t hi = 0;
    tapRange(e, piece, lo, hi);
    const size_t sumFloats = static_cast<size_t>(plan.laneFrames) * s.lanes;
    for (uint32_t p = 0; p < s.outputChannels; ++p) {
        memset(scratch.sums[p].data, 0, sumFloats * sizeof(float));
    }
    const int64_t tiles = hi > lo ? (hi - lo + plan.tileTaps - 1) / plan.tileTaps : 0;
    const int64_t steps = tiles * s.inputChannels;
    const auto stepAt = [&](int64_t k) {
        const int64_t i0 = lo + k / s.inputChannels * plan.tileTaps;
        return PieceStep{i0, static_cast<uint32_t>(std::min<int64_t>(plan.tileTaps, hi - i0)),
                         static_cast<uint32_t>(k % s.inputChannels)};
    };
    if (steps > 0) {
        RowCopy first = prepareStep(e, pieceOffset, stepAt(0), scratch, floats(scratch.rows[0]));
        s.kernels->copyRows(first);
    }
    for (int64_t k = 0; k < steps; ++k) {
        const PieceStep step = stepAt(k);
        const float* rows = floats(scratch.rows[k % 2]);
        RowCopy next{};
        if (k + 1 < steps) {
            next = prepareStep(e, pieceOffset, stepAt(k + 1), scratch,
                               floats(scratch.rows[(k + 1) % 2]));
        }
        for (uint32_t p = 0; p < s.outputChannels; ++p) {
            if (s.passes[p].inputChannel == step.channel) {
                s.sumTile(rows, s.passes[p].taps + step.firstTap, step.taps,
                          floats(scratch.sums[p]), plan.laneFrames, next);
            }
        }
        s.kernels->copyRows(next); // what the kernels left
    }
    // Lane l, sum j is frame pieceOffset + l * S + j of the block.
    float* out = e.output + pieceOffset * s.outputChannels;
    for (uint32_t p = 0; p < s.outputChannels; ++p) {
        const float* sums = floats(scratch.sums[p]);
        const uint32_t channel = s.passes[p].outputChannel;
        for (uint32_t l = 0; l < s.lanes; ++l) {
            for (uint32_t j = 0; j < plan.laneFrames; ++j) {
                const size_t frame = static_cast<size_t>(l) * plan.laneFrames + j;
                out[frame * s.outputChannels + channel] =
                    sums[static_cast<size_t>(j) * s.lanes + l];
            }
        }
    }
}

// Reads the next block's input frames: input frames framesRead ... + B - 1, or fewer where
// the input ends. What cannot be read comes back as silence.
void readAhead(BlockFiles& f, const Shape& s) {
    const uint64_t left = s.inputFrames - f.framesRead;
    f.readCount = static_cast<uint32_t>(std::min<uint64_t>(left, s.plan.blockFrames));
    if (f.readCount > 0) {
        WavReader::readNextFrames(f.input, floats(f.read), f.readCount);
        f.framesRead += f.readCount;
    }
}

// Puts the frames last read into the window at windowOffset from the block's start, one
// channel per buffer, and silence after them up to a whole block.
void placeReadFrames(Engine& e, uint64_t windowOffset) {
    const Shape& s = e.shape;
    const float* from = floats(e.files.read);
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        float* to = floats(e.window[c]) + e.windowStart + windowOffset;
        for (uint32_t k = 0; k < e.files.readCount; ++k) {
            to[k] = from[static_cast<size_t>(k) * s.inputChannels + c];
        }
        std::fill(to + e.files.readCount, to + s.plan.blockFrames, 0.0f);
    }
    e.files.readCount = 0;
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

// A worker's share of a block: the block's pieces, largest first, then the file work (the
// previous block out, the next block's input in), taken like pieces by whichever workers
// run out of pieces first, so the files fill the time that would otherwise be spent waiting
// at the end of the block for the slowest piece.
void workerTask(void* context, unsigned worker) {
    auto& e = *static_cast<Engine*>(context);
    BlockFiles& f = e.files;
    const unsigned pieces = e.shape.plan.pieces;
    for (;;) {
        const unsigned task = e.nextTask.fetch_add(1, std::memory_order_relaxed);
        if (task < pieces) {
            computePiece(e, e.pieceOrder[task], e.scratch[worker]);
        } else if (task == pieces) {
            if (f.writeFrom != nullptr && !writeBlock(f, f.writeFrom, f.writeCount)) {
                f.writeFailed = true;
            }
        } else if (task == pieces + 1) {
            if (f.readAhead) {
                readAhead(f, e.shape);
            }
        } else {
            return;
        }
    }
}

// Moves on to the next block: the windows slide by one block, back to the buffers' start
// when the next block, the one read ahead after it and the margin would overrun.
void slideWindow(Engine& e) {
    const BlockPlan& plan = e.shape.plan;
    e.blockStart += plan.blockFrames;
    e.windowStart += plan.blockFrames;
    const uint64_t held = static_cast<uint64_t>(e.shape.impulseFrames) + plan.blockFrames;
    if (e.windowStart + held + plan.blockFrames + plan.windowMargin > plan.windowCapacity) {
        for (uint32_t c = 0; c < e.shape.inputChannels; ++c) {
            float* window = floats(e.window[c]);
            memmove(window, window + e.windowStart, static_cast<size_t>(held) * sizeof(float));
        }
        e.windowStart = 0;
    }
}

// The output's frames after the last one any input frame reaches: silence, written a block
// at a time from an output buffer (all blocks are written by now), looking at the stop
// request between blocks.
ConvolveResult writeSilence(Engine& e, StopCheck stop) {
    BlockFiles& f = e.files;
    const uint64_t blockFrames = e.shape.plan.blockFrames;
    AlignedBuffer& spare = e.outputBlocks[0];
    memset(spare.data, 0,
           static_cast<size_t>(blockFrames) * e.shape.outputChannels * sizeof(float));
    while (f.framesWritten < e.shape.outputFrames) {
        if (stopRequested(stop)) {
            return convolveStopped;
        }
        const uint64_t count = std::min(blockFrames, e.shape.outputFrames - f.framesWritten);
        if (!writeBlock(f, floats(spare), static_cast<uint32_t>(count))) {
            return convolveWriteFailed;
        }
    }
    return convolveCompleted;
}

ConvolveResult runBlocks(Engine& e, WorkerPool* pool, StopCheck stop) {
    const BlockPlan& plan = e.shape.plan;
    BlockFiles& f = e.files;
    const uint64_t n = e.shape.impulseFrames;
    const uint64_t totalFrames = e.shape.inputFrames + n; // the frames worth computing
    startProgress(*f.progress, progressCount(e.shape.outputFrames));
    readAhead(f, e.shape); // the first block's own input frames
    placeReadFrames(e, n);
    uint64_t computed = 0; // output frames computed, in whole blocks
    uint32_t count = 0;    // frames of the last computed block that belong to the output
    for (uint64_t block = 0;; ++block) {
        f.writeFrom = block == 0 ? nullptr : e.output;
        f.writeCount = count;
        e.output = floats(e.outputBlocks[block % 2]);
        count = static_cast<uint32_t>(std::min<uint64_t>(plan.blockFrames, totalFrames - computed));
        f.readAhead = computed + count < totalFrames;
        orderPieces(e);
        e.nextTask.store(0, std::memory_order_relaxed); // published by the pool's release
        runOnAllWorkers(pool);
        if (f.writeFailed) {
            return convolveWriteFailed;
        }
        computed += count;
        if (computed == totalFrames) {
            break;
        }
        placeReadFrames(e, n + plan.blockFrames);
        slideWindow(e);
        if (stopRequested(stop)) {
            break; // the frames computed so far still go to the file
        }
    }
    if (!writeBlock(f, e.output, count)) {
        return convolveWriteFailed;
    }
    if (computed < totalFrames) {
        return convolveStopped;
    }
    return writeSilence(e, stop);
}

bool allocateEngine(Engine& e, const float* reversedImpulse, uint32_t impulseChannels) {
    Shape& s = e.shape;
    const BlockPlan& plan = s.plan;
    for (uint32_t c = 0; c < s.inputChannels; ++c) {
        if (!allocateAligned(e.window[c], plan.windowCapacity, sizeof(float))) {
            return false;
        }
    }
    if (!allocateAligned(e.files.read, plan.blockFrames * s.inputChannels, sizeof(float)) ||
        !allocateAligned(e.outputBlocks[0], plan.blockFrames * s.outputChannels, sizeof(float)) ||
        !allocateAligned(e.outputBlocks[1], plan.blockFrames * s.outputChannels, sizeof(float)) ||
        !allocateAligned(e.rowFrom, plan.rowCount, sizeof(uint32_t))) {
        return false;
    }
    auto* rowFrom = static_cast<uint32_t*>(e.rowFrom.data);
    for (uint32_t r = 0; r < plan.rowCount; ++r) {
        // Row r is tile row r mod S from column r div S on.
        rowFrom[r] = (r % plan.laneFrames) * plan.tileStride + r / plan.laneFrames;
    }
    const uint64_t tileFloats = static_cast<uint64_t>(plan.tileRows) * plan.tileStride;
    for (unsigned w = 0; w < e.workers; ++w) {
        WorkerScratch& scratch = e.scratch[w];
        if (!allocateAligned(scratch.tile, tileFloats, sizeof(float)) ||
            !allocateAligned(scratch.rows[0], static_cast<uint64_t>(plan.rowCount) * s.lanes,
                             sizeof(float)) ||
            !allocateAligned(scratch.rows[1], static_cast<uint64_t>(plan.rowCount) * s.lanes,
                             sizeof(float))) {
            return false;
        }
        for (uint32_t p = 0; p < s.outputChannels; ++p) {
            if (!allocateAligned(scratch.sums[p], static_cast<uint64_t>(plan.laneFrames) * s.lanes,
                                 sizeof(float))) {
                return false;
            }
        }
    }
    const float* left = reversedImpulse;
    const float* right = reversedImpulse;
    if (impulseChannels == 2) {
        // Each kernel walks one impulse channel with unit stride.
        if (!allocateAligned(e.splitTaps[0], s.impulseFrames, sizeof(float)) ||
            !allocateAligned(e.splitTaps[1], s.impulseFrames, sizeof(float))) {
            return false;
        }
        for (uint32_t i = 0; i < s.impulseFrames; ++i) {
            floats(e.splitTaps[0])[i] = reversedImpulse[2 * static_cast<size_t>(i)];
            floats(e.splitTaps[1])[i] = reversedImpulse[2 * static_cast<size_t>(i) + 1];
        }
        left = floats(e.splitTaps[0]);
        right = floats(e.splitTaps[1]);
    }
    s.passes[0] = ChannelPass{0, left, 0};
    // The right output takes the right input channel when there is one, and the right
    // impulse channel when there is one.
    s.passes[1] = ChannelPass{s.inputChannels == 2 ? 1u : 0u, right, 1};
    return true;
}

void releaseEngine(Engine& e) {
    for (AlignedBuffer& b : e.window) {
        releaseAligned(b);
    }
    for (AlignedBuffer& b : e.splitTaps) {
        releaseAligned(b);
    }
    releaseAligned(e.rowFrom);
    releaseAligned(e.files.read);
    releaseAligned(e.outputBlocks[0]);
    releaseAligned(e.outputBlocks[1]);
    for (WorkerScratch& scratch : e.scratch) {
        releaseAligned(scratch.tile);
        releaseAligned(scratch.rows[0]);
        releaseAligned(scratch.rows[1]);
        releaseAligned(scratch.sums[0]);
        releaseAligned(scratch.sums[1]);
    }
}

} // namespace

ConvolveResult convolveFast(WavReader* input, const float* reversedImpulse, uint32_t impulseFrames,
                            uint32_t impulseChannels, WavWriter* output, JobProgress& progress,
                            StopCheck stop, const FastEngineSetup& setup) {
    Engine e{};
    Shape& s = e.shape;
    s.kernels = setup.kernels;
    s.sumTile = setup.singleFma ? setup.kernels->singleFma : setup.kernels->doubleChain;
    s.inputFrames = setup.inputFrames;
    s.outputFrames = setup.outputFrames;
    s.impulseFrames = impulseFrames;
    s.inputChannels = input->channels;
    s.outputChannels = outputChannelsFor(input->channels, impulseChannels);
    s.skipSilence = setup.skipSilence;
    s.lanes = setup.kernels->lanes;
    e.files.input = input;
    e.files.writer = output;
    e.files.progress = &progress;
    const uint64_t totalFrames = s.inputFrames + impulseFrames;

    unsigned threads = std::min(std::max(setup.threads, 1u), kMostWorkers);
    threads =
        static_cast<unsigned>(std::min<uint64_t>(threads, (totalFrames + s.lanes - 1) / s.lanes));
    WorkerPool* pool = startWorkerPool(threads, workerTask, &e);
    if (pool == nullptr) {
        return convolveOutOfMemory;
    }
    e.workers = workerCount(pool);
    BlockPlanInput shape{};
    shape.lanes = s.lanes;
    shape.group = setup.singleFma ? setup.kernels->singleGroup : 1;
    shape.termsPerMs =
        setup.singleFma ? setup.kernels->singleTermsPerMs : setup.kernels->doubleTermsPerMs;
    shape.impulseFrames = impulseFrames;
    shape.passes = s.outputChannels;
    shape.workers = e.workers;
    shape.totalFrames = totalFrames;
    shape.laneFrames = setup.laneFrames;
    shape.tileTaps = setup.tileTaps;
    s.plan = planBlocks(shape);

    ConvolveResult result = convolveOutOfMemory;
    if (allocateEngine(e, reversedImpulse, impulseChannels)) {
        result = runBlocks(e, pool, stop);
    }
    stopWorkerPool(pool);
    releaseEngine(e);
    return result;
}
