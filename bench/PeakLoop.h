// Register-only multiply-add loops: the most single-precision multiply-adds per second that
// an instruction set gives on this machine, with no memory traffic at all. The fast engine
// is measured against them.
#pragma once

#include <cstdint>

#include "convolution/Convolve.h"

// Runs `rounds` rounds of independent fused multiply-adds and returns the lane-operations
// done (each lane of each FMA counts once). Null where the build is for another processor
// family, as the kernels are (SumKernels.h).
using PeakLoop = uint64_t (*)(uint64_t rounds, float* sink);

#if defined(CONVOLUZIONE_X86_KERNELS)
PeakLoop peakLoopAvx512();
PeakLoop peakLoopAvx2();
#else
inline PeakLoop peakLoopAvx512() {
    return nullptr;
}
inline PeakLoop peakLoopAvx2() {
    return nullptr;
}
#endif
#if defined(CONVOLUZIONE_NEON_KERNELS)
PeakLoop peakLoopNeon();
#else
inline PeakLoop peakLoopNeon() {
    return nullptr;
}
#endif

// The peak loop of an instruction-set path (a row of EnginePaths.h), or null: the portable
// path has none, and the build may lack the others.
PeakLoop peakLoopFor(EnginePath path);
