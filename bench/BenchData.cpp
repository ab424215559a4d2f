#include "bench/BenchData.h"

#include <cmath>
#include <vector>

#include "wav/WavWriter.h"

namespace {

// A small fixed generator, so every run and every machine gets the same files.
struct NoiseSource {
    uint64_t state; // xorshift64* state; never 0
};

double nextNoise(NoiseSource& source) {
    source.state ^= source.state >> 12;
    source.state ^= source.state << 25;
    source.state ^= source.state >> 27;
    const uint64_t bits = source.state * 0x2545F4914F6CDD1DULL;
    return static_cast<double>(bits >> 11) / 9007199254740992.0 * 2.0 - 1.0; // [-1, 1)
}

int writeFrames(const std::string& path, uint32_t rate, uint32_t channels,
                const std::vector<float>& samples) {
    WavWriter* writer = WavWriter::create(path.c_str(), rate, channels);
    if (writer == nullptr) {
        return 0;
    }
    const int written = WavWriter::writeFrames(writer, samples.data(),
                                               static_cast<uint32_t>(samples.size() / channels));
    return WavWriter::finish(writer) && written;
}

} // namespace

int writeBenchSignal(const std::string& path, double seconds, uint32_t rate, uint32_t channels) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    NoiseSource noise{0x9E3779B97F4A7C15ULL};
    const double pi = 3.14159265358979323846;
    for (size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        for (uint32_t c = 0; c < channels; ++c) {
            // A few partials with a slow tremolo and some noise: every sample differs.
            const double tone = 0.35 * std::sin(2 * pi * (220.0 + 3 * c) * t) +
                                0.2 * std::sin(2 * pi * 331.0 * t + c) +
                                0.1 * std::sin(2 * pi * 1250.0 * t);
            const double tremolo = 0.75 + 0.25 * std::sin(2 * pi * 0.5 * t);
            samples[f * channels + c] = static_cast<float>(tone * tremolo + 0.1 * nextNoise(noise));
        }
    }
    return writeFrames(path, rate, channels, samples);
}

int writeBenchImpulse(const std::string& path, double seconds, uint32_t rate, uint32_t channels) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    NoiseSource noise{0xD1B54A32D192ED03ULL};
    for (size_t f = 0; f < frames; ++f) {
        // About 60 dB of decay over the impulse's length, a room's tail.
        const double envelope = std::exp(-6.9 * static_cast<double>(f) / frames);
        for (uint32_t c = 0; c < channels; ++c) {
            samples[f * channels + c] = static_cast<float>(0.5 * envelope * nextNoise(noise));
        }
    }
    return writeFrames(path, rate, channels, samples);
}
