#include "wav/WavReader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Platform.h"
#include "wav/ChunkWalk.h"
#include "wav/LittleEndian.h"
#include "wav/SampleConversion.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint32_t kLargestBuffer = 0xFFFFFFFFu; // bytes a loaded impulse may take

// Bytes one frame takes in the stream: reading steps by the channel count, whatever
// block align the file states.
uint32_t streamFrameBytes(const WavReader* reader) {
    return reader->channels == 1 ? 2 : 4;
}

} // namespace

WavReader* WavReader::open(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    ChunkRecord riff{};
    uint8_t wave[4];
    ChunkRecord format{};
    uint8_t body[16];
    ChunkRecord data{};
    uint64_t dataOffset = 0;
    WavReader* reader = nullptr;
    if (!readChunkHeader(file, riff) || riff.id != fourCc("RIFF") ||
        fread(wave, sizeof wave, 1, file) != 1 || readLe32(wave) != fourCc("WAVE") ||
        !findChunk(file, riff, format, fourCc("fmt ")) ||
        // Sixteen bytes whatever size the chunk declares; the checks judge what they hold.
        fread(body, sizeof body, 1, file) != 1) {
        fclose(file);
        return nullptr;
    }
    const uint16_t formatTag = readLe16(body);
    const uint16_t channels = readLe16(body + 2);
    const uint32_t sampleRate = readLe32(body + 4);
    const uint16_t blockAlign = readLe16(body + 12);
    const uint16_t bitsPerSample = readLe16(body + 14);
    // Zero channels or a zero block align would leave nothing to read and a division by 0.
    if (formatTag != kFormatPcm || bitsPerSample != 16 || channels == 0 || channels > 2 ||
        blockAlign == 0 || !findChunk(file, riff, data, fourCc("data")) ||
        !tellPosition(file, &dataOffset)) {
        fclose(file);
        return nullptr;
    }
    reader = new (std::nothrow) WavReader{};
    if (reader == nullptr) {
        fclose(file);
        return nullptr;
    }
    reader->file = file;
    reader->sampleRate = sampleRate;
    reader->channels = channels;
    reader->bitsPerSample = bitsPerSample;
    reader->blockAlign = blockAlign;
    reader->frames = data.size / blockAlign;
    reader->dataOffset = dataOffset;
    reader->startFrame = 0;
    return reader;
}

int WavReader::close(WavReader* reader) {
    if (reader != nullptr) {
        if (reader->file != nullptr) {
            fclose(reader->file);
        }
        delete reader;
    }
    return 1;
}

int WavReader::readFrame(WavReader* reader, float* out) {
    uint8_t bytes[4];
    if (reader->channels == 1) {
        if (fread(bytes, 2, 1, reader->file) != 1) {
            return 0;
        }
        decodeSamples(bytes, out, 1);
        return 1;
    }
    if (fread(bytes, 1, 4, reader->file) != 4) {
        return 0;
    }
    decodeSamples(bytes, out, 2);
    return 1;
}

uint32_t WavReader::readNextFrames(WavReader* reader, float* dst, uint32_t frames) {
    const uint32_t channels = reader->channels == 1 ? 1 : 2;
    const uint32_t frameBytes = streamFrameBytes(reader);
    uint8_t bytes[kConversionBlock * 2];
    const uint32_t blockFrames = static_cast<uint32_t>(kConversionBlock) / channels;
    uint32_t whole = 0;
    uint32_t at = 0;
    while (at < frames) {
        const uint32_t want = frames - at < blockFrames ? frames - at : blockFrames;
        const size_t got = fread(bytes, frameBytes, want, reader->file);
        decodeSamples(bytes, dst + static_cast<size_t>(at) * channels, got * channels);
        whole += static_cast<uint32_t>(got);
        at += want;
        if (got < want) {
            break;
        }
    }
    // Whatever did not arrive whole is silence, never stale or undefined values.
    const size_t filled = static_cast<size_t>(whole) * channels;
    memset(dst + filled, 0, (static_cast<size_t>(frames) * channels - filled) * sizeof(float));
    return whole;
}

uint64_t WavReader::readFrames(WavReader* reader, float* dst, uint32_t frames) {
    const uint64_t start =
        reader->dataOffset + static_cast<uint64_t>(reader->startFrame) * reader->blockAlign;
    if (!seekAbsolute(reader->file, start)) {
        return 0;
    }
    const uint64_t samples = static_cast<uint64_t>(frames) * reader->channels;
    if (samples == 0) {
        return 0;
    }
    uint8_t bytes[kConversionBlock * 2];
    uint64_t done = 0;
    bool ended = false;
    while (done < samples) {
        const size_t block = samples - done < kConversionBlock ? static_cast<size_t>(samples - done)
                                                               : kConversionBlock;
        const size_t got = ended ? 0 : fread(bytes, 2, block, reader->file);
        decodeSamples(bytes, dst + done, got);
        // Samples missing because the file ends early read as silence.
        memset(dst + done + got, 0, (block - got) * sizeof(float));
        ended = ended || got < block;
        done += block;
    }
    return samples;
}

float* WavReader::loadAll(WavReader* reader) {
    if (reader == nullptr) {
        return nullptr;
    }
    const uint64_t bytes = static_cast<uint64_t>(reader->channels) * reader->frames * sizeof(float);
    if (bytes == 0 || bytes > kLargestBuffer || bytes > SIZE_MAX) {
        return nullptr;
    }
    auto* buffer = static_cast<float*>(malloc(static_cast<size_t>(bytes)));
    if (buffer == nullptr) {
        return nullptr;
    }
    if (readFrames(reader, buffer, reader->frames) == 0) {
        free(buffer);
        return nullptr;
    }
    return buffer;
}
