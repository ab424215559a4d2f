// The reader on files built byte by byte: the chunk walk, the formats it refuses, and what
// it makes of files that end early.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "tests/support/LoadWav.h"
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
    EXPECT_EQ(file.reader->framesInFile, 2u);
    EXPECT_EQ(file.reader->dataOffset, 44u);
}

// What frames and framesInFile become for data sizes that claim less, exactly as much, more
// than the file holds, and the all-ones size that means "to the end of the file".
TEST(WavReaderOpen, CountsTheFramesClaimedAndTheFramesInTheFile) {
    struct Row {
        const char* what;
        uint16_t channels;
        uint16_t blockAlign;
        uint32_t dataSize;
        size_t sampleBytes; // bytes after the data chunk's header, to the end of the file
        uint32_t frames;
        uint32_t framesInFile;
    };
    const Row rows[] = {
        {"exact, mono", 1, 2, 8, 8, 4, 4},
        {"exact, stereo", 2, 4, 8, 8, 2, 2},
        {"less than the file holds", 2, 4, 8, 20, 2, 2},
        {"more than the file holds", 1, 2, 100, 8, 50, 4},
        {"more, the file ending inside a stereo frame", 2, 4, 40, 10, 10, 2},
        {"an odd size", 1, 2, 7, 8, 3, 3},
        {"0", 2, 4, 0, 8, 0, 0},
        {"2^32 - 2: a claim like any other", 2, 4, 0xFFFFFFFE, 8, 0x3FFFFFFF, 2},
        {"all ones: to the end", 1, 2, 0xFFFFFFFF, 10, 5, 5},
        {"all ones: to the end, stereo", 2, 4, 0xFFFFFFFF, 16, 4, 4},
        {"all ones: a cut frame at the end is left out", 2, 4, 0xFFFFFFFF, 15, 3, 3},
        {"all ones: a cut sample too", 1, 2, 0xFFFFFFFF, 9, 4, 4},
        {"all ones: nothing after the header", 2, 4, 0xFFFFFFFF, 0, 0, 0},
        {"all ones: counted by the block align, read by the channels", 2, 6, 0xFFFFFFFF, 13, 2, 2},
        {"block align 6: 3 frames in the file, 2 declared", 2, 6, 12, 12, 2, 2},
        {"sox's pipe placeholder: to the end", 2, 4, 0x7FFFF000, 16, 4, 4},
        {"sox's pipe placeholder: a cut frame left out", 1, 2, 0x7FFFF000, 9, 4, 4},
        {"one short of sox's placeholder: a claim like any other", 1, 2, 0x7FFFEFFF, 8, 0x3FFFF7FF,
         4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes samples(row.sampleBytes);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<uint8_t>(i * 37 + 1);
        }
        // The samples are not padded: the file ends where they end.
        const Bytes bytes = concat(
            {riffWithSize(0xFFFFFFFF,
                          {chunk("fmt ", formatBody(1, row.channels, 8000, row.blockAlign, 16))}),
             Bytes{'d', 'a', 't', 'a'}, le32(row.dataSize), samples});
        OpenedFile file(bytes);
        ASSERT_NE(file.reader, nullptr);
        EXPECT_EQ(file.reader->frames, row.frames);
        EXPECT_EQ(file.reader->framesInFile, row.framesInFile);
        // framesInFile is exactly how far frame-by-frame reading gets.
        uint32_t read = 0;
        float frame[2];
        while (read <= row.frames && WavReader::readFrame(file.reader, frame) == 1) {
            ++read;
        }
        EXPECT_EQ(std::min(read, row.frames), row.framesInFile);
    }
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

// Each refusal, and the reason a separate look at the file finds for it.
TEST(WavReaderOpen, RefusesWhatItCannotReadAndTheDiagnosisSaysWhy) {
    const auto withFormat = [](uint16_t tag, uint16_t channels, uint16_t blockAlign,
                               uint16_t bits) {
        return riff({chunk("fmt ", formatBody(tag, channels, 8000, blockAlign, bits)), kData});
    };
    // An extensible format chunk (40 bytes) whose sub-format GUID starts with this tag.
    const auto extensible = [](uint16_t subFormat, uint16_t channels, uint16_t bits) {
        const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
        return riff({chunk("fmt ", concat({formatBody(0xFFFE, channels, 8000, align, bits),
                                           le16(22), le16(bits), le32(3), le16(subFormat),
                                           Bytes{0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38,
                                                 0x9B, 0x71}})),
                     kData});
    };
    Bytes notWave = riff({pcmFormatChunk(1, 8000), kData});
    notWave[8] = 'A';
    Bytes notRiff = riff({pcmFormatChunk(1, 8000), kData});
    notRiff[0] = 'R' + 32;
    struct Row {
        const char* what;
        Bytes bytes;
        WavProblem problem;
        uint32_t formatTag;
        uint32_t subFormat;
        uint32_t bits;
        uint32_t channels;
    };
    const Row rows[] = {
        {"8-bit", withFormat(1, 1, 1, 8), wavNotSixteenBits, 1, 0, 8, 1},
        {"24-bit", withFormat(1, 1, 3, 24), wavNotSixteenBits, 1, 0, 24, 1},
        {"float", withFormat(3, 1, 4, 32), wavNotPcm, 3, 0, 32, 1},
        {"extensible, even with 16 bits", withFormat(0xFFFE, 1, 2, 16), wavNotPcm, 0xFFFE, 0, 16,
         1},
        {"extensible PCM, 24 bits", extensible(1, 2, 24), wavNotPcm, 0xFFFE, 1, 24, 2},
        {"extensible float, 6 channels", extensible(3, 6, 32), wavNotPcm, 0xFFFE, 3, 32, 6},
        {"three channels", withFormat(1, 3, 6, 16), wavBadChannels, 1, 0, 16, 3},
        {"no channels", withFormat(1, 0, 2, 16), wavBadChannels, 1, 0, 16, 0},
        {"block align 0: nothing to divide by", withFormat(1, 1, 0, 16), wavNoBlockAlign, 1, 0, 16,
         1},
        {"no data", riff({pcmFormatChunk(1, 8000)}), wavNoDataChunk, 1, 0, 16, 1},
        {"no format", riff({kData}), wavNoFormatChunk, 0, 0, 0, 0},
        {"format body cut short", riffWithSize(30, {chunkWithSize("fmt ", 16, Bytes(10, 1))}),
         wavFormatCut, 0, 0, 0, 0},
        {"format chunk of 14 bytes, before a data chunk",
         riff({chunk("fmt ", Bytes(14, 1)), kData}), wavFormatTooShort, 0, 0, 0, 0},
        {"RIFF size 0, as a writer killed at once leaves it",
         riffWithSize(0, {pcmFormatChunk(1, 8000), kData}), wavRiffSizeZero, 0, 0, 0, 0},
        {"a text shorter than a RIFF header", Bytes{'h', 'i'}, wavNotRiffWave, 0, 0, 0, 0},
        {"not WAVE", notWave, wavNotRiffWave, 0, 0, 0, 0},
        {"not RIFF", notRiff, wavNotRiffWave, 0, 0, 0, 0},
        {"empty", Bytes{}, wavEmpty, 0, 0, 0, 0},
    };
    ScratchDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(opens(row.bytes));
        writeFileBytes(dir.file("f.wav"), row.bytes);
        const WavDiagnosis diagnosis = WavReader::diagnose(dir.file("f.wav").c_str());
        EXPECT_EQ(diagnosis.problem, row.problem);
        EXPECT_EQ(diagnosis.formatTag, row.formatTag);
        EXPECT_EQ(diagnosis.subFormat, row.subFormat);
        EXPECT_EQ(diagnosis.bitsPerSample, row.bits);
        EXPECT_EQ(diagnosis.channels, row.channels);
    }
    EXPECT_TRUE(opens(withFormat(1, 2, 4, 16)));
    writeFileBytes(dir.file("f.wav"), withFormat(1, 2, 4, 16));
    EXPECT_EQ(WavReader::diagnose(dir.file("f.wav").c_str()).problem, wavFine);
    // Files the system will not give: named by its reason.
    EXPECT_EQ(WavReader::open("/nonexistent/folder/f.wav"), nullptr);
    const WavDiagnosis missing = WavReader::diagnose(dir.file("missing.wav").c_str());
    EXPECT_EQ(missing.problem, wavCannotOpen);
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_EQ(WavReader::open(dir.path.c_str()), nullptr);
    const WavDiagnosis folder = WavReader::diagnose(dir.path.c_str());
    EXPECT_EQ(folder.problem, wavCannotOpen);
    EXPECT_EQ(folder.systemError, EISDIR);
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
    EXPECT_EQ(file.reader->framesInFile, 2u);
    std::vector<float> frames(8, 9.0f);
    EXPECT_EQ(WavReader::readNextFrames(file.reader, frames.data(), 4), 2u);
    const float s = 1.0f / 32768.0f;
    EXPECT_EQ(frames, (std::vector<float>{1 * s, 2 * s, 3 * s, 4 * s, 0, 0, 0, 0}));
}

TEST(WavReaderRead, LoadAllReadsEverythingAndZeroFillsWhatIsMissing) {
    OpenedFile whole(pcmWav(1, 8000, {100, -100, 32767}));
    float* samples = loadAll(whole.reader);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(samples[0], 100.0f / 32768.0f);
    EXPECT_EQ(samples[1], -100.0f / 32768.0f);
    EXPECT_EQ(samples[2], 32767.0f / 32768.0f);
    free(samples);

    // Declares 3000 samples, holds 2: more than one conversion block is missing.
    OpenedFile cut(
        riff({pcmFormatChunk(1, 8000), chunkWithSize("data", 6000, sampleBytes({7, 8}))}));
    ASSERT_NE(cut.reader, nullptr);
    samples = loadAll(cut.reader);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(samples[1], 8.0f / 32768.0f);
    for (size_t i = 2; i < 3000; ++i) {
        ASSERT_EQ(samples[i], 0.0f) << i;
    }
    // Read in pieces of any size, one after another, the same samples come back.
    std::vector<float> pieces(3000, 9.0f);
    for (uint64_t first = 0, count = 1; first < pieces.size();
         first += count, count = count * 5 + 1) {
        count = std::min<uint64_t>(count, pieces.size() - first);
        ASSERT_EQ(WavReader::readSamples(cut.reader, pieces.data() + first, first, count), 1);
    }
    EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), samples));
    free(samples);
}

TEST(WavReaderRead, LoadAllRefusesNothingToLoadAndBuffersOverFourGigabytes) {
    EXPECT_EQ(loadAll(nullptr), nullptr);
    OpenedFile empty(pcmWav(2, 8000, {}));
    ASSERT_NE(empty.reader, nullptr);
    EXPECT_EQ(loadAll(empty.reader), nullptr);
    // 2^30 stereo frames would take 8 GiB of floats: refused before any allocation.
    OpenedFile huge(riff({chunk("fmt ", formatBody(1, 2, 8000, 4, 16)),
                          chunkWithSize("data", 0xFFFFFFFC, sampleBytes({1, 2}))}));
    ASSERT_NE(huge.reader, nullptr);
    EXPECT_EQ(huge.reader->frames, 0x3FFFFFFFu);
    EXPECT_EQ(huge.reader->framesInFile, 1u);
    EXPECT_EQ(loadAll(huge.reader), nullptr);
    EXPECT_EQ(WavReader::allocateFrames(huge.reader, huge.reader->frames), nullptr);
    EXPECT_EQ(WavReader::framesToLoad(huge.reader), 2u); // the frame held, and one more
    // The limit itself: 4 GiB of floats, to the byte.
    EXPECT_TRUE(WavReader::fitsInMemory(0x3FFFFFFF, 1));
    EXPECT_FALSE(WavReader::fitsInMemory(0x40000000, 1));
    EXPECT_TRUE(WavReader::fitsInMemory(0x1FFFFFFF, 2));
    EXPECT_FALSE(WavReader::fitsInMemory(0x20000000, 2));
    EXPECT_FALSE(WavReader::fitsInMemory(uint64_t{1} << 62, 2));
}

} // namespace
