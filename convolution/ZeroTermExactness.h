// Why the fast engine may leave out every term whose product is zero, and what it must keep.
//
// One output sample is a chain over its terms, oldest first: s1 = float(p1), then
// s' = float(double(s) + p) for each later product p = double(h) * double(x) (exact in
// double). A term is "zero" when h or x is a zero of either sign and the other factor is
// finite; then p is +0 or -0. Input samples always are finite (they come from 16 bits).
//
// - A zero term never changes a value: for s other than zero, double(s) + (+-0) is s
//   exactly, and so is its rounding to float. For s = +-0 the result is +-0 again; only the
//   sign can differ (-0 + +0 is +0).
// - So after any run of zero terms the chain holds the value it held before, or a zero of
//   some sign if nothing came before. A chain that starts from +0 instead of firstTerm
//   takes the same values: float(double(+-0) + p) is float(p), which is firstTerm.
// - The output then differs at most in the sign of a zero sum. The conversion to 16 bits
//   truncates toward zero, so +0 and -0 both give the sample 0, neither counts as
//   saturated, and the written bytes are the same. (-0 arises from a negative sample times
//   a zero one, so both signs really occur.)
//
// So a term may be left out when it is a zero term. Two uses:
// - The impulse's leading and trailing zero samples, per channel: their terms are zero
//   whatever the input, since every input sample is finite. An output frame that meets only
//   those taps, or only input frames outside the recording, is silence. (With an infinite
//   impulse sample such a frame sums inf x 0 = NaN, which the conversion also writes as 0,
//   so this holds for any impulse.)
// - Input frames that are exactly zero: their terms are zero only when the impulse sample
//   is finite (inf x 0 is NaN, which would turn the whole sum into silence), so the engine
//   skips them only when every impulse sample is finite. Then a whole tile of taps whose
//   input window holds only zeros adds nothing to any of the piece's sums and is not
//   computed, and a piece whose every tile is skipped writes its frames as silence.
//
// What must never be skipped: a term with a non-zero product, however small, since it may
// change the rounding of every sum after it; and the order of the terms that remain.
#pragma once

#include <cstdint>

// Where the non-zero samples of one channel of an interleaved impulse lie: frames
// [first, end), or first == end when every sample is a zero of either sign.
struct NonZeroFrames {
    uint32_t first;
    uint32_t end;
};

inline NonZeroFrames nonZeroFrames(const float* impulse, uint32_t frames, uint32_t width,
                                   uint32_t channel) {
    uint32_t first = 0;
    while (first < frames && impulse[static_cast<uint64_t>(first) * width + channel] == 0.0f) {
        ++first;
    }
    uint32_t end = frames;
    while (end > first && impulse[static_cast<uint64_t>(end - 1) * width + channel] == 0.0f) {
        --end;
    }
    return NonZeroFrames{first, end};
}
