// The instruction-set paths of the fast engine, one row each: what the engine's choice,
// enginePathAvailable, the tests and the bench all walk. A path added to EnginePath without
// a row here does not build.
#pragma once

#include <cstddef>

#include "convolution/CpuFeatures.h"
#include "convolution/EngineOptions.h"
#include "convolution/SumKernels.h"

struct EnginePathRow {
    EnginePath path;                    // the enum value the row stands for
    const char* name;                   // for people: failure messages, bench output
    bool (*cpuHas)(const CpuFeatures&); // whether this CPU (and its OS) can run it
    const SumKernels* (*kernels)();     // its kernels; null when the build lacks them
};

// In EnginePath's order, from enginePathPortable on: from the plainest to the fastest of
// each processor family.
inline constexpr EnginePathRow kEnginePaths[] = {
    {enginePathPortable, "portable", [](const CpuFeatures&) { return true; }, portableKernels},
    {enginePathAvx2, "avx2", [](const CpuFeatures& cpu) { return cpu.avx2Fma; }, avx2Kernels},
    {enginePathAvx512, "avx512", [](const CpuFeatures& cpu) { return cpu.avx512; }, avx512Kernels},
    {enginePathNeon, "neon", [](const CpuFeatures& cpu) { return cpu.neon; }, neonKernels},
};
inline constexpr size_t kEnginePathCount = sizeof kEnginePaths / sizeof kEnginePaths[0];

constexpr bool rowsFollowTheEnum() {
    for (size_t i = 0; i < kEnginePathCount; ++i) {
        if (kEnginePaths[i].path != static_cast<EnginePath>(enginePathPortable + i)) {
            return false;
        }
    }
    return kEnginePathCount == static_cast<size_t>(enginePathCount - enginePathPortable);
}
static_assert(rowsFollowTheEnum(), "one row per instruction-set path, in EnginePath's order");

// The row of an instruction-set path (not enginePathAuto or enginePathReference).
inline const EnginePathRow& enginePathRow(EnginePath path) {
    return kEnginePaths[path - enginePathPortable];
}
