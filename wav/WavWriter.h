// Writing a 16-bit PCM RIFF/WAVE file with the fixed 44-byte header.
#pragma once

#include <cstdint>
#include <cstdio>

#include "wav/SampleConversion.h"

// Every file the writer makes starts with this many bytes of header: RIFF, the format and
// the data chunk's header.
constexpr uint64_t kWavHeaderBytes = 44;

// How often, at most, the size fields are brought up to date while a file is written.
constexpr uint64_t kHeaderUpdateMs = 1000;

// Samples the writer gathers, converted, before handing them to the file in one write
// (256 KiB). One write per conversion block would cost a system call per 2 KiB, a tenth of
// the time a whole job spends on its output; the system's own work per byte is also a
// quarter lower for 256 KiB than for 64 KiB (2.2-2.5 against 2.8-3.4 ms for a minute of
// mono inside a job).
constexpr uint32_t kWriteBlockSamples = 128 * kConversionBlock;
// The first block is shorter by the header, so that every later write starts on a block
// boundary of the file. The system copies a write into the file's pages about a third
// faster when it starts on a page than 44 bytes in, where some buffer addresses (20 bytes
// into a page) also made the copy twice as slow. A whole number of frames, mono or stereo.
constexpr uint32_t kFirstBlockSamples = kWriteBlockSamples - kWavHeaderBytes / 2;
static_assert(kFirstBlockSamples % 2 == 0, "a block holds whole stereo frames");

// Where a writer writes, and what it knows before the first frame.
struct WavTarget {
    const char* path;    // the file to create; null to write on `stream` instead
    FILE* stream;        // an open stream (standard output) when path is null; left open
    uint32_t sampleRate; // frames per second
    uint32_t channels;   // 1 or 2
    uint32_t frames;     // the frames the job means to write: the sizes a stream that cannot
                         // seek carries in its header from the start
    int mustBeNew;       // 1: fail (EEXIST) rather than replace a file already at path
};

struct WavWriter {
    FILE* file;                // unbuffered: `block` is the only buffer
    uint32_t sampleRate;       // frames per second, written into the header
    uint32_t channels;         // 1 or 2 samples per frame
    uint32_t framesWritten;    // frames accepted so far; after a failed write, the frames
                               // that reached the file whole
    uint32_t framesPromised;   // for a stream that cannot seek: the frames its header counts
                               // from the start; 0 for a file whose header is kept up to date
    uint32_t pendingSamples;   // samples converted into `block` and not yet written
    int failed;                // 1 once the file refused bytes; nothing more is written
    int systemError;           // the system's reason for the first refusal (an errno value)
    int ownsFile;              // 1 when finish closes the file (0 for standard output)
    uint32_t framesInHeader;   // the frames the size fields count now
    uint64_t headerUpdatedMs;  // monotonic time at which the size fields last matched
                               // what had been written (at create: both 0)
    uint64_t saturatedSamples; // samples so far that had to be clamped to 16 bits
    float saturationPeak;      // largest magnitude among them (1.0 = full scale); 0
                               // while there are none
    uint8_t block[kWriteBlockSamples * 2]; // converted samples, 16-bit little-endian

    // True when a file of `frames` frames of `channels` 16-bit samples fits the format: its
    // length, header included, stays within 32 bits (4 GiB - 1).
    static bool fits(uint64_t frames, uint32_t channels);
    // Creates (or empties) the file, holding an exclusive lock on it until finish, or takes
    // the stream, and writes the header: with both sizes 0 where they can be brought up to
    // date later, and with the sizes of target.frames on a stream that cannot seek (a pipe,
    // a FIFO, a device). Null on failure, with *systemError (when given) set to the
    // system's reason, leaving whatever part of the file was written.
    static WavWriter* open(const WavTarget& target, int* systemError = nullptr);
    // open for a file at path whose length is not known beforehand.
    static WavWriter* create(const char* path, uint32_t sampleRate, uint32_t channels);
    // Appends frames x channels floats, each scaled by 32768, truncated toward zero and
    // saturated (NaN becomes 0). 1 on success; 0 once the file has refused a write. The size
    // fields are set to cover everything written so far after the first block that goes to
    // the file, and again whenever a block goes kHeaderUpdateMs or more after the last
    // update, so a process that dies before finish still leaves a WAV file holding all but
    // its last moments of work.
    static int writeFrames(WavWriter* writer, const float* src, uint32_t frames);
    // Writes what is pending, cuts the file after the last whole frame when a write had
    // failed, patches both size fields (not on a stream that cannot seek, whose header said
    // it all), closes the stream and releases the record. 1 when every byte handed over is
    // in the file and the header is right, 0 otherwise, with *systemError (when given) set
    // to the system's reason for the first refusal.
    static int finish(WavWriter* writer, int* systemError = nullptr);
};
