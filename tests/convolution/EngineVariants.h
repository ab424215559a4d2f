// Every way the fast engine can compute on this machine, for tests that must cover all of
// them: each instruction-set path the CPU has, with single-precision FMA where it applies
// and with the double chain forced.
#pragma once

#include <string>
#include <vector>

#include "convolution/Convolve.h"

struct EngineVariant {
    EnginePath path;       // the instruction set forced
    bool forceDoubleChain; // the exact double chain even where FMA would be exact
    const char* name;      // for failure messages
};

inline std::vector<EngineVariant> enginesOnThisCpu() {
    const EngineVariant all[] = {
        {enginePathPortable, false, "portable"},   {enginePathAvx2, false, "avx2-fma"},
        {enginePathAvx2, true, "avx2-double"},     {enginePathAvx512, false, "avx512-fma"},
        {enginePathAvx512, true, "avx512-double"}, {enginePathNeon, false, "neon-fma"},
        {enginePathNeon, true, "neon-double"},
    };
    std::vector<EngineVariant> out;
    for (const EngineVariant& v : all) {
        if (enginePathAvailable(v.path)) {
            out.push_back(v);
        }
    }
    return out;
}

inline EngineOptions optionsFor(const EngineVariant& variant, unsigned threads,
                                unsigned laneFrames = 0, unsigned tileTaps = 0) {
    EngineOptions options{};
    options.path = variant.path;
    options.threads = threads;
    options.forceDoubleChain = variant.forceDoubleChain;
    options.laneFrames = laneFrames;
    options.tileTaps = tileTaps;
    return options;
}
