// Small rules shared by the engine paths.
#pragma once

#include <cstdint>

// A frame count as the progress record holds it. Jobs never exceed 2^31 - 1 frames (the
// output would pass the WAV format's 4 GiB), but a direct caller might: the count then
// stays at the largest value, which keeps total nonzero and done never decreasing.
inline int32_t progressCount(uint64_t frames) {
    return frames > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(frames);
}

// Reading, converting and writing one frame costs about as much as this many multiply-adds.
// With the shortest impulses that traffic is nearly all the work, so it counts too.
constexpr uint64_t kFrameCostInTerms = 64;

// Output frames between two looks at the stop request: about 2^22 multiply-adds, a few
// milliseconds even for the literal engine.
inline uint64_t framesBetweenChecks(uint32_t impulseFrames, uint32_t outputChannels) {
    const uint64_t termsPerFrame =
        static_cast<uint64_t>(impulseFrames) * outputChannels + kFrameCostInTerms;
    const uint64_t frames = (uint64_t{1} << 22) / termsPerFrame;
    return frames == 0 ? 1 : frames;
}
