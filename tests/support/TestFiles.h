// Files for tests: a scratch folder per test, whole-file reads and writes, and WAV files
// built byte by byte so each test shows exactly what it feeds the reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh folder, removed with everything in it when the record goes.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

Bytes readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const Bytes& bytes);

// Pieces of a RIFF file.
Bytes le16(uint16_t value);
Bytes le32(uint32_t value);
Bytes concat(const std::vector<Bytes>& parts);
// A chunk: id, size (the payload's, unless given), payload, pad byte when odd.
Bytes chunk(const char* id, const Bytes& payload);
Bytes chunkWithSize(const char* id, uint32_t size, const Bytes& payload);
// The 16-byte format body, and a "fmt " chunk around it.
Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                 uint16_t bits);
Bytes pcmFormatChunk(uint16_t channels, uint32_t rate);
Bytes sampleBytes(const std::vector<int16_t>& samples);
// "RIFF", size (file length - 8 unless given), "WAVE", then the chunks.
Bytes riff(const std::vector<Bytes>& chunks);
Bytes riffWithSize(uint32_t size, const std::vector<Bytes>& chunks);
// A plain 16-bit PCM file as the writer makes it.
Bytes pcmWav(uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples);

// Header fields of a written file.
uint32_t fieldLe32(const Bytes& file, size_t offset);
// The samples after a 44-byte header.
std::vector<int16_t> samplesAfterHeader(const Bytes& file);
