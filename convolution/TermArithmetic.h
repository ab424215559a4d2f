// The arithmetic of one output sample, term by term. Every engine path must give exactly
// these floats (or, where it provably cannot differ, the same output samples).
#pragma once

// The first term: the exact product (a double holds it exactly) rounded once to float.
inline float firstTerm(float h, float x) {
    return static_cast<float>(static_cast<double>(h) * static_cast<double>(x));
}

// A later term: product and sum in double, the sum rounded back to float. The build keeps
// floating-point contraction off so this never becomes a fused multiply-add.
inline float addTerm(float sum, float h, float x) {
    return static_cast<float>(static_cast<double>(sum) +
                              static_cast<double>(h) * static_cast<double>(x));
}
