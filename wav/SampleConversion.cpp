#include "wav/SampleConversion.h"

#include "wav/LittleEndian.h"

void decodeSamples(const uint8_t* bytes, float* dst, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        dst[i] = sampleToFloat(static_cast<int16_t>(readLe16(bytes + 2 * i)));
    }
}

void encodeSamples(const float* src, uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        writeLe16(bytes + 2 * i, static_cast<uint16_t>(floatToSample(src[i])));
    }
}
