// Files for the fuzz targets: the reader and the job take paths, so each input is written to
// a private scratch folder first. Also the one rule that turns a broken promise into a
// crash libFuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A path in this process's scratch folder, made on first use and removed at exit.
std::string scratchFile(const char* name);

void writeWholeFile(const std::string& path, const uint8_t* data, size_t size);
bool fileIsThere(const std::string& path);

// Prints what was broken and aborts, so libFuzzer records the input as a crash.
[[noreturn]] void broken(const char* what);
inline void require(bool holds, const char* what) {
    if (!holds) {
        broken(what);
    }
}

// The job target's input: the input file's bytes, this marker, the impulse file's bytes.
// Without the marker both files get all the bytes, so a single mutated WAV file still
// drives a whole job.
constexpr char kImpulseMarker[] = "\n--impulse--\n";

struct JobFiles {
    std::vector<uint8_t> input;   // bytes of the recording
    std::vector<uint8_t> impulse; // bytes of the impulse
};
JobFiles splitJobFiles(const uint8_t* data, size_t size);
std::vector<uint8_t> joinJobFiles(const std::vector<uint8_t>& input,
                                  const std::vector<uint8_t>& impulse);
