// When one single-precision fused multiply-add per term gives exactly the defined sum.
//
// The defined step is s' = float(double(s) + double(h) * double(x)): the product is exact in
// double, the sum is rounded to double, and that double is rounded to float. A fused step
// fmaf(h, x, s) rounds the exact s + h * x to float once. The two agree whenever the double
// sum is exact, because then both round the same exact value once. That holds here:
//
// - Every input sample comes from a 16-bit value: x = a * 2^-15 with |a| <= 32768. When every
//   impulse sample is also b * 2^-15 with |b| <= 32768 (|h| <= 1), each product is an integer
//   multiple of 2^-30 with |h * x| <= 1.
// - Every running sum stays a multiple of 2^-30. Rounding a multiple of 2^-30 to float either
//   keeps it (below 2^-6 in magnitude the value fits in 24 significant bits) or moves it to
//   a float whose last place is 2^-30 or coarser, itself a multiple of 2^-30.
// - After i terms |s| <= i: each term adds at most 1, and rounding to nearest never carries
//   a value past an integer of 24 bits or fewer, since those integers are floats.
// - So s + h * x is k * 2^-30 with |k| <= N * 2^30. For N <= 2^22 that is below 2^53: a
//   double holds it exactly, and the double-then-float rounding collapses into one.
//
// Input samples always qualify (the reader makes them); the impulse normally does too, as
// it is loaded from a 16-bit file, but a direct caller may pass anything, so it is checked.
// When the check fails the engine takes the double chain, which is the definition itself.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest impulse for which every partial sum stays exact in double, as argued above.
constexpr uint32_t kLongestSingleFmaImpulse = uint32_t{1} << 22;

// True when sample is b * 2^-15 with |b| <= 32768. Scaling by 2^15 is exact in double.
inline bool isSixteenBitStep(float sample) {
    const double scaled = static_cast<double>(sample) * 32768.0;
    if (!(scaled >= -32768.0 && scaled <= 32768.0)) {
        return false; // also refuses NaN
    }
    return scaled == static_cast<double>(static_cast<int32_t>(scaled));
}

// True when a fused single-precision step reproduces the double chain for this impulse
// (samples values in all, frames taps per channel) against 16-bit input.
inline bool singleFmaIsExact(const float* impulse, size_t samples, uint32_t frames) {
    if (frames > kLongestSingleFmaImpulse) {
        return false;
    }
    for (size_t i = 0; i < samples; ++i) {
        if (!isSixteenBitStep(impulse[i])) {
            return false;
        }
    }
    return true;
}
