// Deterministic test material for the benchmarks: a busy stereo signal near full scale and a
// decaying-noise room impulse, both written as 16-bit WAV files like any recording.
#pragma once

#include <cstdint>
#include <string>

// Writes `seconds` of stereo (or mono) signal at `rate` to path. 1 on success.
int writeBenchSignal(const std::string& path, double seconds, uint32_t rate, uint32_t channels);
// Writes a decaying-noise impulse of `seconds` at `rate`. 1 on success.
int writeBenchImpulse(const std::string& path, double seconds, uint32_t rate, uint32_t channels);
