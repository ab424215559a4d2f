#include "wav/WavWriter.h"

#include <cerrno>
#include <cmath>
#include <new>

#include "platform/Platform.h"
#include "wav/LittleEndian.h"

namespace {

int writeAll(FILE* file, const uint8_t* bytes, size_t count) {
    return fwrite(bytes, 1, count, file) == count ? 1 : 0;
}

// Keeps the first reason the system gave for refusing bytes.
void noteRefusal(WavWriter* writer, int error) {
    if (writer->systemError == 0) {
        writer->systemError = error != 0 ? error : EIO;
    }
}

uint64_t dataBytesOf(uint32_t frames, uint32_t channels) {
    return static_cast<uint64_t>(frames) * channels * 2;
}

// The header, with size fields for dataBytes of samples, in one write: a reader of a pipe
// gets it whole.
int writeHeader(FILE* file, uint32_t sampleRate, uint32_t channels, uint64_t dataBytes) {
    uint8_t header[kWavHeaderBytes];
    writeLe32(header, fourCc("RIFF"));
    writeLe32(header + 4,
              static_cast<uint32_t>(dataBytes == 0 ? 0 : kWavHeaderBytes - 8 + dataBytes));
    writeLe32(header + 8, fourCc("WAVE"));
    writeLe32(header + 12, fourCc("fmt "));
    writeLe32(header + 16, 16);
    writeLe16(header + 20, 1);
    writeLe16(header + 22, static_cast<uint16_t>(channels));
    writeLe32(header + 24, sampleRate);
    writeLe32(header + 28, sampleRate * channels * 2);
    writeLe16(header + 32, static_cast<uint16_t>(channels * 2));
    writeLe16(header + 34, 16);
    writeLe32(header + 36, fourCc("data"));
    writeLe32(header + 40, static_cast<uint32_t>(dataBytes));
    return writeAll(file, header, sizeof header);
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
    const uint64_t dataBytes = dataBytesOf(writer->framesWritten, writer->channels);
    const uint64_t end = kWavHeaderBytes + dataBytes;
    writer->headerUpdatedMs = monotonicMilliseconds();
    writer->framesInHeader = writer->framesWritten;
    return writeSizeFields(writer->file, end, dataBytes) && seekAbsolute(writer->file, end);
}

// The size fields still say 0 (a reader refuses such a file), or were last set long enough
// ago. A stream that cannot seek has had its sizes from the start.
bool sizeFieldsDue(const WavWriter* writer) {
    return writer->framesPromised == 0 &&
           (writer->framesInHeader == 0 ||
            monotonicMilliseconds() - writer->headerUpdatedMs >= kHeaderUpdateMs);
}

// Samples the pending block is written at: kFirstBlockSamples while nothing has gone to the
// file yet (every frame accepted is still pending), then kWriteBlockSamples.
uint32_t blockLimit(const WavWriter* writer) {
    const bool nothingWritten =
        uint64_t{writer->framesWritten} * writer->channels == writer->pendingSamples;
    return nothingWritten ? kFirstBlockSamples : kWriteBlockSamples;
}

// Writes the pending block. On a short write only the frames that reached the file whole
// stay counted, so the header never claims samples the file does not hold.
int flushBlock(WavWriter* writer) {
    if (writer->failed) {
        return 0;
    }
    const size_t bytes = static_cast<size_t>(writer->pendingSamples) * 2;
    errno = 0;
    const size_t written = fwrite(writer->block, 1, bytes, writer->file);
    const int writeError = errno;
    const uint32_t pendingFrames = writer->pendingSamples / writer->channels;
    writer->pendingSamples = 0;
    if (written == bytes) {
        errno = 0;
        if (!sizeFieldsDue(writer) || updateSizeFields(writer)) {
            return 1;
        }
        // Not knowing where the stream stands, nothing more may be written.
        noteRefusal(writer, errno);
        writer->failed = 1;
        return 0;
    }
    const auto wholeFrames = static_cast<uint32_t>(written / (2 * writer->channels));
    writer->framesWritten = writer->framesWritten - pendingFrames + wholeFrames;
    noteRefusal(writer, writeError);
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

WavWriter* WavWriter::open(const WavTarget& target, int* systemError) {
    int ignored = 0;
    int& error = systemError != nullptr ? *systemError : ignored;
    error = 0;
    auto* writer = new (std::nothrow) WavWriter{};
    if (writer == nullptr) {
        error = ENOMEM;
        return nullptr;
    }
    writer->ownsFile = target.path != nullptr ? 1 : 0;
    writer->file = target.path != nullptr ? createOutputFile(target.path, target.mustBeNew, &error)
                                          : target.stream;
    if (writer->file == nullptr) {
        delete writer;
        return nullptr;
    }
    // The writer buffers whole conversion blocks itself; an unbuffered stream means a
    // refused write is known at once, with the exact number of bytes that got through.
    setvbuf(writer->file, nullptr, _IONBF, 0);
    writer->sampleRate = target.sampleRate;
    writer->channels = target.channels;
    // At least one frame promised, so 0 keeps meaning "sizes kept up to date".
    writer->framesPromised =
        streamCanSeek(writer->file) ? 0 : (target.frames > 0 ? target.frames : 1);
    writer->framesInHeader = writer->framesPromised;
    writer->headerUpdatedMs = monotonicMilliseconds();
    errno = 0;
    if (!writeHeader(writer->file, target.sampleRate, target.channels,
                     writer->framesPromised == 0
                         ? 0
                         : dataBytesOf(writer->framesPromised, target.channels))) {
        error = errno != 0 ? errno : EIO;
        if (writer->ownsFile) {
            fclose(writer->file);
        }
        delete writer;
        return nullptr;
    }
    return writer;
}

WavWriter* WavWriter::create(const char* path, uint32_t sampleRate, uint32_t channels) {
    return open(WavTarget{path, nullptr, sampleRate, channels, 0, 0});
}

int WavWriter::writeFrames(WavWriter* writer, const float* src, uint32_t frames) {
    if (writer->failed) {
        return 0;
    }
    // Frames are counted once converted; the write block always ends on a frame boundary
    // because its size is a multiple of the channel count.
    uint64_t samples = static_cast<uint64_t>(frames) * writer->channels;
    while (samples > 0) {
        const uint32_t limit = blockLimit(writer);
        const uint32_t room = limit - writer->pendingSamples;
        const uint32_t take = samples < room ? static_cast<uint32_t>(samples) : room;
        writer->saturatedSamples += encodeSamples(src, writer->block + 2 * writer->pendingSamples,
                                                  take, writer->saturationPeak);
        writer->pendingSamples += take;
        writer->framesWritten += take / writer->channels;
        src += take;
        samples -= take;
        if (writer->pendingSamples == limit && !flushBlock(writer)) {
            return 0;
        }
    }
    return 1;
}

int WavWriter::finish(WavWriter* writer, int* systemError) {
    int ignored = 0;
    int& error = systemError != nullptr ? *systemError : ignored;
    error = 0;
    if (writer == nullptr) {
        return 0;
    }
    int ok = writer->pendingSamples == 0 ? !writer->failed : flushBlock(writer);
    errno = 0;
    // A stream that cannot seek has nothing to go back to: one shorter than its header is
    // what a stopped or failed job leaves there, and the caller says so.
    if (writer->framesPromised == 0) {
        const uint64_t dataBytes = dataBytesOf(writer->framesWritten, writer->channels);
        uint64_t end = 0;
        if (writer->failed && truncateFile(writer->file, kWavHeaderBytes + dataBytes)) {
            // A refused write may have left part of a frame behind; the file keeps whole
            // frames only, so its length and both size fields agree.
            end = kWavHeaderBytes + dataBytes;
        } else {
            ok = tellPosition(writer->file, &end) && ok;
        }
        ok = writeSizeFields(writer->file, end, dataBytes) && ok;
    }
    if (!ok) {
        noteRefusal(writer, errno);
    }
    if (writer->ownsFile) {
        errno = 0;
        if (fclose(writer->file) != 0) {
            ok = 0;
            noteRefusal(writer, errno);
        }
    } else if (fflush(writer->file) != 0) {
        ok = 0;
        noteRefusal(writer, errno);
    }
    error = ok ? 0 : writer->systemError;
    delete writer;
    return ok ? 1 : 0;
}
