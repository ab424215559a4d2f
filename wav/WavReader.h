// Reading 16-bit PCM RIFF/WAVE files, mono or stereo, as floats (sample x 2^-15).
#pragma once

#include <cstdint>
#include <cstdio>

struct WavReader {
    FILE* file;             // open in "rb" until close
    uint32_t sampleRate;    // frames per second, as the file states it
    uint32_t channels;      // 1 or 2
    uint32_t bitsPerSample; // always 16 once open
    uint32_t blockAlign;    // bytes per frame as the file states it; never 0
    uint32_t frames;        // data chunk size / blockAlign (unsigned division)
    uint64_t dataOffset;    // file offset of the first sample byte
    uint32_t startFrame;    // first frame of bulk reads; 0

    // The reader, positioned at frame 0, or null when the file cannot be opened or is not
    // 16-bit PCM with 1 or 2 channels.
    static WavReader* open(const char* path);
    // Closes the stream and releases the record; accepts null. Always 1.
    static int close(WavReader* reader);
    // Reads the next frame from the stream's position: one float for mono, two for stereo.
    // 1 when a whole frame was read; 0 otherwise, leaving out untouched.
    static int readFrame(WavReader* reader, float* out);
    // Reads up to `frames` frames from the stream's position, as readFrame would one by one,
    // into dst (frames x channels floats). Frames that cannot be read whole are silent.
    // Returns the number of frames read whole.
    static uint32_t readNextFrames(WavReader* reader, float* dst, uint32_t frames);
    // Fills dst with frames x channels floats starting at startFrame. Samples the file does
    // not hold read as 0. The number of samples asked for, or 0 on failure (or when 0).
    static uint64_t readFrames(WavReader* reader, float* dst, uint32_t frames);
    // The whole data as a new malloc'ed buffer of frames x channels floats (the caller frees
    // it), or null: for a null reader, no frames, a buffer over 4 GiB, or no memory.
    static float* loadAll(WavReader* reader);
};
