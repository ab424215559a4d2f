// What a caller chooses about how the engine works: the arithmetic path, the threads, and
// the sizes the tests force. None of it changes a result.
#pragma once

// Which arithmetic path the engine takes; tests and benchmarks force each one. The
// instruction-set paths, from enginePathPortable on, each have a row in EnginePaths.h; a
// forced one this CPU lacks falls back to the nearest row before it that the CPU has.
enum EnginePath {
    enginePathAuto,      // the fastest this CPU has
    enginePathReference, // the literal definition, frame by frame
    enginePathPortable,  // plain C++, the double chain; runs on any CPU
    enginePathAvx2,      // AVX2 with FMA, 8 output frames per vector
    enginePathAvx512,    // AVX-512F, 16 output frames per vector
    enginePathNeon,      // 64-bit ARM's Advanced SIMD, 4 output frames per vector
    enginePathCount,     // not a path: one past the last
};

struct EngineOptions {
    EnginePath path;       // which path computes the sums
    unsigned threads;      // worker threads to use; 0 = one per core
    bool forceDoubleChain; // take the double chain even where single-precision FMA is exact
    unsigned laneFrames;   // output frames per vector lane in one piece of a block (a piece is
                           // what one thread computes at a time); 0 = chosen from the impulse
                           // length (tests set it small)
    unsigned tileTaps;     // taps swept per pass over one transposed tile; 0 = default
};
