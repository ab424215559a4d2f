// Standard input as a file: the reader needs to know a file's length and to go back and
// forth in it, which a pipe cannot give, so `-` as INPUT or IMPULSO is first copied whole to
// a temporary file and the job reads that.
#pragma once

#include <cstddef>

enum SpoolResult {
    spoolDone,    // the copy is complete in path
    spoolFailed,  // the copy could not be made: *error says why; nothing is left behind
    spoolStopped, // an interrupt came first; nothing is left behind
};

// Copies standard input to a new temporary file whose name goes to path (capacity bytes),
// looking at the interrupts while it waits for bytes. The file is also removed should an
// interrupt end the process at once; removeSpool removes it at the end.
SpoolResult spoolStandardInput(char* path, size_t capacity, int* error);
void removeSpool(const char* path);
