// The kernels for any processor: plain C++, the double chain only. Without a fused
// multiply-add in hardware, fmaf would be emulated in software and be slower than the
// definition itself, which needs nothing beyond double arithmetic and is exact by
// construction. The lane loops are written so that a compiler can vectorise them (SSE2 on
// x86-64), but nothing depends on it.
#include "convolution/SumKernels.h"

namespace {

constexpr uint32_t kLanes = 8; // frames per row; a multiple of what SSE2 holds
constexpr uint32_t kGroup = 4; // sums advanced together, so their chains overlap

template <uint32_t Group>
void sumGroupDouble(const float* rows, const float* taps, uint32_t tapCount, float* sums) {
    float acc[Group][kLanes];
    for (uint32_t j = 0; j < Group; ++j) {
        for (uint32_t l = 0; l < kLanes; ++l) {
            acc[j][l] = sums[j * kLanes + l];
        }
    }
    for (uint32_t t = 0; t < tapCount; ++t) {
        const double h = taps[t];
        for (uint32_t j = 0; j < Group; ++j) {
            const float* row = rows + static_cast<size_t>(t + j) * kLanes;
            for (uint32_t l = 0; l < kLanes; ++l) {
                acc[j][l] = static_cast<float>(static_cast<double>(acc[j][l]) +
                                               h * static_cast<double>(row[l]));
            }
        }
    }
    for (uint32_t j = 0; j < Group; ++j) {
        for (uint32_t l = 0; l < kLanes; ++l) {
            sums[j * kLanes + l] = acc[j][l];
        }
    }
}

void doubleChain(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                 uint32_t sumRows) {
    uint32_t j = 0;
    for (; j + kGroup <= sumRows; j += kGroup) {
        sumGroupDouble<kGroup>(rows + j * kLanes, taps, tapCount, sums + j * kLanes);
    }
    for (; j < sumRows; ++j) {
        sumGroupDouble<1>(rows + j * kLanes, taps, tapCount, sums + j * kLanes);
    }
}

void transpose(const float* window, size_t laneStride, uint32_t rowCount, float* rows) {
    for (uint32_t l = 0; l < kLanes; ++l) {
        const float* column = window + l * laneStride;
        for (uint32_t r = 0; r < rowCount; ++r) {
            rows[static_cast<size_t>(r) * kLanes + l] = column[r];
        }
    }
}

const SumKernels kPortable = {kLanes, nullptr, 1, doubleChain, transpose, 0.0, 3.0e6};

} // namespace

const SumKernels* portableKernels() {
    return &kPortable;
}
