#include "tests/support/WrittenWav.h"

#include <cstring>

namespace {

uint32_t le32At(const std::vector<uint8_t>& file, size_t offset) {
    return static_cast<uint32_t>(file[offset]) | (static_cast<uint32_t>(file[offset + 1]) << 8) |
           (static_cast<uint32_t>(file[offset + 2]) << 16) |
           (static_cast<uint32_t>(file[offset + 3]) << 24);
}

uint32_t le16At(const std::vector<uint8_t>& file, size_t offset) {
    return static_cast<uint32_t>(file[offset]) | (static_cast<uint32_t>(file[offset + 1]) << 8);
}

bool idAt(const std::vector<uint8_t>& file, size_t offset, const char* id) {
    return memcmp(file.data() + offset, id, 4) == 0;
}

WrittenWav broken(const char* problem) {
    return WrittenWav{false, problem, 0, 0, 0};
}

} // namespace

WrittenWav checkWrittenWav(const std::vector<uint8_t>& file) {
    if (file.size() < 44) {
        return broken("shorter than the 44-byte header");
    }
    const uint64_t length = file.size();
    const uint32_t channels = le16At(file, 22);
    const uint32_t rate = le32At(file, 24);
    if (!idAt(file, 0, "RIFF") || !idAt(file, 8, "WAVE") || !idAt(file, 12, "fmt ") ||
        !idAt(file, 36, "data")) {
        return broken("chunk ids are not RIFF/WAVE/fmt /data");
    }
    if (le32At(file, 16) != 16 || le16At(file, 20) != 1 || le16At(file, 34) != 16) {
        return broken("format chunk is not 16 bytes of 16-bit PCM");
    }
    if (channels != 1 && channels != 2) {
        return broken("channel count is not 1 or 2");
    }
    if (le32At(file, 28) != rate * channels * 2 || le16At(file, 32) != channels * 2) {
        return broken("byte rate or block align disagrees with the channels");
    }
    if (le32At(file, 4) != length - 8) {
        return broken("RIFF size is not the file length - 8");
    }
    if (le32At(file, 40) != length - 44) {
        return broken("data size is not the file length - 44");
    }
    if ((length - 44) % (2 * channels) != 0) {
        return broken("the data ends in the middle of a frame");
    }
    return WrittenWav{true, "", channels, rate, (length - 44) / (2 * channels)};
}
