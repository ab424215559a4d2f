// The writer's header, its conversion, and what it leaves when the file refuses bytes.
#include <gtest/gtest.h>

#include "tests/support/LoadWav.h"
#include "tests/support/TestFiles.h"
#include "wav/WavReader.h"
#include "wav/WavWriter.h"

namespace {

TEST(WavWriter, WritesTheFixedHeaderAndPatchesBothSizes) {
    ScratchDir dir;
    const std::string path = dir.file("out.wav");
    WavWriter* writer = WavWriter::create(path.c_str(), 44100, 2);
    ASSERT_NE(writer, nullptr);
    // Until finished both size fields are 0.
    EXPECT_EQ(readFileBytes(path), riffWithSize(0, {chunk("fmt ", formatBody(1, 2, 44100, 4, 16)),
                                                    chunkWithSize("data", 0, {})}));
    const float frames[6] = {0.5f, -0.5f, 1.0f, -1.0f, 0.0f, 0.25f};
    ASSERT_EQ(WavWriter::writeFrames(writer, frames, 3), 1);
    EXPECT_EQ(WavWriter::finish(writer), 1);
    const Bytes file = readFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 12u);
    EXPECT_EQ(fieldLe32(file, 4), 36u + 12u);
    EXPECT_EQ(fieldLe32(file, 40), 12u);
    EXPECT_EQ(fieldLe32(file, 28), 44100u * 4u);
    EXPECT_EQ(samplesAfterHeader(file),
              (std::vector<int16_t>{16384, -16384, 32767, -32768, 0, 8192}));
}

TEST(WavWriter, LengthsAcrossConversionBlocksAndZeroFrames) {
    ScratchDir dir;
    for (uint32_t channels : {1u, 2u}) {
        for (uint32_t frames : {0u, 1u, 511u, 512u, 1023u, 1024u, 1025u, 5000u}) {
            const std::string path = dir.file("out.wav");
            WavWriter* writer = WavWriter::create(path.c_str(), 8000, channels);
            ASSERT_NE(writer, nullptr);
            std::vector<float> samples(static_cast<size_t>(frames) * channels);
            for (size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<float>(static_cast<int16_t>(i * 7)) / 32768.0f;
            }
            // Handed over in uneven pieces so blocks fill across calls.
            uint32_t at = 0;
            for (uint32_t piece = 1; at < frames; piece = piece * 3 + 1) {
                const uint32_t take = std::min(piece, frames - at);
                ASSERT_EQ(WavWriter::writeFrames(writer, samples.data() + at * channels, take), 1);
                at += take;
            }
            ASSERT_EQ(WavWriter::writeFrames(writer, samples.data(), 0), 1);
            ASSERT_EQ(WavWriter::finish(writer), 1);
            const Bytes file = readFileBytes(path);
            const uint32_t dataBytes = frames * channels * 2;
            ASSERT_EQ(file.size(), 44u + dataBytes);
            EXPECT_EQ(fieldLe32(file, 4), 36u + dataBytes);
            EXPECT_EQ(fieldLe32(file, 40), dataBytes);
            const std::vector<int16_t> written = samplesAfterHeader(file);
            for (size_t i = 0; i < written.size(); ++i) {
                ASSERT_EQ(written[i], static_cast<int16_t>(i * 7)) << i;
            }
        }
    }
}

TEST(WavWriter, WhatTheReaderReadsTheWriterReproduces) {
    ScratchDir dir;
    std::vector<int16_t> samples;
    for (int s = -32768; s <= 32767; s += 13) {
        samples.push_back(static_cast<int16_t>(s));
    }
    writeFileBytes(dir.file("in.wav"), pcmWav(1, 22050, samples));
    WavReader* reader = WavReader::open(dir.file("in.wav").c_str());
    ASSERT_NE(reader, nullptr);
    float* floats = loadAll(reader);
    ASSERT_NE(floats, nullptr);
    WavWriter* writer = WavWriter::create(dir.file("out.wav").c_str(), 22050, 1);
    ASSERT_EQ(WavWriter::writeFrames(writer, floats, reader->frames), 1);
    ASSERT_EQ(WavWriter::finish(writer), 1);
    free(floats);
    WavReader::close(reader);
    EXPECT_EQ(readFileBytes(dir.file("out.wav")), readFileBytes(dir.file("in.wav")));
}

TEST(WavWriter, CountsSaturatedSamplesAndTheirPeakWithoutChangingAByte) {
    ScratchDir dir;
    // Two saturated samples in the first block, one in a later one; 0.99999 and -1.0 only
    // look loud.
    std::vector<float> samples(3000, 0.25f);
    samples[3] = 1.0f;
    samples[10] = -3.5f;
    samples[11] = 0.99999f;
    samples[12] = -1.0f;
    samples[2500] = 1.75f;
    WavWriter* writer = WavWriter::create(dir.file("out.wav").c_str(), 8000, 2);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->saturatedSamples, 0u);
    EXPECT_EQ(writer->saturationPeak, 0.0f);
    ASSERT_EQ(WavWriter::writeFrames(writer, samples.data(), 1500), 1);
    EXPECT_EQ(writer->saturatedSamples, 3u);
    EXPECT_EQ(writer->saturationPeak, 3.5f);
    ASSERT_EQ(WavWriter::finish(writer), 1);
    std::vector<int16_t> expected(3000, 8192);
    expected[3] = 32767;
    expected[10] = -32768;
    expected[11] = 32767;
    expected[12] = -32768;
    expected[2500] = 32767;
    EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))), expected);
}

TEST(WavWriter, SizeFieldsFollowTheWritingAndTheFinishedFileIsTheSame) {
    ScratchDir dir;
    const std::string path = dir.file("out.wav");
    constexpr uint32_t kBlock = kWriteBlockSamples; // samples per write to the file
    std::vector<float> samples(3 * kBlock);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(static_cast<int16_t>(i * 13)) / 32768.0f;
    }
    WavWriter* writer = WavWriter::create(path.c_str(), 8000, 1);
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(WavWriter::writeFrames(writer, samples.data(), kBlock + kBlock / 2), 1);
    // One block reached the file, the rest waits: the first block sets the sizes at once, so
    // a job killed in its first second leaves a file a reader takes. It is shorter by the
    // header, so that the file's later writes start on block boundaries.
    constexpr uint32_t kFirst = kFirstBlockSamples;
    Bytes file = readFileBytes(path);
    ASSERT_EQ(file.size(), 2u * kBlock);
    ASSERT_EQ(file.size(), 44u + 2 * kFirst);
    EXPECT_EQ(fieldLe32(file, 4), 36u + 2 * kFirst);
    EXPECT_EQ(fieldLe32(file, 40), 2 * kFirst);
    // The second block, within the second, leaves them as they were.
    ASSERT_EQ(WavWriter::writeFrames(writer, samples.data() + kBlock + kBlock / 2, kBlock / 2), 1);
    file = readFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 2 * (kFirst + kBlock));
    EXPECT_EQ(fieldLe32(file, 40), 2 * kFirst);
    // Once a second has passed, the next block to reach the file brings both sizes up to date.
    writer->headerUpdatedMs -= kHeaderUpdateMs;
    ASSERT_EQ(WavWriter::writeFrames(writer, samples.data() + 2 * kBlock, kBlock), 1);
    file = readFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 2 * (kFirst + 2 * kBlock));
    EXPECT_EQ(fieldLe32(file, 4), 36u + 2 * (kFirst + 2 * kBlock));
    EXPECT_EQ(fieldLe32(file, 40), 2 * (kFirst + 2 * kBlock));
    // Writing went on at the end, not over the header or the samples.
    ASSERT_EQ(WavWriter::finish(writer), 1);
    std::vector<int16_t> expected(samples.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<int16_t>(i * 13);
    }
    file = readFileBytes(path);
    EXPECT_EQ(file, concat({riff({chunk("fmt ", formatBody(1, 1, 8000, 2, 16)),
                                  chunk("data", sampleBytes(expected))})}));
}

TEST(WavWriter, CreateFailsWhereNoFileCanBeMade) {
    ScratchDir dir;
    EXPECT_EQ(WavWriter::create(dir.file("missing/out.wav").c_str(), 8000, 1), nullptr);
    EXPECT_EQ(WavWriter::create(dir.path.c_str(), 8000, 1), nullptr); // a folder
}

} // namespace
