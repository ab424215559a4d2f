// The two numeric rules of the audio boundary, each kept in exactly one place.
#pragma once

#include <cstddef>
#include <cstdint>

// One 16-bit step as a float: 2^-15, so full scale is -1.0 up to just under +1.0.
constexpr float kSampleToFloat = 3.0517578125e-05f;

// Samples per conversion block in both directions; the block lives on the stack.
constexpr size_t kConversionBlock = 1024;

inline float sampleToFloat(int16_t sample) {
    return static_cast<float>(sample) * kSampleToFloat;
}

// Scale to the 16-bit range in double, truncate toward zero (not round), saturate.
// A NaN carries no signal, so it becomes silence instead of an arbitrary value. Written as
// selects rather than branches, so that a loop of them becomes vector code.
inline int16_t floatToSample(float value) {
    double scaled = static_cast<double>(value) * 32768.0;
    scaled = scaled > 32767.0 ? 32767.0 : scaled;
    scaled = scaled < -32768.0 ? -32768.0 : scaled;
    scaled = scaled == scaled ? scaled : 0.0; // NaN
    return static_cast<int16_t>(static_cast<int32_t>(scaled));
}

// True when floatToSample has to clamp the value: truncated toward zero it would lie
// outside the 16-bit range (x >= 1.0 or x <= -32769/32768). A NaN is silence, not clamped.
inline bool saturates(float value) {
    const double scaled = static_cast<double>(value) * 32768.0;
    return scaled >= 32768.0 || scaled <= -32769.0;
}

// Little-endian 16-bit samples to floats, and back; encoding returns how many of the
// samples saturated.
void decodeSamples(const uint8_t* bytes, float* dst, size_t count);
size_t encodeSamples(const float* src, uint8_t* bytes, size_t count);
