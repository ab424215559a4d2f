#include "tests/ui/DialogFiles.h"

#include <algorithm>
#include <filesystem>

#include "tests/support/EngineHarness.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WrittenWav.h"
#include "wav/SampleConversion.h"

namespace {

constexpr uint32_t kRate = 44100;

Bytes shortWav(uint16_t channels, uint32_t frames) {
    std::vector<int16_t> samples(frames * channels);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>((i * 7919) % 20000 - 10000);
    }
    return pcmWav(channels, kRate, samples);
}

// What the samples are does not matter, only how many there are.
Bytes longStereoWav(uint32_t frames) {
    Bytes file = pcmWav(2, kRate, {});
    const Bytes riffSize = le32(36 + frames * 4);
    const Bytes dataSize = le32(frames * 4);
    std::copy(riffSize.begin(), riffSize.end(), file.begin() + 4);
    std::copy(dataSize.begin(), dataSize.end(), file.begin() + 40);
    file.resize(44 + size_t{frames} * 4);
    for (size_t at = 44; at < file.size(); ++at) {
        file[at] = static_cast<uint8_t>(at * 31);
    }
    return file;
}

struct Scratch {
    ScratchDir dir; // removed, with everything in it, when the program ends
    DialogFiles files;

    Scratch() {
        files.input = dir.file("chitarra.wav");
        files.impulse = dir.file("stanza.wav");
        files.longInput = dir.file("lunga.wav");
        files.longImpulse = dir.file("sala.wav");
        files.folder = dir.file("cartella");
        files.missing = dir.file("assente.wav");
        writeFileBytes(files.input, shortWav(1, 2000));
        writeFileBytes(files.impulse, shortWav(2, 100));
        writeFileBytes(files.longInput, longStereoWav(1u << 22));
        writeFileBytes(files.longImpulse, shortWav(2, 65536));
        std::filesystem::create_directories(files.folder);
    }
};

Scratch& scratch() {
    static Scratch made;
    return made;
}

} // namespace

const DialogFiles& dialogFiles() {
    return scratch().files;
}

std::string freshOutputPath(const char* stem) {
    static int counter = 0;
    return scratch().dir.file(std::string(stem) + "-" + std::to_string(++counter) + ".wav");
}

int64_t finishedStereoBytes(const std::string& path) {
    const Bytes file = readFileBytes(path);
    const WrittenWav wav = checkWrittenWav(file);
    if (!wav.valid || wav.channels != 2) {
        ADD_FAILURE() << path << ": " << file.size() << " bytes, "
                      << (wav.valid ? "not stereo" : wav.problem);
        return -1;
    }
    return static_cast<int64_t>(wav.frames) * 4;
}

::testing::AssertionResult startOfFullResult(const std::string& output, const std::string& input,
                                             const std::string& impulse) {
    const int64_t bytes = finishedStereoBytes(output);
    if (bytes <= 0) {
        return ::testing::AssertionFailure() << output << " holds no finished frames";
    }
    const size_t frames = static_cast<size_t>(bytes / 4);
    const Bytes inputFile = readFileBytes(input);
    const Bytes impulseFile = readFileBytes(impulse);
    const uint16_t inputChannels = static_cast<uint16_t>(checkWrittenWav(inputFile).channels);
    const uint32_t impulseChannels = checkWrittenWav(impulseFile).channels;
    // Output frame m depends on input frames before m only, so the first frames of the
    // full result are those of a job on the input's first frames: a short computation
    // even when the whole job would take hours.
    std::vector<int16_t> inputStart = samplesAfterHeader(inputFile);
    inputStart.resize(std::min(inputStart.size(), frames * inputChannels));
    std::vector<float> taps;
    for (int16_t sample : samplesAfterHeader(impulseFile)) {
        taps.push_back(sampleToFloat(sample));
    }
    const EngineRun full =
        runEngine(engineWith(EngineOptions{}), inputChannels, inputStart, impulseChannels, taps);
    const std::vector<int16_t> written = samplesAfterHeader(readFileBytes(output));
    if (full.result != convolveCompleted || full.samples.size() < written.size() ||
        !std::equal(written.begin(), written.end(), full.samples.begin())) {
        return ::testing::AssertionFailure()
               << output << ": its " << frames << " frames are not the start of the full result";
    }
    return ::testing::AssertionSuccess() << frames << " frames";
}
