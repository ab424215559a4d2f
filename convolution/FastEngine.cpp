// The fast engine's driver: streaming, blocks, threads, progress and the output. The sums
// themselves are the kernels' (SumKernels.h); this file decides which frames and taps they
// see.
//
// Output frame f is sum over i of hr[i] * u[f + i], i = 0 ... N - 1 ascending, where hr is
// the reversed impulse and u the input preceded by N silent frames (u[t] = x[t - N]), so
// the window of a block starting at frame m0 is u[m0 ... m0 + B + N). The window lives in
// one buffer per input channel and slides forward by a block at a time; it is moved back to
// the buffer's start only when it reaches the end, so each block costs O(B) to slide.
//
// The files are read and written by the calling thread while the block is being computed:
// during block b it hands block b - 1 to the writer and reads block b + 1's input frames in
// after the window, then takes pieces of block b like any worker. So the other workers never
// wait for the files, and the output goes through two block buffers in turn.
#include "convolution/FastEngine.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "convolution/EngineSupport.h"
#include "convolution/WorkerPool.h"

namespace {

constexpr uint32_t kDefaultTileTaps = 2048;   // 2048 rows of 64 bytes stay in a core's L2
constexpr uint32_t kLargestLaneFrames = 2048; // bounds the sums and rows per worker
// Bounds the block, and with it the input, output and window buffers, when the impulse is
// short and every block is quick anyway (2^17 stereo frames: 1 MiB per buffer).
constexpr uint64_t kLargestBlockFrames = uint64_t{1} << 17;
constexpr double kBlockMilliseconds = 4.0; // aimed work per block: progress every few ms
// Pieces of a block per worker. Workers take pieces as they become free, so a worker whose
// core is busy with another program does fewer of them instead of holding up the block.
constexpr unsigned kPiecesPerWorker = 2;
constexpr unsigned kMostWorkers = 64;
constexpr size_t kAlignment = 64; // the widest vector

// A zeroed float buffer aligned to the widest vector, taken from malloc.
struct FloatBuffer {
    void* allocation; // what malloc returned; null when nothing is held
    float* data;      // the aligned start inside it
};

bool allocateFloats(FloatBuffer& buffer, uint64_t count) {
    if (count > (SIZE_MAX - kAlignment) / sizeof(float)) {
        return false;
    }
    const size_t bytes = static_cast<size_t>(count) * sizeof(float);
    buffer.allocation = malloc(bytes + kAlignment);
    if (buffer.allocation == nullptr) {
        return false;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.allocation);
    buffer.data = reinterpret_cast<float*>((address + kAlignment - 1) & ~uintptr_t{kAlignment - 1});
    // Touching every page now, once, keeps page faults out of the timed loop.
    memset(buffer.data, 0, bytes);
    return true;
}

void releaseFloats(FloatBuffer& buffer) {
    free(buffer.allocation);
    buffer = FloatBuffer{};
}

// One output channel: which window its sums run over and which taps they take.
struct ChannelPass {
    uint32_t inputChannel;  // window index: 0, or 1 for the right input channel
    const float* taps;      // one reversed impulse channel, impulseFrames contiguous floats
    uint32_t outputChannel; // its place in an output frame
};

struct WorkerScratch {
    FloatBuffer rows;    // transposed tile: laneFrames + tileTaps - 1 rows of `lanes` floats
    FloatBuffer sums[2]; // running sums per pass: laneFrames rows of `lanes` floats
};

struct Engine {
    const SumKernels* kernels;       // the instruction set's kernels
    SumTile tile;                    // the single-precision or the double kernel
    uint64_t inputFrames;            // M
    uint32_t impulseFrames;          // N
    uint32_t inputChannels;          // 1 or 2 windows
    uint32_t outputChannels;         // floats per output frame
    ChannelPass passes[2];           // one per output channel
    uint32_t passCount;              // = outputChannels
    bool skipSilence;                // restrict taps to those that meet real input frames
    uint32_t lanes;                  // frames per vector
    uint32_t laneFrames;             // S: frames per lane in one piece
    uint32_t tileTaps;               // K: taps per transposed tile
    unsigned workers;                // threads computing, the caller included
    unsigned pieces;                 // pieces of lanes x S frames in a block
    std::atomic<unsigned> nextPiece; // the next piece of the block nobody has taken yet
    uint64_t blockFrames;            // B = pieces x lanes x S
    FloatBuffer window[2];           // per input channel: the sliding window of u
    uint64_t windowCapacity;         // floats per window buffer: N + 2B + max(N, B)
    uint64_t windowStart;            // where u[blockStart] is in the window buffers
    uint64_t blockStart;             // m0: the block's first output frame
    FloatBuffer splitTaps[2];        // a stereo impulse's channels, each made contiguous
    FloatBuffer inputBlock;          // B frames as read, interleaved
    FloatBuffer outputBlocks[2];     // B output frames each, interleaved: block b uses b % 2
    float* output;                   // where the current block's frames go
    // The caller's file work during the current block (worker 0 does it before its pieces).
    WavReader* input;       // read ahead from here
    WavWriter* writer;      // the previous block goes here
    JobProgress* progress;  // done is stored before frames go to the writer
    const float* writeFrom; // the previous block's frames; null when there are none
    uint32_t writeCount;    // how many of them belong to the output
    bool readAhead;         // whether another block follows, to read its input now
    bool writeFailed;       // the writer refused frames: nothing more is produced
    uint64_t framesRead;    // input frames read so far
    uint64_t framesWritten; // output frames handed to the writer so far
    WorkerScratch scratch[kMostWorkers];
};

// One piece of the current block: lanes x S consecutive output frames, computed with the
// worker's own scratch buffers.
void computePiece(Engine& e, unsigned piece, WorkerScratch& scratch) {
    const uint64_t pieceFrames = static_cast<uint64_t>(e.lanes) * e.laneFrames;
    const uint64_t pieceOffset = piece * pieceFrames; // from the block's start
    const int64_t first = static_cast<int64_t>(e.blockStart + pieceOffset);
    const int64_t n = e.impulseFrames;
    int64_t lo = 0;
    int64_t hi = n;
    if (e.skipSilence) {
        // Frame f with tap i reads u[f + i], a real input frame only for N <= f + i < N + M.
        // The piece's frames are first ... first + pieceFrames - 1; a tap outside [lo, hi)
        // meets silence in every lane and only adds exact zeros.
        const int64_t last = first + static_cast<int64_t>(pieceFrames) - 1;
        lo = std::max<int64_t>(0, n - last);
        hi = std::min<int64_t>(
            n, std::max<int64_t>(0, n + static_cast<int64_t>(e.inputFrames) - first));
    }
    const size_t sumFloats = static_cast<size_t>(e.laneFrames) * e.lanes;
    for (uint32_t p = 0; p < e.passCount; ++p) {
        memset(scratch.sums[p].data, 0, sumFloats * sizeof(float));
    }
    for (int64_t i0 = lo; i0 < hi; i0 += e.tileTaps) {
        const uint32_t taps = static_cast<uint32_t>(std::min<int64_t>(e.tileTaps, hi - i0));
        for (uint32_t c = 0; c < e.inputChannels; ++c) {
            const float* at = e.window[c].data + e.windowStart + pieceOffset + i0;
            e.kernels->transpose(at, e.laneFrames, e.laneFrames + taps - 1, scratch.rows.data);
            for (uint32_t p = 0; p < e.passCount; ++p) {
                if (e.passes[p].inputChannel == c) {
                    e.tile(scratch.rows.data, e.passes[p].taps + i0, taps, scratch.sums[p].data,
                           e.laneFrames);
                }
            }
        }
    }
    // Lane l, sum j is frame pieceOffset + l * S + j of the block.
    float* out = e.output + pieceOffset * e.outputChannels;
    for (uint32_t p = 0; p < e.passCount; ++p) {
        const float* sums = scratch.sums[p].data;
        const uint32_t channel = e.passes[p].outputChannel;
        for (uint32_t l = 0; l < e.lanes; ++l) {
            for (uint32_t j = 0; j < e.laneFrames; ++j) {
                const size_t frame = static_cast<size_t>(l) * e.laneFrames + j;
                out[frame * e.outputChannels + channel] =
                    sums[static_cast<size_t>(j) * e.lanes + l];
            }
        }
    }
}

void fileWork(Engine& e);

void workerTask(void* context, unsigned worker) {
    auto& e = *static_cast<Engine*>(context);
    if (worker == 0) {
        fileWork(e);
    }
    for (;;) {
        const unsigned piece = e.nextPiece.fetch_add(1, std::memory_order_relaxed);
        if (piece >= e.pieces) {
            return;
        }
        computePiece(e, piece, e.scratch[worker]);
    }
}

void releaseEngine(Engine& e) {
    for (FloatBuffer& b : e.window) {
        releaseFloats(b);
    }
    for (FloatBuffer& b : e.splitTaps) {
        releaseFloats(b);
    }
    releaseFloats(e.inputBlock);
    releaseFloats(e.outputBlocks[0]);
    releaseFloats(e.outputBlocks[1]);
    for (WorkerScratch& s : e.scratch) {
        releaseFloats(s.rows);
        releaseFloats(s.sums[0]);
        releaseFloats(s.sums[1]);
    }
}

// Frames per lane in a piece: enough work per piece to make the transposition and the
// hand-over between threads cheap, little enough that a block takes a few milliseconds, so
// progress moves and a stop is seen promptly. Never more than the job needs.
uint32_t chooseLaneFrames(const Engine& e, const FastEngineSetup& setup, uint64_t totalFrames) {
    if (setup.laneFrames != 0) {
        return setup.laneFrames;
    }
    const double rate = setup.singleFma ? e.kernels->singleTermsPerMs : e.kernels->doubleTermsPerMs;
    const double termsPerRow = static_cast<double>(e.lanes) * e.impulseFrames * e.passCount;
    const double pieceMilliseconds = kBlockMilliseconds * e.workers / e.pieces;
    const double wanted = rate * pieceMilliseconds / termsPerRow;
    uint64_t frames = wanted < 1.0 ? 1 : static_cast<uint64_t>(wanted);
    const uint64_t perLane = static_cast<uint64_t>(e.pieces) * e.lanes;
    frames = std::min<uint64_t>(frames, kLargestLaneFrames);
    frames = std::min<uint64_t>(frames, std::max<uint64_t>(1, kLargestBlockFrames / perLane));
    const uint64_t group = setup.singleFma ? e.kernels->singleGroup : 1;
    if (frames > group) {
        frames -= frames % group; // whole register blocks only
    }
    frames = std::min<uint64_t>(frames, (totalFrames + perLane - 1) / perLane);
    return static_cast<uint32_t>(std::max<uint64_t>(frames, 1));
}

bool allocateEngine(Engine& e) {
    for (uint32_t c = 0; c < e.inputChannels; ++c) {
        if (!allocateFloats(e.window[c], e.windowCapacity)) {
            return false;
        }
    }
    if (!allocateFloats(e.inputBlock, e.blockFrames * e.inputChannels) ||
        !allocateFloats(e.outputBlocks[0], e.blockFrames * e.outputChannels) ||
        !allocateFloats(e.outputBlocks[1], e.blockFrames * e.outputChannels)) {
        return false;
    }
    const uint64_t rows = static_cast<uint64_t>(e.laneFrames) + e.tileTaps - 1;
    for (unsigned w = 0; w < e.workers; ++w) {
        WorkerScratch& s = e.scratch[w];
        if (!allocateFloats(s.rows, rows * e.lanes)) {
            return false;
        }
        for (uint32_t p = 0; p < e.passCount; ++p) {
            if (!allocateFloats(s.sums[p], static_cast<uint64_t>(e.laneFrames) * e.lanes)) {
                return false;
            }
        }
    }
    return true;
}

// Reads the input frames of the block after the current one: they are u[m0 + N + B ...
// m0 + N + 2B), input frames m0 + B ... m0 + 2B - 1 (the block at m0 = 0 reads its own at
// the start, see runBlocks). Past the input's end, or where it cannot be read, silence.
void readBlock(Engine& e, uint64_t windowOffset) {
    const uint64_t left = e.inputFrames - e.framesRead;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(left, e.blockFrames));
    if (want > 0) {
        WavReader::readNextFrames(e.input, e.inputBlock.data, want);
        e.framesRead += want;
    }
    for (uint32_t c = 0; c < e.inputChannels; ++c) {
        float* to = e.window[c].data + e.windowStart + windowOffset;
        for (uint32_t k = 0; k < want; ++k) {
            to[k] = e.inputBlock.data[static_cast<size_t>(k) * e.inputChannels + c];
        }
        std::fill(to + want, to + e.blockFrames, 0.0f);
    }
}

// Hands finished frames to the writer, counting them first. false once the writer refuses.
bool writeBlock(Engine& e, const float* frames, uint32_t count) {
    e.progress->done.store(progressCount(e.framesWritten + count), std::memory_order_relaxed);
    if (!WavWriter::writeFrames(e.writer, frames, count)) {
        return false;
    }
    e.framesWritten += count;
    return true;
}

// The caller's share of the files during a block: the previous block out, the next in.
void fileWork(Engine& e) {
    if (e.writeFrom != nullptr && !writeBlock(e, e.writeFrom, e.writeCount)) {
        e.writeFailed = true;
    }
    if (e.readAhead && !e.writeFailed) {
        readBlock(e, static_cast<uint64_t>(e.impulseFrames) + e.blockFrames);
    }
}

// Moves on to the next block: the windows slide by one block, back to the buffers' start
// when the next block and the one read ahead after it would overrun.
void slideWindow(Engine& e) {
    e.blockStart += e.blockFrames;
    e.windowStart += e.blockFrames;
    const uint64_t held = static_cast<uint64_t>(e.impulseFrames) + e.blockFrames;
    if (e.windowStart + held + e.blockFrames > e.windowCapacity) {
        for (uint32_t c = 0; c < e.inputChannels; ++c) {
            memmove(e.window[c].data, e.window[c].data + e.windowStart,
                    static_cast<size_t>(held) * sizeof(float));
        }
        e.windowStart = 0;
    }
}

ConvolveResult runBlocks(Engine& e, WorkerPool* pool, StopCheck stop) {
    const uint64_t totalFrames = e.inputFrames + e.impulseFrames;
    startProgress(*e.progress, progressCount(totalFrames));
    readBlock(e, e.impulseFrames); // the first block's own input frames
    uint64_t computed = 0;         // output frames computed, in whole blocks
    uint32_t count = 0;            // frames of the last computed block that belong to the output
    for (uint64_t block = 0;; ++block) {
        e.writeFrom = block == 0 ? nullptr : e.output;
        e.writeCount = count;
        e.output = e.outputBlocks[block % 2].data;
        count = static_cast<uint32_t>(std::min<uint64_t>(e.blockFrames, totalFrames - computed));
        e.readAhead = computed + count < totalFrames;
        e.nextPiece.store(0, std::memory_order_relaxed); // published by the pool's release
        runOnAllWorkers(pool);
        if (e.writeFailed) {
            return convolveWriteFailed;
        }
        computed += count;
        if (computed == totalFrames) {
            break;
        }
        slideWindow(e);
        if (stopRequested(stop)) {
            break; // the frames computed so far still go to the file
        }
    }
    if (!writeBlock(e, e.output, count)) {
        return convolveWriteFailed;
    }
    return computed == totalFrames ? convolveCompleted : convolveStopped;
}

} // namespace

ConvolveResult convolveFast(WavReader* input, const float* reversedImpulse, uint32_t impulseFrames,
                            uint32_t impulseChannels, WavWriter* output, JobProgress& progress,
                            StopCheck stop, const FastEngineSetup& setup) {
    Engine e{};
    e.kernels = setup.kernels;
    e.tile = setup.singleFma ? setup.kernels->singleFma : setup.kernels->doubleChain;
    e.inputFrames = input->frames;
    e.impulseFrames = impulseFrames;
    e.inputChannels = input->channels;
    e.outputChannels = e.inputChannels == 2 || impulseChannels == 2 ? 2 : 1;
    e.passCount = e.outputChannels;
    e.skipSilence = setup.skipSilence;
    e.lanes = setup.kernels->lanes;
    e.input = input;
    e.writer = output;
    e.progress = &progress;
    const uint64_t totalFrames = e.inputFrames + impulseFrames;

    unsigned threads = std::min(std::max(setup.threads, 1u), kMostWorkers);
    threads =
        static_cast<unsigned>(std::min<uint64_t>(threads, (totalFrames + e.lanes - 1) / e.lanes));
    WorkerPool* pool = startWorkerPool(threads, workerTask, &e);
    if (pool == nullptr) {
        return convolveOutOfMemory;
    }
    e.workers = workerCount(pool);
    e.pieces = e.workers == 1 ? 1 : e.workers * kPiecesPerWorker;
    e.laneFrames = chooseLaneFrames(e, setup, totalFrames);
    uint32_t tileTaps = setup.tileTaps;
    if (tileTaps == 0) {
        // A whole number of the kernel's unrolled steps, so no tile ends in a short loop.
        const uint32_t group = setup.singleFma ? setup.kernels->singleGroup : 1;
        tileTaps = kDefaultTileTaps - kDefaultTileTaps % group;
    }
    e.tileTaps = std::min(tileTaps, impulseFrames);
    e.blockFrames = static_cast<uint64_t>(e.pieces) * e.lanes * e.laneFrames;
    // The window, the block read ahead, and room to slide before moving back.
    e.windowCapacity =
        impulseFrames + 2 * e.blockFrames + std::max<uint64_t>(impulseFrames, e.blockFrames);

    bool ready = allocateEngine(e);
    if (ready && impulseChannels == 2) {
        // Each kernel walks one impulse channel with unit stride.
        ready = allocateFloats(e.splitTaps[0], impulseFrames) &&
                allocateFloats(e.splitTaps[1], impulseFrames);
        if (ready) {
            for (uint32_t i = 0; i < impulseFrames; ++i) {
                e.splitTaps[0].data[i] = reversedImpulse[2 * static_cast<size_t>(i)];
                e.splitTaps[1].data[i] = reversedImpulse[2 * static_cast<size_t>(i) + 1];
            }
        }
    }
    ConvolveResult result = convolveOutOfMemory;
    if (ready) {
        const float* left = impulseChannels == 2 ? e.splitTaps[0].data : reversedImpulse;
        const float* right = impulseChannels == 2 ? e.splitTaps[1].data : reversedImpulse;
        e.passes[0] = ChannelPass{0, left, 0};
        // The right output takes the right input channel when there is one, and the right
        // impulse channel when there is one.
        e.passes[1] = ChannelPass{e.inputChannels == 2 ? 1u : 0u, right, 1};
        result = runBlocks(e, pool, stop);
    }
    stopWorkerPool(pool);
    releaseEngine(e);
    return result;
}
