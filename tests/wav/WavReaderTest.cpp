// The reader on files built byte by byte: the chunk walk, the formats it refuses, and what
// it makes of files that end early.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestFiles.h"
#include "wav/WavReader.h"

namespace {

struct OpenedFile {
    ScratchDir dir;
    WavReader* reader = nullptr;
    explicit OpenedFile(const Bytes& bytes) {
        writeFileBytes(dir.file("f.wav"), bytes);
        reader = WavReader::open(dir.file("f.wav").c_str());
    }
    ~OpenedFile() { WavReader::close(reader); }
};

bool opens(const Bytes& bytes) {
    OpenedFile file(bytes);
    return file.reader != nullptr;
}

const Bytes kData = chunk("data", sampleBytes({1, 2, 3, 4}));

TEST(WavReaderOpen, ReadsTheFormatAndCountsFrames) {
    OpenedFile file(riff({pcmFormatChunk(2, 48000), kData}));
    ASSERT_NE(file.reader, nullptr);
    EXPECT_EQ(file.reader->sampleRate, 48000u);
    EXPECT_EQ(file.reader->channels, 2u);
    EXPECT_EQ(file.reader->bitsPerSample, 16u);
    EXPECT_EQ(file.reader->blockAlign, 4u);
    EXPECT_EQ(file.reader->frames, 2u);
    EXPECT_EQ(file.reader->dataOffset, 44u);
    EXPECT_EQ(file.reader->startFrame, 0u);
}

TEST(WavReaderOpen, WalksPastOtherChunksInAnyOrder) {
    const Bytes list = chunk("LIST", Bytes(7, 'x')); // odd size: skipped with its pad byte
    EXPECT_TRUE(opens(riff({list, pcmFormatChunk(1, 8000), list, kData})));
    // The data chunk may come first.
    OpenedFile dataFirst(riff({kData, pcmFormatChunk(1, 8000)}));
    ASSERT_NE(dataFirst.reader, nullptr);
    EXPECT_EQ(dataFirst.reader->dataOffset, 20u);
    // A longer format chunk is fine; only its first 16 bytes count.
    const Bytes longFormat =
        chunk("fmt ", concat({formatBody(1, 1, 8000, 2, 16), le16(0), Bytes(6, 0)}));
    EXPECT_TRUE(opens(riff({longFormat, kData})));
    // Ids match exactly, case included.
    EXPECT_FALSE(opens(riff({pcmFormatChunk(1, 8000), chunk("DATA", sampleBytes({1}))})));
}

TEST(WavReaderOpen, TakesTheFirstOfTwoDataChunks) {
    OpenedFile file(riff({pcmFormatChunk(1, 8000), chunk("data", sampleBytes({5})),
                          chunk("data", sampleBytes({6, 7, 8}))}));
    ASSERT_NE(file.reader, nullptr);
    EXPECT_EQ(file.reader->frames, 1u);
    float frame = 0;
    ASSERT_EQ(WavReader::readFrame(file.reader, &frame), 1);
    EXPECT_EQ(frame, 5.0f / 32768.0f);
}

TEST(WavReaderOpen, RiffSizeBoundsTheWalkOnlyAtAChunkBoundary) {
    const Bytes format = pcmFormatChunk(1, 8000); // 24 bytes at offset 12
    EXPECT_FALSE(opens(riffWithSize(0, {format, kData})));
    EXPECT_FALSE(opens(riffWithSize(24, {format, kData}))); // ends exactly after "fmt "
    EXPECT_TRUE(opens(riffWithSize(20, {format, kData})));  // wraps past zero: walk goes on
    EXPECT_TRUE(opens(riffWithSize(28, {format, kData})));
    EXPECT_TRUE(opens(riffWithSize(0xFFFFFFFF, {format, kData}))); // larger than the file
}

TEST(WavReaderOpen, HugeChunkSizesSkipPastTheEndInsteadOfWrapping) {
    // A size of 2^32 - 1 pads to 2^32: computed in 32 bits it would skip nothing and the
    // walk would read the chunk's own payload as the next header.
    const Bytes disguised =
        concat({Bytes{'J', 'U', 'N', 'K'}, le32(0xFFFFFFFF), pcmFormatChunk(1, 8000), kData});
    EXPECT_FALSE(opens(riff({disguised})));
    const Bytes big =
        concat({Bytes{'J', 'U', 'N', 'K'}, le32(0x80000000), pcmFormatChunk(1, 8000), kData});
    EXPECT_FALSE(opens(riff({big})));
}

TEST(WavReaderOpen, RefusesWhatItCannotRead) {
    const auto withFormat = [](uint16_t tag, uint16_t channels, uint16_t blockAlign,
                               uint16_t bits) {
        return riff({chunk("fmt ", formatBody(tag, channels, 8000, blockAlign, bits)), kData});
    };
    EXPECT_TRUE(opens(withFormat(1, 2, 4, 16)));
    EXPECT_FALSE(opens(withFormat(1, 1, 1, 8)));              // 8-bit
    EXPECT_FALSE(opens(withFormat(1, 1, 3, 24)));             // 24-bit
    EXPECT_FALSE(opens(withFormat(3, 1, 4, 32)));             // float
    EXPECT_FALSE(opens(withFormat(0xFFFE, 1, 2, 16)));        // extensible, even with 16 bits
    EXPECT_FALSE(opens(withFormat(1, 3, 6, 16)));             // three channels
    EXPECT_FALSE(opens(withFormat(1, 0, 2, 16)));             // no channels
    EXPECT_FALSE(opens(withFormat(1, 1, 0, 16)));             // block align 0: nothing to divide by
    EXPECT_FALSE(opens(riff({pcmFormatChunk(1, 8000)})));     // no data
    EXPECT_FALSE(opens(riff({kData})));                       // no format
    EXPECT_FALSE(opens(riff({chunk("fmt ", Bytes(10, 1))}))); // format body cut short
    Bytes notWave = riff({pcmFormatChunk(1, 8000), kData});
    notWave[8] = 'A';
    EXPECT_FALSE(opens(notWave));
    Bytes notRiff = riff({pcmFormatChunk(1, 8000), kData});
    notRiff[0] = 'R' + 32;
    EXPECT_FALSE(opens(notRiff));
    EXPECT_EQ(WavReader::open("/nonexistent/folder/f.wav"), nullptr);
}

TEST(WavReaderOpen, EveryPrefixOfAHeaderIsRefusedWithoutCrashing) {
    const Bytes whole = pcmWav(1, 8000, {});
    for (size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(opens(Bytes(whole.begin(), whole.begin() + length))) << length;
    }
    EXPECT_TRUE(opens(whole));
}

TEST(WavReaderOpen, BlockAlignCountsFramesButReadingStepsByChannels) {
    // Block align 6 for stereo: 12 bytes count as 2 frames, yet frames are read 4 bytes apart.
    OpenedFile file(riff({chunk("fmt ", formatBody(1, 2, 8000, 6, 16)),
                          chunk("data", sampleBytes({1, 2, 3, 4, 5, 6}))}));
    ASSERT_NE(file.reader, nullptr);
    EXPECT_EQ(file.reader->frames, 2u);
    float frame[2];
    ASSERT_EQ(WavReader::readFrame(file.reader, frame), 1);
    ASSERT_EQ(WavReader::readFrame(file.reader, frame), 1);
    EXPECT_EQ(frame[0], 3.0f / 32768.0f);
    EXPECT_EQ(frame[1], 4.0f / 32768.0f);
}

TEST(WavReaderRead, ReadFrameWalksTheDataAndStopsAtTheEndOfTheFile) {
    OpenedFile file(pcmWav(2, 8000, {-32768, 32767, 0, 1}));
    ASSERT_NE(file.reader, nullptr);
    float frame[2] = {9, 9};
    ASSERT_EQ(WavReader::readFrame(file.reader, frame), 1);
    EXPECT_EQ(frame[0], -1.0f);
    EXPECT_EQ(frame[1], 32767.0f / 32768.0f);
    ASSERT_EQ(WavReader::readFrame(file.reader, frame), 1);
    EXPECT_EQ(frame[1], 1.0f / 32768.0f);
    frame[0] = 9;
    EXPECT_EQ(WavReader::readFrame(file.reader, frame), 0);
    EXPECT_EQ(frame[0], 9); // left as it was
}

TEST(WavReaderRead, FramesMissingFromAShortFileReadAsSilence) {
    // The data chunk claims 4 stereo frames; the file holds 2 and a half.
    Bytes bytes =
        riff({pcmFormatChunk(2, 8000), chunkWithSize("data", 16, sampleBytes({1, 2, 3, 4, 5}))});
    bytes.pop_back(); // drop the pad byte the odd payload got
    OpenedFile file(bytes);
    ASSERT_NE(file.reader, nullptr);
    ASSERT_EQ(file.reader->frames, 4u);
    std::vector<float> frames(8, 9.0f);
    EXPECT_EQ(WavReader::readNextFrames(file.reader, frames.data(), 4), 2u);
    const float s = 1.0f / 32768.0f;
    EXPECT_EQ(frames, (std::vector<float>{1 * s, 2 * s, 3 * s, 4 * s, 0, 0, 0, 0}));
}

TEST(WavReaderRead, LoadAllReadsEverythingAndZeroFillsWhatIsMissing) {
    OpenedFile whole(pcmWav(1, 8000, {100, -100, 32767}));
    float* samples = WavReader::loadAll(whole.reader);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(samples[0], 100.0f / 32768.0f);
    EXPECT_EQ(samples[1], -100.0f / 32768.0f);
    EXPECT_EQ(samples[2], 32767.0f / 32768.0f);
    free(samples);

    // Declares 3000 samples, holds 2: more than one conversion block is missing.
    OpenedFile cut(
        riff({pcmFormatChunk(1, 8000), chunkWithSize("data", 6000, sampleBytes({7, 8}))}));
    ASSERT_NE(cut.reader, nullptr);
    samples = WavReader::loadAll(cut.reader);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(samples[1], 8.0f / 32768.0f);
    for (size_t i = 2; i < 3000; ++i) {
        ASSERT_EQ(samples[i], 0.0f) << i;
    }
    free(samples);
}

TEST(WavReaderRead, LoadAllRefusesNothingToLoadAndBuffersOverFourGigabytes) {
    EXPECT_EQ(WavReader::loadAll(nullptr), nullptr);
    OpenedFile empty(pcmWav(2, 8000, {}));
    ASSERT_NE(empty.reader, nullptr);
    EXPECT_EQ(WavReader::loadAll(empty.reader), nullptr);
    // 2^30 stereo frames would take 8 GiB of floats: refused before any allocation.
    OpenedFile huge(riff({chunk("fmt ", formatBody(1, 2, 8000, 4, 16)),
                          chunkWithSize("data", 0xFFFFFFFC, sampleBytes({1, 2}))}));
    ASSERT_NE(huge.reader, nullptr);
    EXPECT_EQ(huge.reader->frames, 0x3FFFFFFFu);
    EXPECT_EQ(WavReader::loadAll(huge.reader), nullptr);
}

} // namespace
