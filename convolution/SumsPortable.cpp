// The kernels for any processor: plain C++, the double chain only. Without a fused
// multiply-add in hardware, fmaf would be emulated in software and be slower than the
// definition itself, which needs nothing beyond double arithmetic and is exact by
// construction. The lane loops are written so that a compiler can vectorise them (SSE2 on
// x86-64), but nothing depends on it.
#include "convolution/SumKernels.h"
#include "convolution/SumsTemplate.h"

namespace {

// "Vectors" of one lane: the double chain walks the 8 lanes of a row one by one. A running
// sum is kept as a float and each step does its double arithmetic inside; kept as a double
// between steps instead, GCC 12's straight-line vectoriser (-O3) was seen to drop the
// rounding to float of some lanes.
struct Scalar {
    struct Floats {
        float lane[8];
    };
    using Doubles = float;
    static constexpr uint32_t kLanes = 8; // frames per row; a multiple of what SSE2 holds
    static constexpr uint32_t kDoubleLanes = 1;
    static constexpr int kDoubleGroup = 4; // sums advanced together, so their chains overlap

    static Floats loadUnaligned(const float* p) {
        Floats v;
        for (uint32_t l = 0; l < kLanes; ++l) {
            v.lane[l] = p[l];
        }
        return v;
    }
    static void store(float* p, const Floats& v) {
        for (uint32_t l = 0; l < kLanes; ++l) {
            p[l] = v.lane[l];
        }
    }

    static Doubles widen(const float* p) { return *p; }
    static void narrow(float* p, Doubles v) { *p = v; }
    static Doubles broadcastDouble(double x) { return static_cast<float>(x); } // a float tap
    // The product of two floats is exact in double, so the sum is rounded once to double and
    // once to float, the defined step. (The build keeps contraction off: no fused step.)
    static Doubles fusedStep(Doubles a, Doubles b, Doubles c) {
        return static_cast<float>(static_cast<double>(c) +
                                  static_cast<double>(a) * static_cast<double>(b));
    }
    static Doubles roundToFloat(Doubles v) { return v; } // already a float
};

void transposeBlock(const float* window, size_t windowStride, float* tile, size_t tileStride) {
    for (uint32_t c = 0; c < Scalar::kLanes; ++c) {
        for (uint32_t r = 0; r < Scalar::kLanes; ++r) {
            tile[r * tileStride + c] = window[c * windowStride + r];
        }
    }
}

constexpr SumKernels kPortable = kernelTable<Scalar, void, transposeBlock>(0.0, 3.0e6);

} // namespace

const SumKernels* portableKernels() {
    return &kPortable;
}
