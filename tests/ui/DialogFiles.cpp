#include "tests/ui/DialogFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "wav/WavWriter.h"

namespace {

constexpr uint32_t kRate = 44100;

// Deterministic noise at a modest level; what the samples are does not matter here.
bool writeNoise(const std::string& path, uint32_t channels, uint32_t frames, uint32_t seed) {
    WavWriter* writer = WavWriter::create(path.c_str(), kRate, channels);
    if (writer == nullptr) {
        return false;
    }
    std::vector<float> block(4096 * channels);
    uint32_t state = seed;
    bool ok = true;
    for (uint32_t at = 0; at < frames && ok;) {
        const uint32_t count = frames - at < 4096 ? frames - at : 4096;
        for (uint32_t i = 0; i < count * channels; ++i) {
            state = state * 1664525u + 1013904223u;
            block[i] = static_cast<float>(static_cast<int32_t>(state >> 16) - 32768) / 131072.0f;
        }
        ok = WavWriter::writeFrames(writer, block.data(), count) == 1;
        at += count;
    }
    return WavWriter::finish(writer) == 1 && ok;
}

bool writeText(const std::string& path, const char* text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = fputs(text, file) >= 0;
    return fclose(file) == 0 && ok;
}

DialogFiles makeFiles() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    DialogFiles files;
    files.folder =
        std::string(temp) + "convoluzione-dialog-" + std::to_string(GetCurrentProcessId());
    std::filesystem::create_directories(files.folder);
    files.input = files.folder + "\\chitarra.wav";
    files.impulse = files.folder + "\\stanza.wav";
    files.longInput = files.folder + "\\lunga.wav";
    files.longImpulse = files.folder + "\\sala.wav";
    files.notWave = files.folder + "\\appunti.wav";
    files.subfolder = files.folder + "\\cartella";
    files.missing = files.folder + "\\assente.wav";
    std::filesystem::create_directories(files.subfolder);
    const bool made = writeNoise(files.input, 1, 2000, 1) && writeNoise(files.impulse, 2, 100, 2) &&
                      writeNoise(files.longInput, 2, 1u << 22, 3) &&
                      writeNoise(files.longImpulse, 2, 65536, 4) &&
                      writeText(files.notWave, "non sono un file wave\n");
    if (!made) {
        fprintf(stderr, "cannot write the test files in %s\n", files.folder.c_str());
        std::abort();
    }
    return files;
}

// Removes the folder when the test program ends.
class FilesCleanup : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dialogFiles().folder, ignored);
    }
};

const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new FilesCleanup);

} // namespace

const DialogFiles& dialogFiles() {
    static const DialogFiles files = makeFiles();
    return files;
}

std::string freshOutputPath(const char* stem) {
    static int counter = 0;
    return dialogFiles().folder + "\\" + stem + "-" + std::to_string(++counter) + ".wav";
}

WavHeaderOnDisk readWavHeader(const std::string& path) {
    WavHeaderOnDisk header{};
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    FILE* file = fopen(path.c_str(), "rb");
    if (error || file == nullptr) {
        if (file != nullptr) {
            fclose(file);
        }
        return header;
    }
    unsigned char bytes[44] = {};
    const bool whole = fread(bytes, 1, sizeof bytes, file) == sizeof bytes;
    fclose(file);
    if (!whole) {
        return header;
    }
    auto le32 = [&bytes](int at) {
        return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
               static_cast<uint32_t>(bytes[at + 2]) << 16 |
               static_cast<uint32_t>(bytes[at + 3]) << 24;
    };
    auto le16 = [&bytes](int at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
    header.readable = true;
    header.fileSize = size;
    header.riffSize = le32(4);
    header.channels = le16(22);
    header.blockAlign = le16(32);
    header.dataSize = le32(40);
    return header;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
