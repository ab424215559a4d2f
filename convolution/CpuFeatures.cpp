#include "convolution/CpuFeatures.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define CONVOLUZIONE_HAS_CPUID 1
#endif

#ifdef CONVOLUZIONE_HAS_CPUID

namespace {

// XCR0: which register states the operating system saves on a context switch. A CPU can
// have AVX while the OS does not preserve the upper register halves; then AVX code would see
// its registers clobbered, so both must agree before a path is trusted.
unsigned long long readXcr0() {
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
}

} // namespace

CpuFeatures detectCpuFeatures() {
    CpuFeatures features{false, false, false};
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return features;
    }
    const bool osxsave = (ecx >> 27) & 1;
    const bool avx = (ecx >> 28) & 1;
    const bool fma = (ecx >> 12) & 1;
    if (!osxsave || !avx) {
        return features; // without OSXSAVE, xgetbv itself is not allowed
    }
    const unsigned long long xcr0 = readXcr0();
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;   // SSE and AVX state
    const bool zmmSaved = (xcr0 & 0xE0) == 0xE0; // opmask, upper ZMM0-15, ZMM16-31
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        return features;
    }
    const bool avx2 = (ebx >> 5) & 1;
    const bool avx512f = (ebx >> 16) & 1;
    features.avx2Fma = avx2 && fma && ymmSaved;
    features.avx512 = features.avx2Fma && avx512f && zmmSaved;
    return features;
}

#else

CpuFeatures detectCpuFeatures() {
#if defined(__aarch64__)
    return CpuFeatures{false, false, true}; // Advanced SIMD is part of the architecture
#else
    return CpuFeatures{false, false, false};
#endif
}

#endif
