// Walking the chunks of a RIFF file to find one by its id.
#pragma once

#include <cstdint>
#include <cstdio>

struct ChunkRecord {
    uint32_t id;            // the four id bytes as one little-endian value
    uint32_t size;          // payload size as stored (the pad byte of an odd size not counted)
    uint64_t payloadOffset; // file offset of the first payload byte, set when found
};

// Reads an 8-byte chunk header (id, size) as one item; 1 on success.
int readChunkHeader(FILE* file, ChunkRecord& chunk);

// Looks for the first chunk with the wanted id among the children of parent. For a RIFF
// header (id "RIFF") the walk starts at offset 12, just after "WAVE"; for any other parent
// at its payload offset. The parent's size bounds the walk, but only when it runs out
// exactly at a chunk boundary: the count wraps instead of going negative. On success the
// stream stands at the chunk's first payload byte.
int findChunk(FILE* file, const ChunkRecord& parent, ChunkRecord& chunk, uint32_t wantedId);
