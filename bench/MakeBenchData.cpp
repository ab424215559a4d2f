// Writes one benchmark workload:
//   MakeBenchData INPUT.wav INPUT_SECONDS IMPULSE.wav IMPULSE_SECONDS [--mono]
//                 [--stem SILENT_SHARE] [--zero-tail SHARE]
// Both files are 48 kHz, 16-bit, stereo (mono with --mono), and the same on every run. The
// input is the busy signal, or with --stem a stem whose SILENT_SHARE (0 ... 1) is exact
// silence; the impulse decays by 60 dB, or with --zero-tail ends in SHARE exact zeros.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/BenchData.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr,
                "usage: %s INPUT.wav SECONDS IMPULSE.wav SECONDS [--mono] [--stem SHARE] "
                "[--zero-tail SHARE]\n",
                argv[0]);
        return 2;
    }
    uint32_t channels = 2;
    double silentShare = -1;
    double zeroTail = 0;
    for (int i = 5; i < argc; ++i) {
        if (strcmp(argv[i], "--mono") == 0) {
            channels = 1;
        } else if (strcmp(argv[i], "--stem") == 0 && i + 1 < argc) {
            silentShare = atof(argv[++i]);
        } else if (strcmp(argv[i], "--zero-tail") == 0 && i + 1 < argc) {
            zeroTail = atof(argv[++i]);
        } else {
            fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    const double inputSeconds = atof(argv[2]);
    const int input = silentShare >= 0
                          ? writeBenchStem(argv[1], inputSeconds, 48000, channels, silentShare)
                          : writeBenchSignal(argv[1], inputSeconds, 48000, channels);
    if (!input || !writeBenchImpulse(argv[3], atof(argv[4]), 48000, channels, zeroTail)) {
        fprintf(stderr, "cannot write the files\n");
        return 1;
    }
    return 0;
}
