// What both engines (the literal one and the fast one) share: their results, the stop
// check, the impulse reversal, the output-channel rule and the progress arithmetic. The
// public entry (Convolve.h) hands these on to its callers.
#pragma once

#include <cstdint>

enum ConvolveResult {
    convolveCompleted,   // all M + N frames were handed to the writer
    convolveStopped,     // a stop was requested; the frames so far were written
    convolveWriteFailed, // the writer refused a frame; nothing more was produced
    convolveOutOfMemory, // working memory could not be had; nothing was produced
};

// How soon a stop request is honoured: every engine looks at it at least this often while
// it works. The intervals it looks at are set well inside it (kLookIntervalMs), so that a
// CPU slower than expected, or one shared with other programs, still keeps it.
constexpr double kStopBudgetMs = 50.0;
// Work aimed for between two looks at the stop request: a sixth of the budget.
constexpr double kLookIntervalMs = kStopBudgetMs / 6;

// Asked between blocks of output frames, and within long blocks every kLookIntervalMs or
// so of work (kStopBudgetMs at the most). The fast engine asks from its worker threads, but never
// two at once, each ask after the one before has returned, and not again once it said stop. Either
// field may be null (never stop).
struct StopCheck {
    int (*requested)(void* context); // 1 when the job should stop
    void* context;
};

struct JobProgress;
struct WavReader;
struct WavWriter;

// An impulse held in memory, as the engines take it.
struct Impulse {
    float* samples;         // framesHeld frames of `channels` interleaved floats; the engine
                            // reverses them in place
    uint32_t framesHeld;    // frames in samples
    uint32_t framesClaimed; // N, the frames the file claims (0: framesHeld). A file may claim
                            // more than it holds: the frames past framesHeld are silence, the
                            // output is still M + N frames, and the work follows the frames held
    uint32_t channels;      // 1 or 2
};

// Where an engine reads, writes and reports.
struct EngineIo {
    WavReader* input;      // positioned at its first frame
    WavWriter* output;     // outputChannelsFor(input channels, impulse channels) channels
    JobProgress* progress; // total = M + N and done published, active raised once both are set
    StopCheck stop;        // looked at as StopCheck says
};

// True when a stop has been requested.
inline bool stopRequested(const StopCheck& stop) {
    return stop.requested != nullptr && stop.requested(stop.context) != 0;
}

// The output has two channels when the input or the impulse has two, one otherwise.
inline uint32_t outputChannelsFor(uint32_t inputChannels, uint32_t impulseChannels) {
    return inputChannels == 2 || impulseChannels == 2 ? 2 : 1;
}

// Reverses the impulse in place frame by frame, keeping each frame's left/right order.
void reverseImpulse(float* impulse, uint32_t impulseFrames, uint32_t impulseChannels);

// A frame count as the progress record holds it. Jobs never exceed 2^31 - 1 frames (the
// output would pass the WAV format's 4 GiB), but a direct caller might: the count then
// stays at the largest value, which keeps total nonzero and done never decreasing.
inline int32_t progressCount(uint64_t frames) {
    return frames > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(frames);
}

// Reading, converting and writing one frame costs about as much as this many multiply-adds.
// With the shortest impulses that traffic is nearly all the work, so it counts too.
constexpr uint64_t kFrameCostInTerms = 64;

// Terms the literal engine computes per millisecond, about: half a billion a second on a
// 2024 desktop core.
constexpr double kLiteralTermsPerMs = 5e5;

// Output frames the literal engine computes between two looks at the stop request:
// kLookIntervalMs of its work (about 2^22 multiply-adds).
inline uint64_t framesBetweenChecks(uint32_t impulseFrames, uint32_t outputChannels) {
    const uint64_t termsPerFrame =
        static_cast<uint64_t>(impulseFrames) * outputChannels + kFrameCostInTerms;
    const auto terms = static_cast<uint64_t>(kLiteralTermsPerMs * kLookIntervalMs);
    const uint64_t frames = terms / termsPerFrame;
    return frames == 0 ? 1 : frames;
}
