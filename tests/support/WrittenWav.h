// What every output file the job leaves behind must be, whatever went wrong while it was
// written: the fixed 44-byte header of a 16-bit PCM file whose two size fields agree with
// the file's length, followed by whole frames only. Free of any test framework, so the
// fuzz targets judge their outputs with the same rules as the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WrittenWav {
    bool valid;          // every rule held
    std::string problem; // the first rule broken, empty when valid
    uint32_t channels;   // 1 or 2 when valid
    uint32_t sampleRate; // frames per second stated in the header
    uint64_t frames;     // whole frames after the header
};

WrittenWav checkWrittenWav(const std::vector<uint8_t>& file);
