// The register-only multiply-add loop, written once over a kernel vector type V (the ones
// in convolution/Vector*.h). Include only from a file built with V's instruction set; like
// those types, everything here is file-local.
#pragma once

#include <cstdint>

namespace {

// Chains independent accumulators: more than FMA latency times FMA units, so the units
// never wait. Returns the lane multiply-adds done.
template <typename V, int Chains> uint64_t peakLoop(uint64_t rounds, float* sink) {
    typename V::Floats acc[Chains];
    for (int j = 0; j < Chains; ++j) {
        acc[j] = V::broadcast(static_cast<float>(j));
    }
    const typename V::Floats scale = V::broadcast(0.999999f);
    const typename V::Floats step = V::broadcast(1e-7f);
    for (uint64_t r = 0; r < rounds; ++r) {
#pragma GCC unroll 32
        for (int j = 0; j < Chains; ++j) {
            acc[j] = V::fusedStep(acc[j], scale, step);
        }
    }
    typename V::Floats total = acc[0];
    for (int j = 1; j < Chains; ++j) {
        total = V::add(total, acc[j]);
    }
    alignas(64) float lanes[V::kLanes];
    V::store(lanes, total);
    float sum = 0.0f;
    for (uint32_t l = 0; l < V::kLanes; ++l) {
        sum += lanes[l];
    }
    *sink = sum;
    return rounds * Chains * V::kLanes;
}

} // namespace
