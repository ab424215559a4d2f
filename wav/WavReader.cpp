#include "wav/WavReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Platform.h"
#include "wav/ChunkWalk.h"
#include "wav/LittleEndian.h"
#include "wav/SampleConversion.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// Bytes one frame takes in the stream: reading steps by the channel count, whatever
// block align the file states.
uint32_t streamFrameBytes(uint32_t channels) {
    return channels == 1 ? 2 : 4;
}

// What the header holds, as far as reading it got.
struct Header {
    ChunkRecord format; // the "fmt " chunk, once found
    uint16_t formatTag; // the format's fields, once read
    uint16_t channels;
    uint32_t sampleRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    ChunkRecord data;    // the "data" chunk, once found
    uint64_t dataOffset; // its first payload byte
    uint64_t fileLength; // bytes in the file
    int systemError;     // for wavCannotOpen: the errno of the call that failed
};

// A file the system would not read through: the errno of the read or seek that failed.
WavProblem cannotRead(FILE* file, Header& header, int error) {
    header.systemError = error != 0 ? error : (ferror(file) ? EIO : 0);
    return header.systemError != 0 ? wavCannotOpen : wavFine;
}

// Reads and checks the header in the order that decides which problem a file has; the
// stream is left at the first sample byte when nothing is wrong.
WavProblem readHeader(FILE* file, Header& header) {
    ChunkRecord riff{};
    uint8_t start[12];
    uint8_t body[16];
    // The reader goes back and forth through the file: a pipe or a terminal cannot.
    errno = 0;
    if (!seekAbsolute(file, 0)) {
        return cannotRead(file, header, errno != 0 ? errno : ESPIPE);
    }
    errno = 0;
    const size_t got = fread(start, 1, sizeof start, file);
    if (got < sizeof start && ferror(file)) {
        return cannotRead(file, header, errno);
    }
    if (got == 0) {
        return wavEmpty;
    }
    riff.id = readLe32(start);
    riff.size = readLe32(start + 4);
    if (got < sizeof start || riff.id != fourCc("RIFF") || readLe32(start + 8) != fourCc("WAVE")) {
        return wavNotRiffWave;
    }
    if (riff.size == 0) {
        return wavRiffSizeZero;
    }
    errno = 0;
    if (!findChunk(file, riff, header.format, fourCc("fmt "))) {
        return ferror(file) ? cannotRead(file, header, errno) : wavNoFormatChunk;
    }
    if (header.format.size < sizeof body) {
        return wavFormatTooShort;
    }
    // Sixteen bytes whatever larger size the chunk declares; the checks judge what they hold.
    errno = 0;
    if (fread(body, sizeof body, 1, file) != 1) {
        return ferror(file) ? cannotRead(file, header, errno) : wavFormatCut;
    }
    header.formatTag = readLe16(body);
    header.channels = readLe16(body + 2);
    header.sampleRate = readLe32(body + 4);
    header.blockAlign = readLe16(body + 12);
    header.bitsPerSample = readLe16(body + 14);
    if (header.formatTag != kFormatPcm) {
        return wavNotPcm;
    }
    if (header.bitsPerSample != 16) {
        return wavNotSixteenBits;
    }
    if (header.channels == 0 || header.channels > 2) {
        return wavBadChannels;
    }
    // A zero block align would leave a division by 0.
    if (header.blockAlign == 0) {
        return wavNoBlockAlign;
    }
    errno = 0;
    if (!findChunk(file, riff, header.data, fourCc("data"))) {
        return ferror(file) ? cannotRead(file, header, errno) : wavNoDataChunk;
    }
    errno = 0;
    if (!tellPosition(file, &header.dataOffset) || !fileLength(file, &header.fileLength)) {
        return cannotRead(file, header, errno != 0 ? errno : EIO);
    }
    return wavFine;
}

// The sub-format of an extensible format chunk: the first two bytes of its GUID, 24 bytes
// into the payload, which hold the plain format tag (1 PCM, 3 floating point). 0 when the
// chunk is too short to hold one.
uint32_t extensibleSubFormat(FILE* file, const ChunkRecord& format) {
    uint8_t tag[2];
    if (format.size < 26 || !seekAbsolute(file, format.payloadOffset + 24) ||
        fread(tag, sizeof tag, 1, file) != 1) {
        return 0;
    }
    return readLe16(tag);
}

// Bytes the stream asks of the system at a time.
constexpr size_t kReadBufferBytes = size_t{1} << 16;
// Where that buffer starts: on a page. After a seek the stream reads whole buffers from
// offsets that are multiples of their size, so the system copies from the start of a page
// of the file to the start of a page of memory. At some offsets from each other (the
// destination up to about 32 bytes past the source, as a buffer from malloc often is) the
// copy of a minute of audio took ten times as long.
constexpr size_t kReadBufferAlignment = 4096;
// Samples readNextFrames converts at a time, through a buffer on the stack.
constexpr size_t kBulkReadSamples = 8 * kConversionBlock;

// Reads `count` 2-byte samples from offset on into dst; those the file does not hold are 0.
int readSamplesFrom(FILE* file, uint64_t offset, float* dst, uint64_t count) {
    if (!seekAbsolute(file, offset)) {
        return 0;
    }
    uint8_t bytes[kConversionBlock * 2];
    uint64_t done = 0;
    bool ended = false;
    while (done < count) {
        const size_t block =
            count - done < kConversionBlock ? static_cast<size_t>(count - done) : kConversionBlock;
        const size_t got = ended ? 0 : fread(bytes, 2, block, file);
        decodeSamples(bytes, dst + done, got);
        // Samples missing because the file ends early read as silence.
        memset(dst + done + got, 0, (block - got) * sizeof(float));
        ended = ended || got < block;
        done += block;
    }
    return 1;
}

} // namespace

WavReader* WavReader::open(const char* path, int* systemError) {
    int ignored = 0;
    int& error = systemError != nullptr ? *systemError : ignored;
    error = 0;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        error = errno;
        return nullptr;
    }
    // The stream's own buffer is a page or so: a minute of audio would take over a thousand
    // reads from the system. Given before any read, as it must be. The buffer is ours: glibc
    // takes no size without one, and keeps its page. Without it the default stays.
    char* buffer = static_cast<char*>(malloc(kReadBufferBytes + kReadBufferAlignment));
    if (buffer != nullptr) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(buffer);
        const uintptr_t aligned =
            (address + kReadBufferAlignment - 1) & ~(kReadBufferAlignment - 1);
        setvbuf(file, buffer + (aligned - address), _IOFBF, kReadBufferBytes);
    }
    const auto refuse = [&](int reason) -> WavReader* {
        error = reason;
        fclose(file);
        free(buffer);
        return nullptr;
    };
    Header header{};
    if (readHeader(file, header) != wavFine) {
        return refuse(header.systemError);
    }
    auto* reader = new (std::nothrow) WavReader{};
    if (reader == nullptr) {
        return refuse(ENOMEM);
    }
    const uint64_t bytesInFile =
        header.fileLength > header.dataOffset ? header.fileLength - header.dataOffset : 0;
    // Every other size means what it says, even one larger than the file.
    const bool toTheEnd = header.data.size == kDataSizeToEndOfFile ||
                          (header.data.size == kDataSizeSoxPipe && bytesInFile < kDataSizeSoxPipe);
    const uint64_t dataBytes =
        toTheEnd ? std::min<uint64_t>(bytesInFile, kDataSizeToEndOfFile) : header.data.size;
    reader->file = file;
    reader->streamBuffer = buffer;
    reader->sampleRate = header.sampleRate;
    reader->channels = header.channels;
    reader->bitsPerSample = header.bitsPerSample;
    reader->blockAlign = header.blockAlign;
    reader->frames = static_cast<uint32_t>(dataBytes / header.blockAlign);
    reader->framesInFile = static_cast<uint32_t>(
        std::min<uint64_t>(reader->frames, bytesInFile / streamFrameBytes(header.channels)));
    reader->dataOffset = header.dataOffset;
    return reader;
}

WavDiagnosis WavReader::diagnose(const char* path) {
    WavDiagnosis diagnosis{};
    diagnosis.systemError = fileOpenProblem(path);
    FILE* file = diagnosis.systemError == 0 ? fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        diagnosis.problem = wavCannotOpen;
        if (diagnosis.systemError == 0) {
            diagnosis.systemError = errno;
        }
        return diagnosis;
    }
    Header header{};
    diagnosis.problem = readHeader(file, header);
    if (diagnosis.problem == wavCannotOpen) {
        diagnosis.systemError = header.systemError;
    }
    diagnosis.formatSize = header.format.size;
    if (diagnosis.problem >= wavNotPcm) {
        diagnosis.formatTag = header.formatTag;
        diagnosis.bitsPerSample = header.bitsPerSample;
        diagnosis.channels = header.channels;
    }
    if (diagnosis.problem == wavNotPcm && header.formatTag == kFormatExtensible) {
        diagnosis.subFormat = extensibleSubFormat(file, header.format);
    }
    fclose(file);
    return diagnosis;
}

int WavReader::close(WavReader* reader) {
    if (reader != nullptr) {
        if (reader->file != nullptr) {
            fclose(reader->file);
        }
        free(reader->streamBuffer); // only once the stream that used it is closed
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
    const uint32_t frameBytes = streamFrameBytes(reader->channels);
    // Bigger pieces than elsewhere: this is the bulk read of the whole input, and each call
    // into the stream has a cost of its own.
    uint8_t bytes[kBulkReadSamples * 2];
    const uint32_t blockFrames = static_cast<uint32_t>(kBulkReadSamples) / channels;
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

int WavReader::readSamples(WavReader* reader, float* dst, uint64_t first, uint64_t count) {
    return readSamplesFrom(reader->file, reader->dataOffset + 2 * first, dst, count);
}

uint32_t WavReader::framesToLoad(const WavReader* reader) {
    return reader->framesInFile < reader->frames ? reader->framesInFile + 1 : reader->frames;
}

bool WavReader::fitsInMemory(uint64_t frames, uint32_t channels) {
    // 4 GiB of floats at most on every machine, so one impulse loads, or is refused, alike
    // everywhere (and never more than a size_t can count).
    constexpr uint64_t kLargestLoadBytes = 0xFFFFFFFFu;
    const uint64_t largest = std::min<uint64_t>(kLargestLoadBytes, SIZE_MAX);
    return channels == 0 || frames <= largest / (uint64_t{channels} * sizeof(float));
}

float* WavReader::allocateFrames(WavReader* reader, uint32_t frames) {
    if (reader == nullptr || frames == 0 || reader->channels == 0 ||
        !fitsInMemory(frames, reader->channels)) {
        return nullptr;
    }
    const uint64_t bytes = static_cast<uint64_t>(reader->channels) * frames * sizeof(float);
    return static_cast<float*>(malloc(static_cast<size_t>(bytes)));
}
