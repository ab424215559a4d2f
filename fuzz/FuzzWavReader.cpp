// libFuzzer target: the reader on arbitrary bytes. Opens them (and diagnoses them, which
// must agree with open), reads every declared frame with readFrame (as many as
// framesInFile says the file holds), then loads everything with loadAll and again in
// pieces with readNextFrames, and checks that the three ways agree: the same samples for
// every frame that is in the file, silence for what is not, and nothing but exact
// multiples of 2^-15.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "platform/Platform.h"
#include "tests/support/LoadWav.h"
#include "wav/WavReader.h"

namespace {

// loadAll allocates what the header declares (missing samples are silence), as far as the
// reader lets a buffer fit in memory. Above this many bytes only the refusal of what does not
// fit is exercised; the allocation itself is the same code at any size.
constexpr uint64_t kLoadCapBytes = 1u << 20;
// Frames read past the last whole one, so the silent tail is exercised without filling
// gigabytes for a forged size.
constexpr uint32_t kTailFrames = 3000;

void requireSample(float value) {
    const float steps = value * 32768.0f;
    require(steps >= -32768.0f && steps <= 32767.0f && std::floor(steps) == steps,
            "a sample that is not a 16-bit value times 2^-15");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratchFile("reader.wav");
    writeWholeFile(path, data, size);
    WavReader* reader = WavReader::open(path.c_str());
    // The separate look that says why a file was refused must agree with open.
    const WavDiagnosis diagnosis = WavReader::diagnose(path.c_str());
    require((reader != nullptr) == (diagnosis.problem == wavFine),
            "diagnose and open disagree about the file");
    require(diagnosis.problem != wavCannotOpen, "diagnose could not open a plain file");
    if (reader == nullptr) {
        return 0;
    }
    require(reader->channels == 1 || reader->channels == 2, "channels other than 1 or 2");
    require(reader->bitsPerSample == 16 && reader->blockAlign != 0,
            "an open reader with an impossible format");
    require(reader->dataOffset >= 20 && reader->dataOffset <= size,
            "the data starts outside the file");
    const uint32_t channels = reader->channels;

    // The input's way: frame after frame until one cannot be read whole.
    std::vector<float> streamed;
    uint32_t whole = 0;
    while (whole < reader->frames) {
        float frame[2] = {7.0f, 7.0f};
        if (!WavReader::readFrame(reader, frame)) {
            require(frame[0] == 7.0f && frame[1] == 7.0f, "a failed readFrame wrote its output");
            break;
        }
        for (uint32_t c = 0; c < channels; ++c) {
            requireSample(frame[c]);
            streamed.push_back(frame[c]);
        }
        require(channels == 2 || frame[1] == 7.0f, "a mono readFrame wrote two samples");
        ++whole;
    }
    require(whole == reader->framesInFile, "framesInFile is not what readFrame finds");
    const uint64_t wholeSamples = uint64_t{whole} * channels;

    // The impulse's way: everything at once, missing samples silent.
    const uint64_t bytes = uint64_t{reader->frames} * channels * sizeof(float);
    const bool fits = WavReader::fitsInMemory(reader->frames, channels);
    if (bytes <= kLoadCapBytes || !fits) {
        float* loaded = loadAll(reader);
        require((loaded == nullptr) == (bytes == 0 || !fits),
                "loadAll refused a loadable impulse or loaded an impossible one");
        const uint64_t samples = bytes / sizeof(float);
        for (uint64_t i = 0; loaded != nullptr && i < samples; ++i) {
            requireSample(loaded[i]);
            if (i < wholeSamples) {
                require(loaded[i] == streamed[i], "loadAll and readFrame disagree");
            } else if (i > wholeSamples || channels == 1) {
                // Only the left sample of a stereo frame cut in half can still be there.
                require(loaded[i] == 0.0f, "loadAll filled a missing sample with a value");
            }
        }
        free(loaded);
    }

    // The fast engine's way: pieces of frames from the data's start.
    const uint32_t wanted =
        reader->frames - whole > kTailFrames ? whole + kTailFrames : reader->frames;
    require(seekAbsolute(reader->file, reader->dataOffset) == 1, "cannot seek back to the data");
    std::vector<float> pieces(uint64_t{wanted} * channels + 1, 5.0f);
    uint32_t read = 0;
    uint32_t got = 0;
    for (uint32_t piece = 1; read < wanted; piece = piece * 3 % 1000 + 1) {
        const uint32_t count = wanted - read < piece ? wanted - read : piece;
        got += WavReader::readNextFrames(reader, pieces.data() + uint64_t{read} * channels, count);
        read += count;
    }
    require(got == whole, "readNextFrames and readFrame found different whole frames");
    for (uint64_t i = 0; i < uint64_t{wanted} * channels; ++i) {
        require(i < wholeSamples ? pieces[i] == streamed[i] : pieces[i] == 0.0f,
                "readNextFrames and readFrame disagree");
    }
    require(pieces.back() == 5.0f, "readNextFrames wrote past the frames asked for");
    WavReader::close(reader);
    return 0;
}
