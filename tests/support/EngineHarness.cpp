#include "tests/support/EngineHarness.h"

#include "convolution/ReferenceEngine.h"
#include "convolution/TermArithmetic.h"
#include "wav/SampleConversion.h"

EngineRun runEngine(const EngineCall& engine, uint16_t inputChannels,
                    const std::vector<int16_t>& input, uint32_t impulseChannels,
                    const std::vector<float>& impulse, StopCheck stop) {
    ScratchDir dir;
    writeFileBytes(dir.file("in.wav"), pcmWav(inputChannels, 8000, input));
    WavReader* reader = WavReader::open(dir.file("in.wav").c_str());
    EngineRun run{};
    run.outputChannels = outputChannelsFor(inputChannels, impulseChannels);
    WavWriter* writer = WavWriter::create(dir.file("out.wav").c_str(), 8000, run.outputChannels);
    std::vector<float> h = impulse;
    JobProgress progress{};
    const auto frames = static_cast<uint32_t>(h.size() / impulseChannels);
    run.result = engine(Impulse{h.data(), frames, frames, impulseChannels},
                        EngineIo{reader, writer, &progress, stop});
    WavWriter::finish(writer);
    WavReader::close(reader);
    run.samples = samplesAfterHeader(readFileBytes(dir.file("out.wav")));
    run.total = progress.total.load();
    run.done = progress.done.load();
    run.active = progress.active.load();
    return run;
}

const Layout kLayouts[4] = {{1, 1}, {1, 2}, {2, 2}, {2, 1}};

std::vector<int16_t> randomSamples(std::mt19937& rng, size_t count, int amplitude) {
    std::uniform_int_distribution<int> value(-amplitude, amplitude - 1);
    std::vector<int16_t> out(count);
    for (int16_t& s : out) {
        s = static_cast<int16_t>(value(rng));
    }
    return out;
}

EngineCall referenceEngine() {
    return
        [](const Impulse& impulse, const EngineIo& io) { return convolveReference(impulse, io); };
}

EngineCall engineWith(EngineOptions options) {
    return [options](const Impulse& impulse, const EngineIo& io) {
        return convolve(impulse, io, options);
    };
}

std::vector<int16_t> definitionOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                      uint32_t impulseChannels, const std::vector<float>& impulse) {
    const size_t m = input.size() / inputChannels;
    const size_t n = impulse.size() / impulseChannels;
    const uint32_t outChannels = outputChannelsFor(inputChannels, impulseChannels);
    auto x = [&](long frame, uint32_t channel) {
        if (frame < 0 || frame >= static_cast<long>(m)) {
            return 0.0f;
        }
        const uint32_t c = inputChannels == 2 ? channel : 0;
        return sampleToFloat(input[static_cast<size_t>(frame) * inputChannels + c]);
    };
    auto h = [&](size_t k, uint32_t channel) {
        return impulse[k * impulseChannels + (impulseChannels == 2 ? channel : 0)];
    };
    std::vector<int16_t> out;
    for (size_t frame = 0; frame < m + n; ++frame) {
        for (uint32_t channel = 0; channel < outChannels; ++channel) {
            const long newest = static_cast<long>(frame) - 1;
            float sum = firstTerm(h(n - 1, channel), x(newest - static_cast<long>(n - 1), channel));
            for (size_t k = n - 1; k-- > 0;) {
                sum = addTerm(sum, h(k, channel), x(newest - static_cast<long>(k), channel));
            }
            out.push_back(floatToSample(sum));
        }
    }
    return out;
}

std::vector<int16_t> expectedOutput(uint16_t inputChannels, const std::vector<int16_t>& input,
                                    uint32_t impulseChannels, const std::vector<int16_t>& impulse) {
    std::vector<float> taps;
    for (int16_t s : impulse) {
        taps.push_back(sampleToFloat(s));
    }
    return definitionOutput(inputChannels, input, impulseChannels, taps);
}
