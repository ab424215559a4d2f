// Register-only multiply-add loops: the most single-precision multiply-adds per second that
// an instruction set gives on this machine, with no memory traffic at all. The fast engine
// is measured against them.
#pragma once

#include <cstdint>

// Runs `rounds` rounds of independent fused multiply-adds and returns the lane-operations
// done (each lane of each FMA counts once). Null where the build has no such instruction set.
using PeakLoop = uint64_t (*)(uint64_t rounds, float* sink);

PeakLoop peakLoopAvx512();
PeakLoop peakLoopAvx2();
PeakLoop peakLoopNeon();
