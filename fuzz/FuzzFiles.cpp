#include "fuzz/FuzzFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/support/TestFiles.h"

std::string scratchFile(const char* name) {
    static const ScratchDir scratch; // removed, with everything in it, when the process ends
    return scratch.file(name);
}

void writeWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    require(file != nullptr, "cannot write a scratch file");
    require(size == 0 || fwrite(data, 1, size, file) == size, "short write to a scratch file");
    require(fclose(file) == 0, "cannot close a scratch file");
}

bool fileIsThere(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void broken(const char* what) {
    fprintf(stderr, "\n*** broken promise: %s\n", what);
    fflush(stderr);
    abort();
}

JobFiles splitJobFiles(const uint8_t* data, size_t size) {
    const uint8_t* end = data + size;
    const auto* marker = reinterpret_cast<const uint8_t*>(kImpulseMarker);
    const uint8_t* at = std::search(data, end, marker, marker + sizeof kImpulseMarker - 1);
    if (at == end) {
        return JobFiles{std::vector<uint8_t>(data, end), std::vector<uint8_t>(data, end)};
    }
    return JobFiles{std::vector<uint8_t>(data, at),
                    std::vector<uint8_t>(at + sizeof kImpulseMarker - 1, end)};
}

std::vector<uint8_t> joinJobFiles(const std::vector<uint8_t>& input,
                                  const std::vector<uint8_t>& impulse) {
    std::vector<uint8_t> out = input;
    out.insert(out.end(), kImpulseMarker, kImpulseMarker + sizeof kImpulseMarker - 1);
    out.insert(out.end(), impulse.begin(), impulse.end());
    return out;
}
