// libFuzzer target: a whole job on two fuzzed files. The job runs as the front ends run it,
// posting to the portable message window, and must end with exactly one message: the one
// its inputs call for, in the job's order of checks. Whatever happens, the inputs stay
// byte for byte as they were and an output, when one is created, is a valid WAV file whose
// header matches its length; a completed output holds M + N frames equal, byte for byte, to
// what the literal engine writes for the same files, and so does every other engine path.
#include <cstdlib>
#include <cstring>

#include "convolution/Convolve.h"
#include "convolution/EnginePaths.h"
#include "fuzz/FuzzFiles.h"
#include "job/ConvolutionJob.h"
#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "job/JobState.h"
#include "tests/support/LoadWav.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WrittenWav.h"

namespace {

// A job convolves (M + N) x N terms per output channel, M and N as the headers declare
// them, whatever the files hold. Pairs that would run the engine beyond these bounds are
// left out (libFuzzer keeps nothing from them), so one execution stays in milliseconds.
constexpr uint64_t kMaxTerms = 1u << 19;
constexpr uint64_t kMaxFrames = 1u << 16;

struct Expected {
    bool runnable;       // within the bounds above
    uint32_t message;    // the message the job must post
    const char* text;    // its failure text, or null
    bool outputCreated;  // an output file must exist afterwards
    uint32_t channels;   // the output's channels, when created
    uint32_t sampleRate; // the output's rate, when created
    uint64_t frames;     // the output's frames, when created
};

// What the job must do with these two files, decided from what the reader makes of them
// and the job's own checks, in the job's order.
Expected predict(const std::string& inputPath, const std::string& impulsePath) {
    Expected e{true, WM_JOB_FAILED, nullptr, false, 0, 0, 0};
    WavReader* input = WavReader::open(inputPath.c_str());
    WavReader* impulse = input != nullptr ? WavReader::open(impulsePath.c_str()) : nullptr;
    if (input == nullptr) {
        e.text = kTextInputUnreadable;
    } else if (impulse == nullptr) {
        e.text = kTextImpulseUnreadable;
    } else if (input->sampleRate != impulse->sampleRate) {
        e.text = kTextSampleRatesDiffer;
    } else {
        e.channels = outputChannelsFor(input->channels, impulse->channels);
        e.sampleRate = input->sampleRate;
        const uint64_t m = input->frames;
        const uint64_t n = impulse->frames;
        // The job loads only the frames the file holds; the rest it knows are silence.
        const uint32_t held = WavReader::framesToLoad(impulse);
        if (!WavWriter::fits(m + n, e.channels)) {
            e.text = kTextOutputTooLarge;
        } else if (held == 0 || !WavReader::fitsInMemory(held, impulse->channels)) {
            e.text = kTextImpulseNotLoaded;
            e.outputCreated = true;
        } else {
            e.runnable = m + n <= kMaxFrames && (m + n) * n * e.channels <= kMaxTerms;
            e.message = WM_JOB_DONE;
            e.outputCreated = true;
            e.frames = m + n;
        }
    }
    WavReader::close(input);
    WavReader::close(impulse);
    return e;
}

// One engine path's output for the same files, written beside the job's.
std::vector<uint8_t> engineOutput(const std::string& inputPath, const std::string& impulsePath,
                                  const std::string& outputPath, const Expected& e,
                                  EngineOptions options) {
    WavReader* input = WavReader::open(inputPath.c_str());
    WavReader* impulse = WavReader::open(impulsePath.c_str());
    require(input != nullptr && impulse != nullptr, "the files no longer open");
    float* h = loadAll(impulse);
    WavWriter* writer = WavWriter::create(outputPath.c_str(), e.sampleRate, e.channels);
    require(h != nullptr && writer != nullptr, "cannot run an engine path");
    JobProgress progress{};
    const ConvolveResult result =
        convolve(Impulse{h, impulse->frames, impulse->frames, impulse->channels},
                 EngineIo{input, writer, &progress, StopCheck{}}, options);
    require(result == convolveCompleted && WavWriter::finish(writer) == 1,
            "an engine path did not complete");
    require(progress.done.load() == progress.total.load() &&
                static_cast<uint64_t>(progress.total.load()) == e.frames,
            "an engine path's progress did not end at M + N");
    free(h);
    WavReader::close(input);
    WavReader::close(impulse);
    return readFileBytes(outputPath);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string inputPath = scratchFile("input.wav");
    static const std::string impulsePath = scratchFile("impulse.wav");
    static const std::string outputPath = scratchFile("output.wav");
    static const std::string otherPath = scratchFile("other.wav");
    static const WindowHandle window = createMessageWindow();
    require(window != nullptr, "no message window");

    const JobFiles files = splitJobFiles(data, size);
    writeWholeFile(inputPath, files.input.data(), files.input.size());
    writeWholeFile(impulsePath, files.impulse.data(), files.impulse.size());
    remove(outputPath.c_str());
    const Expected expected = predict(inputPath, impulsePath);
    if (!expected.runnable) {
        return -1;
    }

    copyPath(jobState.inputPath, inputPath.c_str());
    copyPath(jobState.impulsePath, impulsePath.c_str());
    copyPath(jobState.outputPath, outputPath.c_str());
    jobState.dialogWindow = window;
    jobState.stopEvent = nullptr;
    memset(jobState.errorText, 0, sizeof jobState.errorText);
    const unsigned exitCode = runConvolutionJob(nullptr);

    uint32_t message = 0;
    uint32_t another = 0;
    require(waitForMessage(window, 0, &message) == 1, "the job posted no message");
    require(waitForMessage(window, 0, &another) == 0, "the job posted two messages");
    require(message == expected.message, "the job ended with another message");
    require(jobState.progress.active.load() == 0, "progress left active");
    if (message == WM_JOB_FAILED) {
        require(strcmp(jobState.errorText, expected.text) == 0, "another failure text");
        require(exitCode == static_cast<unsigned>(-1), "a failed job returned 0");
    } else {
        require(jobState.errorText[0] == '\0' && exitCode == 0, "a done job left a failure");
    }
    require(readFileBytes(inputPath) == files.input, "the job changed its input");
    require(readFileBytes(impulsePath) == files.impulse, "the job changed its impulse");
    require(fileIsThere(outputPath) == expected.outputCreated,
            "an output was created where none should be, or none where one should");
    if (!expected.outputCreated) {
        return 0;
    }
    const std::vector<uint8_t> output = readFileBytes(outputPath);
    const WrittenWav wav = checkWrittenWav(output);
    if (!wav.valid) {
        broken(wav.problem.c_str());
    }
    require(wav.channels == expected.channels && wav.sampleRate == expected.sampleRate,
            "the output's format is not the inputs'");
    require(wav.frames == expected.frames, "the output is not M + N frames long");
    if (message != WM_JOB_DONE) {
        return 0;
    }
    // Every other path this CPU has, forced, with a thread count, arithmetic and block shape
    // that the input picks, must give the literal engine's bytes, and so must the job.
    EngineOptions options{enginePathReference, 1, false, 0, 0};
    const std::vector<uint8_t> literal =
        engineOutput(inputPath, impulsePath, otherPath, expected, options);
    require(output == literal, "the job's output differs from the literal engine's");
    const uint8_t pick = size > 0 ? data[size / 2] : 0;
    options.threads = 1u + pick % 3u;
    options.forceDoubleChain = (pick & 8u) != 0;
    // Tiny pieces mean many blocks: only on short jobs, so an execution stays short.
    options.laneFrames = (pick & 16u) != 0 && expected.frames <= 8192 ? 1u + pick % 7u : 0u;
    options.tileTaps = (pick & 32u) != 0 ? 1u + pick % 5u : 0u;
    for (const EnginePathRow& row : kEnginePaths) {
        if (enginePathAvailable(row.path)) {
            options.path = row.path;
            require(engineOutput(inputPath, impulsePath, otherPath, expected, options) == literal,
                    "an engine path's output differs from the literal engine's");
        }
    }
    return 0;
}
