#include "convolution/EngineSupport.h"

#include <cstddef>
#include <utility>

void reverseImpulse(float* impulse, uint32_t impulseFrames, uint32_t impulseChannels) {
    const uint32_t width = impulseChannels == 1 ? 1 : 2;
    for (uint32_t i = 0; i < impulseFrames / 2; ++i) {
        const uint32_t j = impulseFrames - 1 - i;
        for (uint32_t c = 0; c < width; ++c) {
            std::swap(impulse[static_cast<size_t>(i) * width + c],
                      impulse[static_cast<size_t>(j) * width + c]);
        }
    }
}
