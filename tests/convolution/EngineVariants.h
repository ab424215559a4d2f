// Every way the fast engine can compute on this machine, for tests that must cover all of
// them: each instruction-set path the CPU has, with single-precision FMA where it applies
// and with the double chain forced.
#pragma once

#include <string>
#include <vector>

#include "convolution/Convolve.h"
#include "convolution/EnginePaths.h"

struct EngineVariant {
    EnginePath path;       // the instruction set forced
    bool forceDoubleChain; // the exact double chain even where FMA would be exact
    std::string name;      // for failure messages
};

// Every row of the path table this CPU has: with single-precision FMA where its kernels
// have it, and with the double chain forced.
inline std::vector<EngineVariant> enginesOnThisCpu() {
    std::vector<EngineVariant> out;
    for (const EnginePathRow& row : kEnginePaths) {
        if (!enginePathAvailable(row.path)) {
            continue;
        }
        if (row.kernels()->singleFma == nullptr) {
            out.push_back(EngineVariant{row.path, false, row.name});
            continue;
        }
        out.push_back(EngineVariant{row.path, false, std::string(row.name) + "-fma"});
        out.push_back(EngineVariant{row.path, true, std::string(row.name) + "-double"});
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
