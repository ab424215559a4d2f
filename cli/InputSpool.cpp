#include "cli/InputSpool.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

namespace {

// How long a wait for bytes lasts before the interrupts are looked at again.
constexpr uint32_t kLookMs = 20;
constexpr size_t kPieceBytes = 1u << 16;

} // namespace

SpoolResult spoolStandardInput(char* path, size_t capacity, int* error) {
    FILE* file = createTemporaryFile(path, capacity, error);
    if (file == nullptr) {
        return spoolFailed;
    }
    removeOnAbruptEnd(path);
    static char piece[kPieceBytes];
    SpoolResult result = spoolDone;
    for (;;) {
        if (interruptReceived() != 0) {
            result = spoolStopped;
            break;
        }
        size_t got = 0;
        const int read = readStandardInput(piece, sizeof piece, &got, kLookMs, error);
        if (read == 0) {
            result = spoolFailed;
            break;
        }
        if (read == 2) {
            continue;
        }
        if (got == 0) {
            break;
        }
        errno = 0;
        if (fwrite(piece, 1, got, file) != got) {
            *error = errno != 0 ? errno : EIO;
            result = spoolFailed;
            break;
        }
    }
    errno = 0;
    if (fclose(file) != 0 && result == spoolDone) {
        *error = errno != 0 ? errno : EIO;
        result = spoolFailed;
    }
    if (result != spoolDone) {
        removeSpool(path);
    }
    return result;
}

void removeSpool(const char* path) {
    removeOnAbruptEnd(nullptr);
    remove(path);
}
