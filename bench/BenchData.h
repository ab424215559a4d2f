// Deterministic test material for the benchmarks, written as 16-bit WAV files like any
// recording: a busy signal near full scale with no silence in it, a decaying-noise room
// impulse, and the material real jobs are full of: a "stem" of phrases and exact silences
// (a track exported from an editor) and an impulse converted to 16 bits without dither,
// whose tail is exact zeros.
#pragma once

#include <cstdint>
#include <string>

// Writes `seconds` of stereo (or mono) signal at `rate` to path. 1 on success.
int writeBenchSignal(const std::string& path, double seconds, uint32_t rate, uint32_t channels);
// Writes a decaying-noise impulse of `seconds` at `rate`: 60 dB of decay over its length
// when zeroTail is 0, otherwise a decay below one 16-bit step after 1 - zeroTail of it, so
// that its last zeroTail are exact zeros. 1 on success.
int writeBenchImpulse(const std::string& path, double seconds, uint32_t rate, uint32_t channels,
                      double zeroTail = 0);
// Writes a stem of `seconds`: phrases and runs of exact silence of 0.5 s or more, the
// silence silentShare of the whole (about). 1 on success.
int writeBenchStem(const std::string& path, double seconds, uint32_t rate, uint32_t channels,
                   double silentShare);
