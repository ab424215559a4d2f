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

// Scale to the 16-bit range, truncate toward zero (not round), saturate. A NaN carries no
// signal, so it becomes silence instead of an arbitrary value. Scaling by 2^15 is exact in
// float (a value too large to scale becomes an infinity, which clamps the same), so this is
// the same as scaling in double. Written as selects rather than branches, so that a loop of
// them becomes vector code.
inline int16_t floatToSample(float value) {
    float scaled = value * 32768.0f;
    scaled = scaled > 32767.0f ? 32767.0f : scaled;
    scaled = scaled < -32768.0f ? -32768.0f : scaled;
    scaled = scaled == scaled ? scaled : 0.0f; // NaN
    return static_cast<int16_t>(static_cast<int32_t>(scaled));
}

// True when floatToSample has to clamp the value: truncated toward zero it would lie
// outside the 16-bit range (x >= 1.0 or x <= -32769/32768). A NaN is silence, not clamped.
inline bool saturates(float value) {
    const float scaled = value * 32768.0f;
    return (scaled >= 32768.0f) | (scaled <= -32769.0f); // no branch: see floatToSample
}

// Little-endian 16-bit samples to floats, and back. Encoding returns how many of the
// samples saturated and raises `peak` to the largest magnitude among them.
void decodeSamples(const uint8_t* bytes, float* dst, size_t count);
size_t encodeSamples(const float* src, uint8_t* bytes, size_t count, float& peak);
