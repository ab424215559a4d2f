#include "wav/SampleConversion.h"

#include <cmath>
#include <cstring>

#include "wav/LittleEndian.h"

void decodeSamples(const uint8_t* bytes, float* dst, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        dst[i] = sampleToFloat(static_cast<int16_t>(readLe16(bytes + 2 * i)));
    }
}

size_t encodeSamples(const float* src, uint8_t* bytes, size_t count, float& peak) {
    // One pass that the compiler turns into vector code: the peak is kept as the bits of a
    // magnitude, which order as integers do, so its running maximum is an integer select.
    uint32_t saturated = 0;
    int32_t peakBits = 0;
    for (size_t i = 0; i < count; ++i) {
        writeLe16(bytes + 2 * i, static_cast<uint16_t>(floatToSample(src[i])));
        const bool clamped = saturates(src[i]);
        saturated += clamped ? 1 : 0;
        int32_t bits;
        const float magnitude = std::fabs(src[i]);
        std::memcpy(&bits, &magnitude, sizeof bits);
        bits = clamped ? bits : 0;
        peakBits = bits > peakBits ? bits : peakBits;
    }
    float blockPeak;
    std::memcpy(&blockPeak, &peakBits, sizeof blockPeak);
    peak = blockPeak > peak ? blockPeak : peak;
    return saturated;
}
