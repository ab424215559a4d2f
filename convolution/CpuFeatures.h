// What the processor and the operating system let the engine use, asked once at run time.
#pragma once

struct CpuFeatures {
    bool avx2Fma; // AVX2 and FMA instructions, and the OS saves the 256-bit registers
    bool avx512;  // AVX-512F as well, and the OS saves the 512-bit and mask registers
    bool neon;    // 64-bit ARM's Advanced SIMD, with double precision (every AArch64 CPU)
};

// Reads cpuid and, when the OS has enabled XSAVE, the XCR0 register. On a processor that is
// not x86-64 the x86 fields are false; neon is true exactly on 64-bit ARM.
CpuFeatures detectCpuFeatures();

// Tells the core that this thread is spinning on a shared value (x86 PAUSE, ARM YIELD), so
// it yields its pipeline to a sibling thread and leaves the loop promptly when the value
// changes. Nothing elsewhere.
inline void relaxWhileSpinning() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    __builtin_ia32_pause();
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
    __asm__ __volatile__("yield");
#endif
}
