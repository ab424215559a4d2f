// Writes one benchmark workload: MakeBenchData INPUT.wav INPUT_SECONDS IMPULSE.wav
// IMPULSE_SECONDS. Both files are stereo, 48 kHz, 16-bit, and the same on every run.
#include <cstdio>
#include <cstdlib>

#include "bench/BenchData.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "uso: %s INPUT.wav SECONDI IMPULSO.wav SECONDI\n", argv[0]);
        return 2;
    }
    if (!writeBenchSignal(argv[1], atof(argv[2]), 48000, 2) ||
        !writeBenchImpulse(argv[3], atof(argv[4]), 48000, 2)) {
        fprintf(stderr, "cannot write the files\n");
        return 1;
    }
    return 0;
}
