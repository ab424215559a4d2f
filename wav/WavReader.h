// Reading 16-bit PCM RIFF/WAVE files, mono or stereo, as floats (sample x 2^-15).
#pragma once

#include <cstdint>
#include <cstdio>

// The data size by which a writer that cannot go back to its header (one streaming into a
// pipe) says "the data runs to the end of the file".
constexpr uint32_t kDataSizeToEndOfFile = 0xFFFFFFFFu;
// The data size sox leaves when it writes a WAV file into a pipe: "as much as may follow".
// A file that ends before that much data reads it as kDataSizeToEndOfFile; one that really
// holds it, as its size.
constexpr uint32_t kDataSizeSoxPipe = 0x7FFFF000u;

// What a look at a file found, in the order open checks it: open takes a file only when
// nothing is wrong, and diagnose says which rule refused one.
enum WavProblem {
    wavFine,
    wavCannotOpen,     // the system refused the file: systemError says why
    wavEmpty,          // the file has no bytes at all
    wavNotRiffWave,    // it does not start with "RIFF", a size and "WAVE"
    wavRiffSizeZero,   // the RIFF size is 0, so it holds no chunk at all
    wavNoFormatChunk,  // the chunk walk found no "fmt " chunk
    wavFormatTooShort, // the "fmt " chunk declares fewer than 16 bytes: formatSize
    wavFormatCut,      // the file ends inside the 16 bytes of the format
    wavNotPcm,         // formatTag is not 1 (plain PCM)
    wavNotSixteenBits, // bitsPerSample is not 16
    wavBadChannels,    // channels is 0 or more than 2
    wavNoBlockAlign,   // blockAlign is 0: frames cannot be counted
    wavNoDataChunk,    // the chunk walk found no "data" chunk
};

struct WavDiagnosis {
    WavProblem problem;     // the first rule the file breaks, or wavFine
    int systemError;        // an errno value, for wavCannotOpen
    uint32_t formatSize;    // the "fmt " chunk's declared size, once found
    uint32_t formatTag;     // wFormatTag, once the format was read
    uint32_t subFormat;     // for the extensible format (0xFFFE): the tag its sub-format GUID
                            // starts with, when the chunk holds one; otherwise 0
    uint32_t bitsPerSample; // wBitsPerSample, once the format was read
    uint32_t channels;      // nChannels, once the format was read
};

struct WavReader {
    FILE* file;             // open in "rb" until close
    uint32_t sampleRate;    // frames per second, as the file states it
    uint32_t channels;      // 1 or 2
    uint32_t bitsPerSample; // always 16 once open
    uint32_t blockAlign;    // bytes per frame as the file states it; never 0
    uint32_t frames;        // data chunk size / blockAlign (unsigned division); for the size
                            // kDataSizeToEndOfFile (or kDataSizeSoxPipe past the file's end),
                            // the bytes from dataOffset to the end of the file instead (capped
                            // at 2^32 - 1)
    uint32_t framesInFile;  // frames the file really holds whole from dataOffset, as reads step
                            // through them (2 bytes x channels), at most `frames`, counted from
                            // the file's length at open. Frames beyond it read as silence; a
                            // bulk read may still find the left sample of one cut stereo frame.
    uint64_t dataOffset;    // file offset of the first sample byte
    char* streamBuffer;     // what malloc gave for the stream's buffer, or null when the stream
                            // keeps the system's own

    // The reader, positioned at frame 0, or null when the file cannot be opened or is not
    // 16-bit PCM with 1 or 2 channels. After a failure *systemError (when given) holds the
    // system's reason from the call that failed (an errno value), or 0 when the system
    // gave the bytes and they are what open refused.
    static WavReader* open(const char* path, int* systemError = nullptr);
    // Closes the stream and releases the record; accepts null. Always 1.
    static int close(WavReader* reader);
    // Reads the next frame from the stream's position: one float for mono, two for stereo.
    // 1 when a whole frame was read; 0 otherwise, leaving out untouched.
    static int readFrame(WavReader* reader, float* out);
    // Reads up to `frames` frames from the stream's position, as readFrame would one by one,
    // into dst (frames x channels floats). Frames that cannot be read whole are silent.
    // Returns the number of frames read whole.
    static uint32_t readNextFrames(WavReader* reader, float* dst, uint32_t frames);
    // Fills dst with `count` samples of the data, from its sample `first` on, whatever the
    // stream's position (so pieces read one after another give the whole data). Samples the
    // file does not hold read as 0. 1, or 0 when the seek fails.
    static int readSamples(WavReader* reader, float* dst, uint64_t first, uint64_t count);
    // Frames a bulk read finds at least in part: framesInFile, and the one the file may end
    // inside (a bulk read takes its first sample), at most `frames`. The rest read as silence.
    static uint32_t framesToLoad(const WavReader* reader);
    // Whether `frames` frames of `channels` floats are few enough to be loaded at once: the
    // one limit on every loaded buffer, which the job, the command line's reasons and the
    // fuzz targets all ask here.
    static bool fitsInMemory(uint64_t frames, uint32_t channels);
    // A new malloc'ed buffer for `frames` frames (frames x channels floats), not yet filled,
    // or null: for a null reader, no frames, a buffer that does not fit in memory, or no
    // memory.
    static float* allocateFrames(WavReader* reader, uint32_t frames);

    // A separate look at a file that open refused, to say why: the same checks in the same
    // order, stopping at the first that fails. Opens nothing that it leaves open.
    static WavDiagnosis diagnose(const char* path);
};
