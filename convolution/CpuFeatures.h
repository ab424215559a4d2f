// What the processor and the operating system let the engine use, asked once at run time.
#pragma once

struct CpuFeatures {
    bool avx2Fma; // AVX2 and FMA instructions, and the OS saves the 256-bit registers
    bool avx512;  // AVX-512F as well, and the OS saves the 512-bit and mask registers
};

// Reads cpuid and, when the OS has enabled XSAVE, the XCR0 register. On a processor that is
// not x86-64 everything is false and only the portable path runs.
CpuFeatures detectCpuFeatures();
