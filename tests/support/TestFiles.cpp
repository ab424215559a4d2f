#include "tests/support/TestFiles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path dir = fs::temp_directory_path() / ("convoluzione-test-" + std::to_string(stamp) + "-" +
                                                std::to_string(counter.fetch_add(1)));
    fs::create_directories(dir);
    path = dir.generic_string();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

Bytes readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes le16(uint16_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}

Bytes le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

static Bytes idBytes(const char* id) {
    return Bytes(id, id + 4);
}

Bytes chunkWithSize(const char* id, uint32_t size, const Bytes& payload) {
    Bytes out = concat({idBytes(id), le32(size), payload});
    if (payload.size() % 2 == 1) {
        out.push_back(0);
    }
    return out;
}

Bytes chunk(const char* id, const Bytes& payload) {
    return chunkWithSize(id, static_cast<uint32_t>(payload.size()), payload);
}

Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                 uint16_t bits) {
    return concat({le16(tag), le16(channels), le32(rate), le32(rate * blockAlign), le16(blockAlign),
                   le16(bits)});
}

Bytes pcmFormatChunk(uint16_t channels, uint32_t rate) {
    return chunk("fmt ", formatBody(1, channels, rate, static_cast<uint16_t>(channels * 2), 16));
}

Bytes sampleBytes(const std::vector<int16_t>& samples) {
    Bytes out;
    for (int16_t s : samples) {
        const Bytes b = le16(static_cast<uint16_t>(s));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

Bytes riffWithSize(uint32_t size, const std::vector<Bytes>& chunks) {
    return concat({idBytes("RIFF"), le32(size), idBytes("WAVE"), concat(chunks)});
}

Bytes riff(const std::vector<Bytes>& chunks) {
    const Bytes body = concat(chunks);
    return riffWithSize(static_cast<uint32_t>(body.size() + 4), chunks);
}

Bytes pcmWav(uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
    return riff({pcmFormatChunk(channels, rate), chunk("data", sampleBytes(samples))});
}

uint32_t fieldLe32(const Bytes& file, size_t offset) {
    return static_cast<uint32_t>(file.at(offset)) |
           (static_cast<uint32_t>(file.at(offset + 1)) << 8) |
           (static_cast<uint32_t>(file.at(offset + 2)) << 16) |
           (static_cast<uint32_t>(file.at(offset + 3)) << 24);
}

std::vector<int16_t> samplesAfterHeader(const Bytes& file) {
    std::vector<int16_t> out;
    for (size_t at = 44; at + 1 < file.size(); at += 2) {
        out.push_back(static_cast<int16_t>(file[at] | (file[at + 1] << 8)));
    }
    return out;
}
