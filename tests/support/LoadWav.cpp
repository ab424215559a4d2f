#include "tests/support/LoadWav.h"

#include <cstdlib>

float* loadAll(WavReader* reader) {
    float* buffer = WavReader::allocateFrames(reader, reader != nullptr ? reader->frames : 0);
    if (buffer == nullptr) {
        return nullptr;
    }
    const uint64_t samples = static_cast<uint64_t>(reader->frames) * reader->channels;
    if (!WavReader::readSamples(reader, buffer, 0, samples)) {
        free(buffer);
        return nullptr;
    }
    return buffer;
}
