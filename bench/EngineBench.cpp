// Engine benchmark: on the same generated recording and impulse, the literal engine, the
// fast engine on one thread and on all threads, and the register-only multiply-add loop of
// the same instruction set, each as terms per second, with the ratios between them.
//
// Usage at main. The literal engine is slow (about half a billion terms per second), so it
// runs on the first seconds of the same recording only; its rate does not depend on the
// input's length.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchData.h"
#include "bench/PeakLoop.h"
#include "convolution/Convolve.h"
#include "convolution/EnginePaths.h"
#include "platform/Platform.h"
#include "tests/support/LoadWav.h"

namespace {

constexpr uint32_t kRate = 48000;
// Rounds of paired measurements (see benchWorkload).
constexpr int kRounds = 7;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Timing {
    double seconds;      // wall time of the whole call, files included
    double cpuSeconds;   // process CPU time of the call, all threads (std::clock)
    double definedTerms; // (M + N) x N per output channel: the literal engine's count
    double realTerms;    // M x N per output channel: terms that meet real input frames
    ConvolveResult result;
};

// Runs one engine call on the files the way the job does, writing to `outPath`.
Timing runOnce(const std::string& inPath, const std::string& impulsePath,
               const std::string& outPath, EngineOptions options) {
    Timing timing{};
    WavReader* input = WavReader::open(inPath.c_str());
    WavReader* impulse = WavReader::open(impulsePath.c_str());
    if (input == nullptr || impulse == nullptr) {
        fprintf(stderr, "cannot open the generated files\n");
        exit(1);
    }
    float* taps = loadAll(impulse);
    const uint32_t outChannels = outputChannelsFor(input->channels, impulse->channels);
    WavWriter* output = WavWriter::create(outPath.c_str(), input->sampleRate, outChannels);
    JobProgress progress{};
    const double m = input->frames;
    const double n = impulse->frames;
    timing.definedTerms = (m + n) * n * outChannels;
    timing.realTerms = m * n * outChannels;
    const double start = now();
    const std::clock_t cpuStart = std::clock();
    timing.result = convolve(Impulse{taps, impulse->frames, impulse->frames, impulse->channels},
                             EngineIo{input, output, &progress, StopCheck{}}, options);
    WavWriter::finish(output);
    timing.seconds = now() - start;
    timing.cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    free(taps);
    WavReader::close(input);
    WavReader::close(impulse);
    return timing;
}

struct PeakRate {
    double perSecond;    // lane multiply-adds per second of wall time
    double perCpuSecond; // per second of process CPU time
};

// The median and the extremes of a few paired ratios.
struct Spread {
    double median;
    double low;
    double high;
};

Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return Spread{median, values.front(), values.back()};
}

// An engine rate against the mean of the peak rates measured just before and after it.
double pairedRatio(double rate, double peakBefore, double peakAfter) {
    return rate / ((peakBefore + peakAfter) / 2);
}

// One run of the peak loop on `threads` threads at once.
PeakRate peakRate(PeakLoop loop, unsigned threads) {
    const uint64_t rounds = 40000000;
    std::vector<float> sinks(threads);
    std::vector<uint64_t> lanes(threads);
    std::vector<std::thread> pool;
    const double start = now();
    const std::clock_t cpuStart = std::clock();
    for (unsigned t = 1; t < threads; ++t) {
        pool.emplace_back([&, t] { lanes[t] = loop(rounds, &sinks[t]); });
        moveOffCallersProcessor(pool.back());
    }
    lanes[0] = loop(rounds, &sinks[0]);
    for (std::thread& thread : pool) {
        thread.join();
    }
    const double seconds = now() - start;
    const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    double total = 0;
    for (uint64_t l : lanes) {
        total += static_cast<double>(l);
    }
    return PeakRate{total / seconds, total / cpuSeconds};
}

// Block sizes forced from the environment (CONVOLUZIONE_LANE_FRAMES, CONVOLUZIONE_TILE_TAPS),
// to try other sizes without rebuilding; unset, the engine chooses.
unsigned sizeFromEnvironment(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? static_cast<unsigned>(atoi(value)) : 0;
}

EngineOptions options(EnginePath path, unsigned threads, bool forceDoubleChain = false) {
    EngineOptions chosen{};
    chosen.path = path;
    chosen.threads = threads;
    chosen.forceDoubleChain = forceDoubleChain;
    chosen.laneFrames = sizeFromEnvironment("CONVOLUZIONE_LANE_FRAMES");
    chosen.tileTaps = sizeFromEnvironment("CONVOLUZIONE_TILE_TAPS");
    return chosen;
}

// The machine's load average where the system tells it (Linux), to print beside figures
// taken on a machine that may be shared; empty elsewhere.
std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(file >> one >> five >> fifteen)) {
        return "";
    }
    return "load average " + one + " " + five + " " + fifteen;
}

void printRate(const char* what, double terms, double seconds) {
    printf("  %-34s %8.3f s  %10.3e terms/s\n", what, seconds, terms / seconds);
}

// convoluzione-bench --files INPUT IMPULSE OUTPUT [RUNS]: the engine alone on these files as
// the job runs it (the path this CPU picks, one thread per core or CONVOLUZIONE_THREADS,
// output finished), RUNS
// times (5): each run's wall time, then the median. bench/end-to-end.sh sets it beside the
// command-line program's own time on the same files.
int timeFiles(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s --files INPUT IMPULSE OUTPUT [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 5 ? std::max(1, atoi(argv[5])) : 5;
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        EngineOptions chosen{};
        chosen.threads = sizeFromEnvironment("CONVOLUZIONE_THREADS"); // unset: one per core
        const Timing timing = runOnce(argv[2], argv[3], argv[4], chosen);
        seconds.push_back(timing.seconds);
        printf("engine run %d: %.3f s\n", run + 1, timing.seconds);
    }
    printf("engine median: %.3f s\n", spread(seconds).median);
    return 0;
}

// One workload's figures, for the summary at the end.
struct Summary {
    std::string workload;  // "10 s x 0.5 s"
    std::string path;      // the instruction set
    double oneThread;      // fast/peak on real-input terms, 1 thread, in percent
    double allThreads;     // likewise on all threads
    double againstLiteral; // fast (all threads) / literal, or 0 when not measured
};

// The material of a workload: the busy signal and the dense room impulse, or what real jobs
// are full of (BenchData.h).
struct Material {
    double silentShare; // of the input, in runs of 0.5 s or more (a stem); < 0: busy signal
    double zeroTail;    // of the impulse, exact zeros at its end
};
constexpr Material kDense{-1, 0};

// Measures one workload: a stereo input of inputSeconds against a stereo impulse of
// impulseSeconds, the literal engine on the first literalSeconds of the input (0: not run,
// since its time grows with N^2), every fast path against its own peak loop, and the
// exact double chains on the literal engine's input. With silence in the material the
// percentages count the terms as if there were none, so they pass 100 %: what the
// silence saves.
void benchWorkload(double inputSeconds, double impulseSeconds, double literalSeconds,
                   std::vector<Summary>& summary, Material material = kDense) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "convoluzione-bench";
    fs::create_directories(dir);
    const std::string inPath = (dir / "input.wav").string();
    const std::string literalPath = (dir / "input-prefix.wav").string();
    const std::string impulsePath = (dir / "impulse.wav").string();
    const std::string outPath = (dir / "output.wav").string();
    const int input = material.silentShare >= 0
                          ? writeBenchStem(inPath, inputSeconds, kRate, 2, material.silentShare)
                          : writeBenchSignal(inPath, inputSeconds, kRate, 2);
    if (!input || !writeBenchSignal(literalPath, literalSeconds, kRate, 2) ||
        !writeBenchImpulse(impulsePath, impulseSeconds, kRate, 2, material.zeroTail)) {
        fprintf(stderr, "cannot write the benchmark files in %s\n", dir.string().c_str());
        exit(1);
    }
    char workload[64];
    snprintf(workload, sizeof workload, "%g s%s x %g s%s", inputSeconds,
             material.silentShare >= 0 ? " stem" : "", impulseSeconds,
             material.zeroTail > 0 ? " tail" : "");
    printf("\n== stereo input %.2f s, stereo impulse %.2f s, %u Hz; %u cores; %s\n", inputSeconds,
           impulseSeconds, kRate, cores, loadAverage().c_str());
    if (material.silentShare >= 0 || material.zeroTail > 0) {
        printf("the input a stem %.0f %% silent, the impulse's last %.0f %% zeros\n",
               100 * std::max(0.0, material.silentShare), 100 * material.zeroTail);
    }

    double literalRate = 0;
    if (literalSeconds > 0) {
        const Timing literal =
            runOnce(literalPath, impulsePath, outPath, options(enginePathReference, 1));
        printf("literal engine (first %.2f s of the input):\n", literalSeconds);
        printRate("literal", literal.definedTerms, literal.seconds);
        literalRate = literal.definedTerms / literal.seconds;
    }

    bool first = true;
    // The instruction-set paths from the fastest: the first this CPU has is the default.
    for (size_t i = kEnginePathCount; i-- > 0;) {
        const EnginePathRow& c = kEnginePaths[i];
        const PeakLoop peak = peakLoopFor(c.path);
        if (!enginePathAvailable(c.path) || peak == nullptr) {
            continue;
        }
        printf("%s%s:\n", c.name, first ? " (the path taken by default)" : "");
        first = false;
        // The machine may be shared and its speed drifts: each engine run is set against the
        // peak loop run just before and just after it on as many threads, and a percentage
        // is the median of those paired ratios over kRounds rounds, so that a slow spell
        // moves both sides of a ratio alike. The times and peak rates printed are the best.
        Timing one{};
        Timing all{};
        double peakOne = 0;
        double peakAll = 0;
        std::vector<double> oneRatios, allRatios, allCpuRatios;
        for (int round = 0; round < kRounds; ++round) {
            const PeakRate oneBefore = peakRate(peak, 1);
            const Timing t1 = runOnce(inPath, impulsePath, outPath, options(c.path, 1));
            const PeakRate oneAfter = peakRate(peak, 1);
            const PeakRate allBefore = peakRate(peak, cores);
            const Timing tn = runOnce(inPath, impulsePath, outPath, options(c.path, cores));
            const PeakRate allAfter = peakRate(peak, cores);
            oneRatios.push_back(
                pairedRatio(t1.realTerms / t1.seconds, oneBefore.perSecond, oneAfter.perSecond));
            allRatios.push_back(
                pairedRatio(tn.realTerms / tn.seconds, allBefore.perSecond, allAfter.perSecond));
            allCpuRatios.push_back(pairedRatio(tn.realTerms / tn.cpuSeconds, allBefore.perCpuSecond,
                                               allAfter.perCpuSecond));
            peakOne = std::max({peakOne, oneBefore.perSecond, oneAfter.perSecond});
            peakAll = std::max({peakAll, allBefore.perSecond, allAfter.perSecond});
            if (round == 0 || t1.seconds < one.seconds) {
                one = t1;
            }
            if (round == 0 || tn.seconds < all.seconds) {
                all = tn;
            }
        }
        printRate("fast, 1 thread", one.definedTerms, one.seconds);
        printRate("fast, all threads", all.definedTerms, all.seconds);
        printf("  %-34s %21.3e terms/s\n", "peak loop, 1 thread", peakOne);
        printf("  %-34s %21.3e terms/s\n", "peak loop, all threads", peakAll);
        const double oneRate = one.definedTerms / one.seconds;
        const double allRate = all.definedTerms / all.seconds;
        if (literalRate > 0) {
            printf("  fast/literal: %.0fx on 1 thread, %.0fx on all threads\n",
                   oneRate / literalRate, allRate / literalRate);
        }
        // The engine leaves out the terms on the silence around the input, so against the
        // peak it is measured by the terms it cannot leave out: M x N per output channel.
        const Spread oneSpread = spread(oneRatios);
        const Spread allSpread = spread(allRatios);
        const double onePercent = 100 * oneSpread.median;
        const double allPercent = 100 * allSpread.median;
        printf("  fast/peak (terms on real input): %.1f%% on 1 thread (rounds %.1f to %.1f), "
               "%.1f%% on all threads (%.1f to %.1f)\n",
               onePercent, 100 * oneSpread.low, 100 * oneSpread.high, allPercent,
               100 * allSpread.low, 100 * allSpread.high);
        // On a shared machine the threads may not get a core each; CPU time does not count
        // the waiting. (std::clock is process CPU time on Linux, wall time on Windows.)
        printf("  per CPU-second on all threads: %.1f%%\n", 100 * spread(allCpuRatios).median);
        // All defined terms, M + N per output frame: the same runs scaled by (M + N) / M.
        printf("  fast/peak (all defined terms):   %.1f%% on 1 thread, %.1f%% on all threads\n",
               onePercent * one.definedTerms / one.realTerms,
               allPercent * all.definedTerms / all.realTerms);
        summary.push_back(Summary{workload, c.name, onePercent, allPercent,
                                  literalRate > 0 ? allRate / literalRate : 0});
    }
    if (literalSeconds > 0) {
        // The slower paths, on the shorter input: what a CPU without a vector unit gets, and
        // what an impulse off the 16-bit grid costs.
        printf("exact double chain (forced), 1 thread, on the first %.2f s of the input:\n",
               literalSeconds);
        for (size_t i = kEnginePathCount; i-- > 0;) {
            const EnginePathRow& c = kEnginePaths[i];
            if (enginePathAvailable(c.path)) {
                const Timing chain =
                    runOnce(literalPath, impulsePath, outPath, options(c.path, 1, true));
                printRate(c.name, chain.definedTerms, chain.seconds);
            }
        }
    }
    fs::remove_all(dir);
}

} // namespace

PeakLoop peakLoopFor(EnginePath path) {
    switch (path) {
    case enginePathAvx2:
        return peakLoopAvx2();
    case enginePathAvx512:
        return peakLoopAvx512();
    case enginePathNeon:
        return peakLoopNeon();
    case enginePathAuto:
    case enginePathReference:
    case enginePathPortable:
    case enginePathCount:
        return nullptr;
    }
    return nullptr;
}

// convoluzione-bench --peak: the peak loop of the path this CPU takes on all cores, in
// terms per second (median of 5), for bench/end-to-end.sh.
int printPeak() {
    for (size_t i = kEnginePathCount; i-- > 0;) {
        const PeakLoop peak = peakLoopFor(kEnginePaths[i].path);
        if (peak != nullptr && enginePathAvailable(kEnginePaths[i].path)) {
            std::vector<double> rates;
            for (int run = 0; run < 5; ++run) {
                rates.push_back(
                    peakRate(peak, std::max(1u, std::thread::hardware_concurrency())).perSecond);
            }
            printf("%.6e\n", spread(rates).median);
            return 0;
        }
    }
    fprintf(stderr, "no vector path on this CPU\n");
    return 1;
}

// convoluzione-bench: the standard workloads (10 s x 0.5 s with the literal engine on 0.3 s,
// 30 s x 2 s, 10 s x 8 s, 60 s x 0.1 s; then real-looking material: a stem half silence
// against the 2 s impulse, the busy signal against a 2 s impulse whose last 80 % are
// zeros), then a summary.
// convoluzione-bench INPUT_SECONDS IMPULSE_SECONDS [LITERAL_SECONDS]: one workload (the
// literal engine on 0.5 s by default; 0 leaves it out).
// convoluzione-bench --files ...: see timeFiles. convoluzione-bench --peak: see printPeak.
int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--files") {
        return timeFiles(argc, argv);
    }
    if (argc > 1 && std::string(argv[1]) == "--peak") {
        return printPeak();
    }
    std::vector<Summary> summary;
    if (argc > 2) {
        benchWorkload(atof(argv[1]), atof(argv[2]), argc > 3 ? atof(argv[3]) : 0.5, summary);
    } else {
        benchWorkload(10, 0.5, 0.3, summary);
        benchWorkload(30, 2, 0, summary);
        benchWorkload(10, 8, 0, summary);
        benchWorkload(60, 0.1, 0, summary);
        benchWorkload(30, 2, 0, summary, Material{0.5, 0});
        benchWorkload(30, 2, 0, summary, Material{-1, 0.8});
    }
    printf("\nsummary: fast/peak on terms on real input (and fast/literal, all threads)\n");
    for (const Summary& row : summary) {
        printf("  %-22s %-9s 1 thread %5.1f%%   all threads %5.1f%%", row.workload.c_str(),
               row.path.c_str(), row.oneThread, row.allThreads);
        if (row.againstLiteral > 0) {
            printf("   %.0fx the literal engine", row.againstLiteral);
        }
        printf("\n");
    }
    printf("at the end: %s\n", loadAverage().c_str());
    return 0;
}
