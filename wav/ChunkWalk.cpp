#include "wav/ChunkWalk.h"

#include "platform/Platform.h"
#include "wav/LittleEndian.h"

namespace {

// Moves forward by count bytes, never backwards. A seek past the end of the file succeeds;
// the next header read then fails and ends the walk.
int seekForward(FILE* file, uint64_t count) {
    uint64_t position = 0;
    if (!tellPosition(file, &position) || count > static_cast<uint64_t>(INT64_MAX) - position) {
        return 0;
    }
    return seekAbsolute(file, position + count);
}

} // namespace

int readChunkHeader(FILE* file, ChunkRecord& chunk) {
    uint8_t header[8];
    if (fread(header, sizeof header, 1, file) != 1) {
        return 0;
    }
    chunk.id = readLe32(header);
    chunk.size = readLe32(header + 4);
    return 1;
}

int findChunk(FILE* file, const ChunkRecord& parent, ChunkRecord& chunk, uint32_t wantedId) {
    uint32_t remaining = parent.size;
    const uint64_t start = parent.id == fourCc("RIFF") ? 12 : parent.payloadOffset;
    int seekOk = seekAbsolute(file, start);
    for (;;) {
        if (!seekOk || remaining == 0) {
            return 0;
        }
        ChunkRecord header{};
        if (!readChunkHeader(file, header)) {
            return 0;
        }
        if (header.id == wantedId) {
            if (!tellPosition(file, &header.payloadOffset)) {
                return 0;
            }
            chunk = header;
            return 1;
        }
        // In 64 bits, so a size of 0xFFFFFFFF skips 2^32 bytes rather than wrapping to 0.
        const uint64_t padded = static_cast<uint64_t>(header.size) + (header.size & 1u);
        remaining -= static_cast<uint32_t>(8 + padded);
        seekOk = seekForward(file, padded);
    }
}
