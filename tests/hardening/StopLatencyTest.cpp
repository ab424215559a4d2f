// How often the engines look at the stop request, measured in time: a stop must be honoured
// within 50 ms of work whatever the impulse's length, including the shortest impulses,
// where the cost of reading and writing each frame outweighs the multiply-adds, and the
// longest, where one frame is a lot of work.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>

#include "convolution/Convolve.h"
#include "platform/Platform.h"
#include "tests/hardening/JobDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct StopWatch {
    Clock::time_point start;       // when the engine was called
    std::atomic<int> looks{0};     // times the engine asked
    std::chrono::milliseconds run; // how long to let it run before saying yes
};

int stopAfterRun(void* context) {
    auto* watch = static_cast<StopWatch*>(context);
    watch->looks.fetch_add(1);
    return Clock::now() - watch->start >= watch->run ? 1 : 0;
}

TEST(StopLatency, EveryEngineLooksAtTheStopRequestWellWithinFiftyMilliseconds) {
    if (kSanitized) {
        GTEST_SKIP() << "time per frame under a sanitizer says nothing about the product";
    }
    ScratchDir dir;
    for (EnginePath path : {enginePathReference, enginePathAuto}) {
        for (uint16_t inputChannels : {1, 2}) {
            // An input that claims 2^31 bytes: the engine never runs out of work by itself.
            writeFileBytes(dir.file("in.wav"), riff({pcmFormatChunk(inputChannels, 8000),
                                                     chunkWithSize("data", 0x80000000u, {})}));
            for (uint32_t impulseFrames : {1u, 64u, 44100u}) {
                for (uint32_t impulseChannels : {1u, 2u}) {
                    const std::string name =
                        std::string(path == enginePathReference ? "literal-" : "auto-") +
                        std::to_string(inputChannels) + "x" + std::to_string(impulseFrames) + "x" +
                        std::to_string(impulseChannels);
                    SCOPED_TRACE(name);
                    const uint32_t outputChannels =
                        inputChannels == 2 || impulseChannels == 2 ? 2 : 1;
                    WavReader* input = WavReader::open(dir.file("in.wav").c_str());
                    WavWriter* output =
                        WavWriter::create(dir.file("out.wav").c_str(), 8000, outputChannels);
                    ASSERT_TRUE(input != nullptr && output != nullptr);
                    std::vector<float> impulse(size_t{impulseFrames} * impulseChannels, 0.25f);
                    JobProgress progress{};
                    EngineOptions options{};
                    options.path = path;
                    const std::clock_t cpuStart = std::clock();
                    StopWatch watch{Clock::now(), {}, std::chrono::milliseconds(150)};
                    const ConvolveResult result =
                        convolve(input, impulse.data(), impulseFrames, impulseChannels, output,
                                 progress, StopCheck{stopAfterRun, &watch}, options);
                    const auto elapsed = Clock::now() - watch.start;
                    const double cpuSeconds =
                        static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
                    WavWriter::finish(output);
                    WavReader::close(input);
                    EXPECT_EQ(result, convolveStopped);
                    // On average, and the lesser of elapsed and processor time: other programs
                    // on a busy machine stretch the first, an engine's own threads add up in
                    // the second.
                    const double wallSeconds = std::chrono::duration<double>(elapsed).count();
                    const int looks = std::max(watch.looks.load(), 1);
                    const auto mean = std::chrono::microseconds(
                        static_cast<long long>(std::min(wallSeconds, cpuSeconds) / looks * 1e6));
                    RecordProperty("mean-us-" + name, static_cast<int>(mean.count()));
                    EXPECT_LT(mean.count(), 25000)
                        << watch.looks.load() << " looks in "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()
                        << " ms";
                }
            }
        }
    }
}

} // namespace
