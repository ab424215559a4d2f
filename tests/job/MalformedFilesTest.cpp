// Hostile and damaged inputs through the whole job: files cut anywhere, sizes forged to the
// limits of their fields, long chunk walks. Every case checks the message, that both inputs
// are left as they were, and what the output is: absent, or valid and exactly right.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/JobHarness.h"

namespace {

constexpr uint32_t kRate = 8000;

struct JobFiles {
    ScratchDir dir;
    std::string input = dir.file("in.wav");
    std::string impulse = dir.file("impulse.wav");
    std::string output = dir.file("out.wav");

    // Writes both inputs, removes any earlier output, runs the job, and checks the inputs
    // survived it byte for byte. How it ended is for the caller to check.
    JobRun run(const Bytes& inputBytes, const Bytes& impulseBytes) {
        writeFileBytes(input, inputBytes);
        writeFileBytes(impulse, impulseBytes);
        std::filesystem::remove(output);
        const FileSnapshot in = snapshot(input);
        const FileSnapshot ir = snapshot(impulse);
        const JobRun result = runJob(input, impulse, output);
        EXPECT_TRUE(unchanged(in));
        EXPECT_TRUE(unchanged(ir));
        return result;
    }
};

// Samples that differ from frame to frame and channel to channel, so a frame read twice,
// skipped or taken from the wrong channel changes the output.
std::vector<int16_t> rampSamples(size_t count, int16_t start, int16_t step) {
    std::vector<int16_t> out;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<int16_t>(start + static_cast<int>(i) * step));
    }
    return out;
}

// The output was written completely and holds exactly `expected`.
void expectCompleteOutput(const JobFiles& files, const JobRun& run, uint32_t channels,
                          const std::vector<int16_t>& expected) {
    ASSERT_TRUE(endedWith(run, WM_JOB_DONE));
    uint64_t frames = 0;
    ASSERT_TRUE(validPrefixOf(files.output, channels, expected, &frames));
    EXPECT_EQ(frames * channels, expected.size());
}

void expectFailure(const JobFiles& files, const JobRun& run, const char* text, bool outputCreated) {
    EXPECT_TRUE(endedWith(run, WM_JOB_FAILED, text));
    EXPECT_EQ(fileExists(files.output), outputCreated);
}

TEST(DamagedFiles, EveryLengthUpToTheHeaderIsRefusedOrReadAsDeclaredSilence) {
    JobFiles files;
    // Declares 4 mono frames; the 44-byte prefix ends just where they would start.
    const Bytes whole = pcmWav(1, kRate, {1000, -2000, 3000, -4000});
    const std::vector<int16_t> other = {16384, -8192};
    const Bytes good = pcmWav(1, kRate, other);
    for (size_t length = 0; length <= 44; ++length) {
        SCOPED_TRACE("file length " + std::to_string(length));
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        JobRun run = files.run(cut, good);
        if (length < 44) {
            expectFailure(files, run, kTextInputUnreadable, false);
        } else {
            expectCompleteOutput(files, run, 1, expectedOutput(1, {0, 0, 0, 0}, 1, other));
        }
        run = files.run(good, cut);
        if (length < 44) {
            expectFailure(files, run, kTextImpulseUnreadable, false);
        } else {
            expectCompleteOutput(files, run, 1, expectedOutput(1, other, 1, {0, 0, 0, 0}));
        }
    }
}

TEST(DamagedFiles, FilesCutInsideAFrameReadTheMissingPartAsSilence) {
    JobFiles files;
    for (uint16_t inputChannels : {1, 2}) {
        for (uint16_t impulseChannels : {1, 2}) {
            const uint32_t outputChannels = outputChannelsFor(inputChannels, impulseChannels);
            const auto input = rampSamples(5u * inputChannels, 1200, -700);
            const auto impulse = rampSamples(3u * impulseChannels, 9000, 4100);
            const Bytes inputFile = pcmWav(inputChannels, kRate, input);
            const Bytes impulseFile = pcmWav(impulseChannels, kRate, impulse);
            for (size_t kept = 0; kept < input.size() * 2; ++kept) {
                SCOPED_TRACE("input " + std::to_string(inputChannels) + "x" +
                             std::to_string(impulseChannels) + ", data bytes kept " +
                             std::to_string(kept));
                // The streamed input: a frame that is not there whole is a silent frame.
                const size_t wholeSamples = kept / (2u * inputChannels) * inputChannels;
                std::vector<int16_t> heard(input.size(), 0);
                std::copy(input.begin(), input.begin() + static_cast<long>(wholeSamples),
                          heard.begin());
                const Bytes cut(inputFile.begin(),
                                inputFile.begin() + 44 + static_cast<long>(kept));
                const JobRun run = files.run(cut, impulseFile);
                expectCompleteOutput(
                    files, run, outputChannels,
                    expectedOutput(inputChannels, heard, impulseChannels, impulse));
            }
            for (size_t kept = 0; kept < impulse.size() * 2; ++kept) {
                SCOPED_TRACE("impulse " + std::to_string(inputChannels) + "x" +
                             std::to_string(impulseChannels) + ", data bytes kept " +
                             std::to_string(kept));
                // The loaded impulse: every whole sample counts, the rest is 0.
                std::vector<int16_t> loaded(impulse.size(), 0);
                std::copy(impulse.begin(), impulse.begin() + static_cast<long>(kept / 2),
                          loaded.begin());
                const Bytes cut(impulseFile.begin(),
                                impulseFile.begin() + 44 + static_cast<long>(kept));
                const JobRun run = files.run(inputFile, cut);
                expectCompleteOutput(files, run, outputChannels,
                                     expectedOutput(inputChannels, input, impulseChannels, loaded));
            }
        }
    }
}

TEST(DamagedFiles, ChunkSizesOfTwoToThe31AndTwoToThe32MinusOneNeverWrapTheWalk) {
    JobFiles files;
    const std::vector<int16_t> samples = rampSamples(6, -300, 250);
    const Bytes good = pcmWav(1, kRate, samples);
    const Bytes data = chunk("data", sampleBytes(samples));
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("chunk size " + std::to_string(size));
        // Before the format: skipping it leaves the file, so neither chunk is found.
        const Bytes hidden =
            riff({chunkWithSize("junk", size, Bytes(6, 0xAB)), pcmFormatChunk(1, kRate), data});
        expectFailure(files, files.run(hidden, good), kTextInputUnreadable, false);
        expectFailure(files, files.run(good, hidden), kTextImpulseUnreadable, false);
        // Behind the data, or a format chunk declaring it after the data: both are found
        // before the huge size is ever skipped.
        const std::vector<int16_t> expected = expectedOutput(1, samples, 1, samples);
        const Bytes behind =
            riff({pcmFormatChunk(1, kRate), data, chunkWithSize("junk", size, {})});
        expectCompleteOutput(files, files.run(behind, behind), 1, expected);
        const Bytes formatLast =
            riff({data, chunkWithSize("fmt ", size, formatBody(1, 1, kRate, 2, 16))});
        expectCompleteOutput(files, files.run(formatLast, formatLast), 1, expected);
    }
}

TEST(DamagedFiles, ForgedDataSizesThatPassTheFormatFailBeforeAnyOutput) {
    JobFiles files;
    const std::vector<int16_t> samples = rampSamples(4, 500, 500);
    const Bytes good = pcmWav(1, kRate, samples);
    const Bytes goodStereo = pcmWav(2, kRate, samples);
    auto forged = [&](uint16_t channels, uint32_t dataSize) {
        return riff({pcmFormatChunk(channels, kRate),
                     chunkWithSize("data", dataSize, sampleBytes(samples))});
    };
    // 2^32 - 2 bytes of input or impulse: the output would pass the format's 4 GiB. (All
    // ones is not a size but "to the end of the file".)
    expectFailure(files, files.run(forged(1, 0xFFFFFFFE), good), kTextOutputTooLarge, false);
    expectFailure(files, files.run(forged(2, 0xFFFFFFFE), good), kTextOutputTooLarge, false);
    expectFailure(files, files.run(good, forged(1, 0xFFFFFFFE)), kTextOutputTooLarge, false);
    // The claim counts, not what the file holds: 2^31 bytes of mono impulse are 2^30 frames,
    // which against a stereo input make 4 GiB of output.
    expectFailure(files, files.run(goodStereo, forged(1, 0x80000000)), kTextOutputTooLarge, false);
    // The largest whole stereo size, 2^32 - 4 bytes, with not one sample in the file.
    const Bytes claimOnly = riff({pcmFormatChunk(2, kRate), chunkWithSize("data", 0xFFFFFFFC, {})});
    expectFailure(files, files.run(claimOnly, pcmWav(1, kRate, {1, 2})), kTextOutputTooLarge,
                  false);
}

TEST(DamagedFiles, ARiffSizeLargerThanTheFileChangesNothing) {
    JobFiles files;
    const auto input = rampSamples(10, 7000, -1300);
    const auto impulse = rampSamples(4, -20000, 9000);
    const std::vector<int16_t> expected = expectedOutput(2, input, 2, impulse);
    for (uint32_t riffSize : {0xFFFFFFFFu, 0x80000000u, 1000u}) {
        SCOPED_TRACE("RIFF size " + std::to_string(riffSize));
        const Bytes in =
            riffWithSize(riffSize, {pcmFormatChunk(2, kRate), chunk("data", sampleBytes(input))});
        const Bytes ir =
            riffWithSize(riffSize, {pcmFormatChunk(2, kRate), chunk("data", sampleBytes(impulse))});
        expectCompleteOutput(files, files.run(in, ir), 2, expected);
    }
}

TEST(DamagedFiles, ManySmallChunksBeforeTheDataAreWalkedThrough) {
    JobFiles files;
    // 30,000 chunks of 0 to 3 bytes, the odd ones padded, before and between the two that
    // matter: about 400 KB of walking per file.
    std::vector<Bytes> filler;
    for (uint32_t i = 0; i < 15000; ++i) {
        filler.push_back(chunk(i % 2 == 0 ? "LIST" : "junk", Bytes(i % 4, 0x5A)));
    }
    const Bytes small = concat(filler);
    const auto input = rampSamples(12, 300, 777);
    const auto impulse = rampSamples(6, 12000, -5000);
    const Bytes in =
        riff({small, pcmFormatChunk(1, kRate), small, chunk("data", sampleBytes(input))});
    const Bytes ir =
        riff({small, chunk("data", sampleBytes(impulse)), small, pcmFormatChunk(2, kRate)});
    expectCompleteOutput(files, files.run(in, ir), 2, expectedOutput(1, input, 2, impulse));
}

} // namespace
