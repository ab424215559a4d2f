// The files the dialog tests work on, made once per run in a temporary folder.
#pragma once

#include <cstdint>
#include <string>

struct DialogFiles {
    std::string folder;      // everything below lives here, removed at the end
    std::string input;       // 2000 frames, mono
    std::string impulse;     // 100 frames, stereo
    std::string longInput;   // 2^22 frames, stereo: a job that outlasts any test step
    std::string longImpulse; // 65536 frames, stereo
    std::string notWave;     // a text file
    std::string subfolder;   // a folder, which no path field may name
    std::string missing;     // a name that does not exist
};

const DialogFiles& dialogFiles();
// A new file name in the folder, not yet created.
std::string freshOutputPath(const char* stem);

// The 44-byte header our writer produces, as found on disk.
struct WavHeaderOnDisk {
    bool readable; // the file exists and holds at least 44 bytes
    uint64_t fileSize;
    uint32_t riffSize; // bytes after the RIFF size field
    uint16_t channels;
    uint16_t blockAlign;
    uint32_t dataSize; // bytes of samples
};
WavHeaderOnDisk readWavHeader(const std::string& path);

bool fileExists(const std::string& path);
