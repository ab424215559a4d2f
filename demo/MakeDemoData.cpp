// Writes the demo recordings and room impulses into a folder. Everything is synthesised
// from fixed seeds, so every run on every machine writes the same bytes.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wav/WavWriter.h"

namespace {

constexpr uint32_t kRate = 44100;

// A small deterministic generator (xorshift), uniform in [-1, 1).
struct Noise {
    uint64_t state;
    double next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0;
    }
};

// One plucked string (Karplus-Strong): a burst of noise circulating in a delay line whose
// averaging filter makes it ring and fade like a guitar string.
void pluck(std::vector<double>& out, size_t start, double frequency, double seconds, double gain,
           Noise& noise) {
    const auto period = static_cast<size_t>(kRate / frequency);
    std::vector<double> line(period);
    for (double& value : line) {
        value = noise.next();
    }
    const auto length = static_cast<size_t>(seconds * kRate);
    for (size_t i = 0; i < length && start + i < out.size(); ++i) {
        const size_t at = i % period;
        const double value = line[at];
        line[at] = 0.996 * 0.5 * (value + line[(at + 1) % period]);
        out[start + i] += gain * value;
    }
}

// A short melody of plucked notes, one note every quarter second.
std::vector<double> melody(double seconds, const std::vector<double>& notes, uint64_t seed) {
    std::vector<double> out(static_cast<size_t>(seconds * kRate), 0.0);
    Noise noise{seed};
    const size_t step = kRate / 4;
    for (size_t k = 0; k * step < out.size(); ++k) {
        pluck(out, k * step, notes[k % notes.size()], 1.5, 0.3, noise);
    }
    return out;
}

// A room: the direct sound, a few early reflections, then exponentially decaying noise.
std::vector<double> room(double seconds, double decaySeconds, uint64_t seed) {
    const auto length = static_cast<size_t>(seconds * kRate);
    std::vector<double> out(length, 0.0);
    Noise noise{seed};
    out[0] = 0.6;
    const size_t reflections[] = {331, 587, 941, 1303};
    for (size_t r : reflections) {
        if (r < length) {
            out[r] += 0.2 * noise.next();
        }
    }
    for (size_t i = 1; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        out[i] += 0.02 * std::exp(-6.9 * t / decaySeconds) * noise.next();
    }
    return out;
}

int writeWav(const std::string& path, const std::vector<double>& left,
             const std::vector<double>* right) {
    const uint32_t channels = right != nullptr ? 2 : 1;
    WavWriter* writer = WavWriter::create(path.c_str(), kRate, channels);
    if (writer == nullptr) {
        return 0;
    }
    int ok = 1;
    for (size_t i = 0; i < left.size() && ok; ++i) {
        const float frame[2] = {static_cast<float>(left[i]),
                                static_cast<float>(right != nullptr ? (*right)[i] : 0.0)};
        ok = WavWriter::writeFrames(writer, frame, 1);
    }
    return WavWriter::finish(writer) && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: convoluzione-demo-data FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<double> notesA = {196.0, 246.9, 293.7, 392.0, 293.7, 246.9};
    const std::vector<double> notesB = {329.6, 392.0, 440.0, 523.3};
    const std::vector<double> guitar = melody(3.0, notesA, 0x9E3779B97F4A7C15ull);
    const std::vector<double> second = melody(3.0, notesB, 0xD1B54A32D192ED03ull);
    const std::vector<double> roomLeft = room(0.25, 0.25, 0x2545F4914F6CDD1Dull);
    const std::vector<double> roomRight = room(0.25, 0.25, 0x5851F42D4C957F2Dull);
    const int ok = writeWav(folder + "/chitarra-mono.wav", guitar, nullptr) &&
                   writeWav(folder + "/chitarra-stereo.wav", guitar, &second) &&
                   writeWav(folder + "/stanza-mono.wav", roomLeft, nullptr) &&
                   writeWav(folder + "/stanza-stereo.wav", roomLeft, &roomRight);
    if (!ok) {
        fprintf(stderr, "cannot write the files into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
