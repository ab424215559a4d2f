#include "wav/WavWriter.h"

#include <cmath>
#include <new>

#include "platform/Platform.h"
#include "wav/LittleEndian.h"

namespace {

int writeAll(FILE* file, const uint8_t* bytes, size_t count) {
    return fwrite(bytes, 1, count, file) == count ? 1 : 0;
}

int writeHeader(FILE* file, uint32_t sampleRate, uint32_t channels) {
    uint8_t riff[8];
    writeLe32(riff, fourCc("RIFF"));
    writeLe32(riff + 4, 0);
    uint8_t wave[4];
    writeLe32(wave, fourCc("WAVE"));
    uint8_t format[8];
    writeLe32(format, fourCc("fmt "));
    writeLe32(format + 4, 16);
    uint8_t body[16];
    writeLe16(body, 1);
    writeLe16(body + 2, static_cast<uint16_t>(channels));
    writeLe32(body + 4, sampleRate);
    writeLe32(body + 8, sampleRate * channels * 2);
    writeLe16(body + 12, static_cast<uint16_t>(channels * 2));
    writeLe16(body + 14, 16);
    uint8_t data[8];
    writeLe32(data, fourCc("data"));
    writeLe32(data + 4, 0);
    return writeAll(file, riff, sizeof riff) && writeAll(file, wave, sizeof wave) &&
           writeAll(file, format, sizeof format) && writeAll(file, body, sizeof body) &&
           writeAll(file, data, sizeof data);
}

// Writes the RIFF size (end - 8) and the data size into the header; the stream is left
// wherever the second write ended.
int writeSizeFields(FILE* file, uint64_t end, uint64_t dataBytes) {
    uint8_t field[4];
    writeLe32(field, static_cast<uint32_t>(end - 8));
    int ok = seekAbsolute(file, 4) && writeAll(file, field, 4);
    writeLe32(field, static_cast<uint32_t>(dataBytes));
    ok = seekAbsolute(file, 40) && writeAll(file, field, 4) && ok;
    return ok;
}

// Brings the size fields up to date with everything written so far and goes back to the
// end to go on writing there. Called only when nothing is pending, so the file holds
// exactly the header and framesWritten frames.
int updateSizeFields(WavWriter* writer) {
    const uint64_t dataBytes = static_cast<uint64_t>(writer->framesWritten) * writer->channels * 2;
    const uint64_t end = kWavHeaderBytes + dataBytes;
    writer->headerUpdatedMs = monotonicMilliseconds();
    return writeSizeFields(writer->file, end, dataBytes) && seekAbsolute(writer->file, end);
}

// Writes the pending block. On a short write only the frames that reached the file whole
// stay counted, so the header never claims samples the file does not hold.
int flushBlock(WavWriter* writer) {
    if (writer->failed) {
        return 0;
    }
    const size_t bytes = static_cast<size_t>(writer->pendingSamples) * 2;
    const size_t written = fwrite(writer->block, 1, bytes, writer->file);
    const uint32_t pendingFrames = writer->pendingSamples / writer->channels;
    writer->pendingSamples = 0;
    if (written == bytes) {
        if (monotonicMilliseconds() - writer->headerUpdatedMs < kHeaderUpdateMs ||
            updateSizeFields(writer)) {
            return 1;
        }
        // Not knowing where the stream stands, nothing more may be written.
        writer->failed = 1;
        return 0;
    }
    const auto wholeFrames = static_cast<uint32_t>(written / (2 * writer->channels));
    writer->framesWritten = writer->framesWritten - pendingFrames + wholeFrames;
    writer->failed = 1;
    return 0;
}

} // namespace

bool WavWriter::fits(uint64_t frames, uint32_t channels) {
    // The whole length within 32 bits, and so the RIFF size field (length - 8) too: some
    // readers take a file's length in 32 bits as well.
    constexpr uint64_t kLargestFile = 0xFFFFFFFFu;
    return frames <= (kLargestFile - kWavHeaderBytes) / (2 * uint64_t{channels});
}

WavWriter* WavWriter::create(const char* path, uint32_t sampleRate, uint32_t channels) {
    auto* writer = new (std::nothrow) WavWriter{};
    if (writer == nullptr) {
        return nullptr;
    }
    writer->file = fopen(path, "wb");
    if (writer->file == nullptr) {
        delete writer;
        return nullptr;
    }
    // The writer buffers whole conversion blocks itself; an unbuffered stream means a
    // refused write is known at once, with the exact number of bytes that got through.
    setvbuf(writer->file, nullptr, _IONBF, 0);
    writer->sampleRate = sampleRate;
    writer->channels = channels;
    writer->headerUpdatedMs = monotonicMilliseconds();
    if (!writeHeader(writer->file, sampleRate, channels)) {
        fclose(writer->file);
        delete writer;
        return nullptr;
    }
    return writer;
}

int WavWriter::writeFrames(WavWriter* writer, const float* src, uint32_t frames) {
    if (writer->failed) {
        return 0;
    }
    // Frames are counted once converted; the write block always ends on a frame boundary
    // because its size is a multiple of the channel count.
    uint64_t samples = static_cast<uint64_t>(frames) * writer->channels;
    while (samples > 0) {
        const uint32_t room = kWriteBlockSamples - writer->pendingSamples;
        const uint32_t take = samples < room ? static_cast<uint32_t>(samples) : room;
        writer->saturatedSamples += encodeSamples(src, writer->block + 2 * writer->pendingSamples,
                                                  take, writer->saturationPeak);
        writer->pendingSamples += take;
        writer->framesWritten += take / writer->channels;
        src += take;
        samples -= take;
        if (writer->pendingSamples == kWriteBlockSamples && !flushBlock(writer)) {
            return 0;
        }
    }
    return 1;
}

int WavWriter::finish(WavWriter* writer) {
    if (writer == nullptr) {
        return 0;
    }
    int ok = writer->pendingSamples == 0 ? !writer->failed : flushBlock(writer);
    const uint64_t dataBytes = static_cast<uint64_t>(writer->framesWritten) * writer->channels * 2;
    uint64_t end = 0;
    if (writer->failed && truncateFile(writer->file, kWavHeaderBytes + dataBytes)) {
        // A refused write may have left part of a frame behind; the file keeps whole
        // frames only, so its length and both size fields agree.
        end = kWavHeaderBytes + dataBytes;
    } else {
        ok = tellPosition(writer->file, &end) && ok;
    }
    ok = writeSizeFields(writer->file, end, dataBytes) && ok;
    ok = (fclose(writer->file) == 0) && ok;
    delete writer;
    return ok ? 1 : 0;
}
