// The worker's body: open, check, convolve, finish, and report the end with one message.
#include "job/ConvolutionJob.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "convolution/Convolve.h"
#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "job/JobState.h"

JobState jobState{};

namespace {

constexpr unsigned kExitDone = 0;
constexpr unsigned kExitFailed = static_cast<unsigned>(-1);
// Samples the impulse is loaded by between two looks at the stop request: 1 MiB of floats,
// about a millisecond of reading.
constexpr uint64_t kLoadPieceSamples = 1u << 18;

// What the job holds at any moment; released through one path.
struct JobResources {
    WavReader* input;
    WavReader* impulse;
    WavWriter* output;
    float* impulseBuffer;
};

// Finishes the output if it was created, closes the readers, frees the impulse.
// 1 when the output was finished cleanly (or never created).
int releaseResources(JobResources& held, int* systemError) {
    int finished = 1;
    if (held.output != nullptr) {
        finished = WavWriter::finish(held.output, systemError);
    }
    WavReader::close(held.input);
    WavReader::close(held.impulse);
    free(held.impulseBuffer);
    held = JobResources{};
    return finished;
}

unsigned failAndRelease(JobResources& held, JobFailure failure, int systemError = 0) {
    int ignored = 0;
    releaseResources(held, &ignored);
    jobState.progress.active.store(0, std::memory_order_release);
    failJob(failure, systemError);
    return kExitFailed;
}

int stopEventRequested(void* stopEvent) {
    return stopEventSignalled(stopEvent);
}

enum LoadResult { loadDone, loadFailed, loadStopped };

// Loads the impulse's frames that the file holds (*frames of them) into a new buffer, a
// piece at a time, looking at the stop request between pieces: a long impulse takes
// seconds to read. The frames a header claims beyond the file are silence, which the engine
// is told about but does not need to see, so a small file claiming gigabytes costs nothing.
// On failure *error holds the system's reason.
LoadResult loadImpulse(WavReader* impulse, StopCheck stop, float** buffer, uint32_t* frames,
                       int* error) {
    *frames = WavReader::framesToLoad(impulse);
    *buffer = WavReader::allocateFrames(impulse, *frames);
    if (*buffer == nullptr) {
        // No frames at all is what the file holds; anything else is memory refused.
        *error = *frames == 0 ? 0 : ENOMEM;
        return loadFailed;
    }
    const uint64_t samples = static_cast<uint64_t>(*frames) * impulse->channels;
    for (uint64_t first = 0; first < samples; first += kLoadPieceSamples) {
        if (first > 0 && stopRequested(stop)) {
            return loadStopped;
        }
        const uint64_t count =
            samples - first < kLoadPieceSamples ? samples - first : kLoadPieceSamples;
        errno = 0;
        if (!WavReader::readSamples(impulse, *buffer + first, first, count)) {
            *error = errno != 0 ? errno : EIO;
            return loadFailed;
        }
    }
    return loadDone;
}

} // namespace

bool sameFile(const char* a, const char* b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
}

void failJob(JobFailure failure, int systemError) {
    const char* message = failureText(failure);
    jobState.failure = failure;
    jobState.systemError = systemError;
    const size_t length = strlen(message);
    const size_t kept = length < kErrorTextBytes ? length : kErrorTextBytes - 1;
    memcpy(jobState.errorText, message, kept);
    jobState.errorText[kept] = '\0';
    postJobMessage(jobState.dialogWindow, WM_JOB_FAILED);
}

int copyPath(char (&field)[kPathBytes], const char* path) {
    const size_t length = strlen(path);
    const size_t kept = length < kPathBytes ? length : kPathBytes - 1;
    memcpy(field, path, kept);
    field[kept] = '\0';
    return length < kPathBytes ? 1 : 0;
}

unsigned runConvolutionJob(void*) {
    // The worker's own copy: once the front end stops waiting for it, it may clear or
    // replace jobState.stopEvent, which must then neither stop nor disturb this job.
    const StopCheck stop{stopEventRequested, jobState.stopEvent};
    jobState.failure = failureNone;
    jobState.systemError = 0;
    jobState.saturatedSamples = 0;
    jobState.saturationPeak = 0.0f;
    jobState.outputFramesWritten = 0;
    jobState.outputFramesPromised = 0;
    JobResources held{};
    int error = 0;
    held.input = WavReader::open(jobState.inputPath, &error);
    if (held.input == nullptr) {
        return failAndRelease(held, failureInputUnreadable, error);
    }
    held.impulse = WavReader::open(jobState.impulsePath, &error);
    if (held.impulse == nullptr) {
        return failAndRelease(held, failureImpulseUnreadable, error);
    }
    if (held.input->sampleRate != held.impulse->sampleRate) {
        return failAndRelease(held, failureSampleRatesDiffer);
    }
    // Creating the output truncates it, so an output that is one of the inputs would be
    // destroyed before it was read.
    if (!jobState.outputToStandardOutput && (sameFile(jobState.outputPath, jobState.inputPath) ||
                                             sameFile(jobState.outputPath, jobState.impulsePath))) {
        return failAndRelease(held, failureOutputIsAnInput);
    }
    jobState.inputFramesHeld = held.input->framesInFile;
    jobState.inputFramesDeclared = held.input->frames;
    jobState.sampleRate = held.input->sampleRate;
    jobState.impulseFramesHeld = held.impulse->framesInFile;
    jobState.impulseFramesDeclared = held.impulse->frames;
    const uint32_t outputChannels = outputChannelsFor(held.input->channels, held.impulse->channels);
    const uint64_t outputFrames = static_cast<uint64_t>(held.input->frames) + held.impulse->frames;
    // This also keeps the frame count within the progress record's signed 32 bits.
    if (!WavWriter::fits(outputFrames, outputChannels)) {
        return failAndRelease(held, failureOutputTooLarge);
    }
    const WavTarget target{jobState.outputToStandardOutput ? nullptr : jobState.outputPath,
                           jobState.outputToStandardOutput ? standardOutputStream() : nullptr,
                           held.input->sampleRate,
                           outputChannels,
                           static_cast<uint32_t>(outputFrames),
                           jobState.outputMustBeNew};
    held.output = WavWriter::open(target, &error);
    if (held.output == nullptr) {
        return failAndRelease(held, failureOutputNotCreated, error);
    }
    uint32_t impulseFrames = 0;
    const LoadResult loaded =
        loadImpulse(held.impulse, stop, &held.impulseBuffer, &impulseFrames, &error);
    if (loaded == loadFailed) {
        return failAndRelease(held, failureImpulseNotLoaded, error);
    }
    EngineOptions engine{};
    engine.threads = jobState.threadLimit != 0 ? jobState.threadLimit : usableProcessorCount();
    const ConvolveResult result =
        loaded == loadStopped
            ? convolveStopped
            : convolve(Impulse{held.impulseBuffer, impulseFrames, held.impulse->frames,
                               held.impulse->channels},
                       EngineIo{held.input, held.output, &jobState.progress, stop}, engine);
    jobState.saturatedSamples = held.output->saturatedSamples;
    jobState.saturationPeak = held.output->saturationPeak;
    jobState.outputFramesWritten = held.output->framesWritten;
    jobState.outputFramesPromised = held.output->framesPromised;
    // The reason of a refused write, kept before finish releases the writer.
    const int writeError = held.output->systemError;
    int finishError = 0;
    const int finished = releaseResources(held, &finishError);
    jobState.progress.active.store(0, std::memory_order_release);
    if (result == convolveOutOfMemory) {
        failJob(failureOutOfMemory, ENOMEM);
        return kExitFailed;
    }
    // A file that did not take every byte is a failure, whether the engine saw it during
    // the run or finishing found it at the end.
    if (result == convolveWriteFailed || !finished) {
        failJob(failureWriteFailed, writeError != 0 ? writeError : finishError);
        return kExitFailed;
    }
    postJobMessage(jobState.dialogWindow, result == convolveStopped ? WM_JOB_STOPPED : WM_JOB_DONE);
    return kExitDone;
}
