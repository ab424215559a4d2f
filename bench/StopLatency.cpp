// How often the engines look at the stop request, in time: a stop must be honoured within
// kStopBudgetMs (EngineSupport.h) of work whatever the impulse's length, including the shortest
// impulses, where the cost of reading and writing each frame outweighs the multiply-adds, and the
// longest, where one frame is a lot of work (8 s at 48 kHz). Prints the median gap between looks
// for each case and exits 1 when one reaches the budget. Run by hand, on a quiet machine: timings
// do not belong in tests.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "convolution/Convolve.h"
#include "tests/support/TestFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

// A moment as both clocks see it: elapsed time, and processor time of the whole process.
struct Moment {
    Clock::time_point wall; // steady clock
    std::clock_t cpu;       // all of the process's threads together
};

Moment now() {
    return Moment{Clock::now(), std::clock()};
}

// When the engine looked, once its output has passed the first N frames: before that, with
// a long impulse, the fast engine's frames meet only the first few input frames and are
// quick, which is not what a stop usually interrupts. It is asked until it has looked a dozen times
// over at least 150 ms from then, or for 2 s when it looks more rarely than that.
struct StopWatch {
    const JobProgress* progress; // the engine's progress
    int32_t steadyFrom;          // looks count once done reaches this (N)
    bool steady;                 // looks count from now on
    Moment start;                // when they started to count
    std::mutex mutex;            // the engine may ask from any of its threads
    std::vector<Moment> looks;   // every time it asked since then
};

int stopAfterEnoughLooks(void* context) {
    auto* watch = static_cast<StopWatch*>(context);
    const Moment moment = now();
    std::lock_guard<std::mutex> lock(watch->mutex);
    if (!watch->steady) {
        if (watch->progress->done.load(std::memory_order_relaxed) < watch->steadyFrom) {
            return 0;
        }
        watch->steady = true;
        watch->start = moment;
        return 0;
    }
    watch->looks.push_back(moment);
    const auto ran = moment.wall - watch->start.wall;
    return (watch->looks.size() >= 12 && ran >= std::chrono::milliseconds(150)) ||
                   ran >= std::chrono::seconds(2)
               ? 1
               : 0;
}

// The work between two looks (the first counted from the call): of each gap, the lesser of
// elapsed and processor time, since other programs on a busy machine stretch the first and
// an engine's own threads add up in the second; and of the gaps, the median, since a
// process's first use of its threads and pages stretches one gap, not the middle one.
std::chrono::microseconds medianGap(const StopWatch& watch) {
    std::vector<std::chrono::microseconds> gaps;
    Moment last = watch.start;
    for (const Moment& look : watch.looks) {
        const auto wall =
            std::chrono::duration_cast<std::chrono::microseconds>(look.wall - last.wall);
        const auto cpu = std::chrono::microseconds(static_cast<long long>(
            static_cast<double>(look.cpu - last.cpu) * 1e6 / CLOCKS_PER_SEC));
        gaps.push_back(std::min(wall, cpu));
        last = look;
    }
    if (gaps.empty()) {
        return std::chrono::microseconds::max();
    }
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    return gaps[gaps.size() / 2];
}

} // namespace

int main() {
    ScratchDir dir;
    int slow = 0;
    for (EnginePath path : {enginePathReference, enginePathAuto}) {
        for (uint16_t inputChannels : {1, 2}) {
            // Ten minutes of real samples at 8 kHz: work for far longer than the looks take.
            // (A header's claim alone would not do: frames a file does not hold are silence,
            // and the engine writes that without computing it.)
            std::mt19937 rng(inputChannels);
            std::vector<int16_t> samples(size_t{4800000} * inputChannels);
            for (int16_t& sample : samples) {
                sample = static_cast<int16_t>(rng() % 20001) - 10000;
            }
            writeFileBytes(dir.file("in.wav"), pcmWav(inputChannels, 8000, samples));
            for (uint32_t impulseFrames : {1u, 64u, 44100u, 384000u}) {
                for (uint32_t impulseChannels : {1u, 2u}) {
                    const uint32_t outputChannels =
                        outputChannelsFor(inputChannels, impulseChannels);
                    WavReader* input = WavReader::open(dir.file("in.wav").c_str());
                    WavWriter* output =
                        WavWriter::create(dir.file("out.wav").c_str(), 8000, outputChannels);
                    if (input == nullptr || output == nullptr) {
                        fputs("cannot make the files\n", stderr);
                        return 2;
                    }
                    std::vector<float> impulse(size_t{impulseFrames} * impulseChannels, 0.25f);
                    JobProgress progress{};
                    EngineOptions options{};
                    options.path = path;
                    StopWatch watch;
                    watch.progress = &progress;
                    // The literal engine does the whole of every frame, silence or not.
                    watch.steadyFrom =
                        path == enginePathReference ? 0 : static_cast<int32_t>(impulseFrames);
                    convolve(
                        Impulse{impulse.data(), impulseFrames, impulseFrames, impulseChannels},
                        EngineIo{input, output, &progress, StopCheck{stopAfterEnoughLooks, &watch}},
                        options);
                    WavWriter::finish(output);
                    WavReader::close(input);
                    const auto gap = medianGap(watch);
                    slow += gap.count() >= kStopBudgetMs * 1000;
                    printf("%-8s input %u ch, impulse %6u frames x %u ch: median gap %8.3f ms\n",
                           path == enginePathReference ? "literal" : "fast", inputChannels,
                           impulseFrames, impulseChannels, gap.count() / 1000.0);
                }
            }
        }
    }
    return slow == 0 ? 0 : 1;
}
