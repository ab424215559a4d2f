#include "wav/SampleConversion.h"

#include "wav/LittleEndian.h"

void decodeSamples(const uint8_t* bytes, float* dst, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        dst[i] = sampleToFloat(static_cast<int16_t>(readLe16(bytes + 2 * i)));
    }
}

size_t encodeSamples(const float* src, uint8_t* bytes, size_t count) {
    size_t saturated = 0;
    for (size_t i = 0; i < count; ++i) {
        writeLe16(bytes + 2 * i, static_cast<uint16_t>(floatToSample(src[i])));
        saturated += saturates(src[i]) ? 1 : 0;
    }
    return saturated;
}
