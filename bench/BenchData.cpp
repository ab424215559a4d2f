#include "bench/BenchData.h"

#include <algorithm>
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

int writeBenchImpulse(const std::string& path, double seconds, uint32_t rate, uint32_t channels,
                      double zeroTail) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    NoiseSource noise{0xD1B54A32D192ED03ULL};
    // About 60 dB of decay over the impulse's length, a room's tail; or, for a zero tail,
    // from 0.5 down to one 16-bit step over the first 1 - zeroTail of it. The writer
    // truncates toward zero without dither, as a plain conversion to 16 bits does, so every
    // sample after that is exactly zero.
    const double sounding = static_cast<double>(frames) * (1.0 - zeroTail);
    const double decay = zeroTail > 0 ? std::log(0.5 * 32768.0) / sounding : 6.9 / frames;
    for (size_t f = 0; f < frames; ++f) {
        const double envelope = std::exp(-decay * static_cast<double>(f));
        for (uint32_t c = 0; c < channels; ++c) {
            samples[f * channels + c] = static_cast<float>(0.5 * envelope * nextNoise(noise));
        }
    }
    return writeFrames(path, rate, channels, samples);
}

int writeBenchStem(const std::string& path, double seconds, uint32_t rate, uint32_t channels,
                   double silentShare) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> samples(frames * channels, 0.0f);
    NoiseSource lengths{0x6A09E667F3BCC909ULL};
    const double pi = 3.14159265358979323846;
    // Phrases 0.5 to 2.5 s long at random, each followed by a silence of at least 0.5 s
    // that brings the silence so far to silentShare of what was written. A phrase is a
    // note with a short fade at each end; the silences are exact zeros.
    const double silenceScale = silentShare / (1.0 - silentShare);
    size_t at = 0;
    size_t sounding = 0;
    size_t silent = 0;
    double pitch = 196.0;
    while (at < frames) {
        const double phraseSeconds = 1.5 + nextNoise(lengths);
        const auto phrase = std::min(frames - at, static_cast<size_t>(phraseSeconds * rate));
        const size_t fade = std::min<size_t>(phrase / 2, rate / 100);
        for (size_t f = 0; f < phrase; ++f) {
            const double t = static_cast<double>(f) / rate;
            const size_t edge = std::min(f, phrase - 1 - f);
            const double gain = edge < fade ? static_cast<double>(edge) / fade : 1.0;
            for (uint32_t c = 0; c < channels; ++c) {
                const double tone = 0.4 * std::sin(2 * pi * (pitch + 2 * c) * t) +
                                    0.15 * std::sin(2 * pi * 3.01 * pitch * t + c) +
                                    0.05 * nextNoise(lengths);
                samples[(at + f) * channels + c] = static_cast<float>(gain * tone);
            }
        }
        at += phrase;
        sounding += phrase;
        pitch = pitch < 400 ? pitch * 1.26 : 196.0;
        const double owed = silenceScale * static_cast<double>(sounding) - silent;
        const auto silence = static_cast<size_t>(std::max(0.5 * rate, owed));
        at += silence;
        silent += silence;
    }
    return writeFrames(path, rate, channels, samples);
}
