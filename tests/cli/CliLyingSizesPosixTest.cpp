// Files whose sizes say something other than what they hold, through the real program: the
// all-ones data size that a writer streaming into a pipe leaves and sox's 0x7FFFF000 (both
// read to the end of the file), sizes shorter or longer than the file (said on standard
// error after the job), and claims far beyond the file, which must cost what the file holds. Each
// checks the exit status, standard error, that both inputs are unchanged, and that the output is a
// valid WAV file holding exactly the complete result (or nothing, where the job fails after
// creating it).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "job/FailureTexts.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/WrittenWav.h"

namespace {

constexpr uint32_t kRate = 48000;

Bytes text(const char* s) {
    return Bytes(s, s + strlen(s));
}

// As ffmpeg writes into a pipe: RIFF and data sizes all ones, a LIST chunk before the data,
// the samples running to the end of the file, then whatever tail a cut left.
Bytes streamed(uint16_t channels, const std::vector<int16_t>& samples, const Bytes& tail = {}) {
    const Bytes list =
        chunk("LIST", concat({text("INFOISFT"), le32(14), text("Lavf59.27.100"), Bytes{0}}));
    return concat({riffWithSize(0xFFFFFFFF, {pcmFormatChunk(channels, kRate), list}), text("data"),
                   le32(0xFFFFFFFF), sampleBytes(samples), tail});
}

// A data chunk declaring `dataSize` bytes, holding `samples`, the file ending right after them
// (or going on with `after`).
Bytes declaring(uint16_t channels, uint32_t dataSize, const std::vector<int16_t>& samples,
                const Bytes& after = {}) {
    return concat({riffWithSize(0xFFFFFFFF, {pcmFormatChunk(channels, kRate)}), text("data"),
                   le32(dataSize), sampleBytes(samples), after});
}

struct LyingSize {
    const char* what;
    Bytes input;                   // the recording's bytes
    Bytes impulse;                 // the impulse's bytes
    int exitStatus;                // 0 done, 1 failed
    std::string err;               // standard error, every line
    bool outputCreated;            // an output file must be there afterwards
    uint32_t channels;             // its channels
    std::vector<int16_t> expected; // all its samples
    ProcessLimits limits;          // memory and time the run must stay within
};

TEST(CliLyingSizes, EachSizeMeansWhatTheFileCanBack) {
    const std::vector<int16_t> stereo = {1200, -900,  3100,   700, -2500, 4000, 800,
                                         -600, 30000, -30000, 50,  -50,   9000, 100};
    const std::vector<int16_t> mono = {16384, -8192, 4096};
    const std::vector<int16_t> stereoTaps = {16384, 8192, -4096, 2048};
    const std::vector<int16_t> done = expectedOutput(2, stereo, 1, mono);
    const Bytes plainStereo = pcmWav(2, kRate, stereo);
    const Bytes plainMono = pcmWav(1, kRate, mono);
    std::vector<int16_t> tenFrames = stereo;
    tenFrames.resize(20, 0);
    std::vector<int16_t> longClaim = stereo;
    longClaim.resize(size_t{132300} * 2, 0);
    std::vector<int16_t> sixTaps = mono;
    sixTaps.resize(6, 0);
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("impulse.wav");
    const std::string output = dir.file("out.wav");
    const std::vector<LyingSize> rows = {
        {"a streamed input (ffmpeg into a pipe)", streamed(2, stereo), plainMono, 0, "", true, 2,
         done, ProcessLimits{}},
        {"a streamed input cut inside a frame: the cut frame is left out",
         streamed(2, stereo, {0x11, 0x22, 0x33}), plainMono, 0, "", true, 2, done, ProcessLimits{}},
        {"a streamed stereo impulse", plainStereo, streamed(2, stereoTaps), 0, "", true, 2,
         expectedOutput(2, stereo, 2, stereoTaps), ProcessLimits{}},
        {"a streamed mono impulse cut inside a sample", plainStereo, streamed(1, mono, {0x7F}), 0,
         "", true, 2, done, ProcessLimits{}},
        {"both streamed", streamed(2, stereo), streamed(1, mono), 0, "", true, 2, done,
         ProcessLimits{}},
        {"a streamed input with no samples yet", streamed(1, {}), plainMono, 0, "", true, 1,
         expectedOutput(1, {}, 1, mono), ProcessLimits{}},
        {"a streamed impulse with no samples",
         plainStereo,
         streamed(1, {}),
         1,
         "convoluzione-cli: " + impulse + ": " + kTextImpulseNotLoaded +
             "\nconvoluzione-cli: motivo: l'impulso non contiene campioni\n",
         true,
         2,
         {},
         ProcessLimits{}},
        {"2^32 - 2 is a claim like any other",
         declaring(1, 0xFFFFFFFE, {1, 2, 3}),
         plainMono,
         1,
         "convoluzione-cli: " + output + ": " + kTextOutputTooLarge +
             "\nconvoluzione-cli: motivo: l'input dichiara 2.147.483.647 frame e l'impulso 3\n",
         false,
         0,
         {},
         ProcessLimits{}},
        {"a data size shorter than the file: only what it declares",
         declaring(2, 16, stereo, chunk("LIST", Bytes(6, 'x'))), plainMono, 0, "", true, 2,
         expectedOutput(2, std::vector<int16_t>(stereo.begin(), stereo.begin() + 8), 1, mono),
         ProcessLimits{}},
        // clang-format off
        {"a data size longer than the file: the missing frames are silence, and it is said", declaring(2, 40, stereo), plainMono, 0, "convoluzione-cli: attenzione: l'input contiene 7 frame dei 10 dichiarati; il resto e' letto come silenzio\n", true, 2, expectedOutput(2, tenFrames, 1, mono), ProcessLimits{}},
        {"a claim in the thousands is grouped as Italians write it", declaring(2, 529200, stereo), plainMono, 0, "convoluzione-cli: attenzione: l'input contiene 7 frame dei 132.300 dichiarati; il resto e' letto come silenzio\n", true, 2, expectedOutput(2, longClaim, 1, mono), ProcessLimits{}},
        {"an impulse claiming more than it holds: the missing taps are zeros", plainStereo, declaring(1, 12, mono), 0, "convoluzione-cli: attenzione: l'impulso contiene 3 frame dei 6 dichiarati; il resto e' letto come silenzio\n", true, 2, expectedOutput(2, stereo, 1, sixTaps), ProcessLimits{}},
        {"sox's pipe placeholder in a short file: to the end of the file", declaring(2, 0x7FFFF000, stereo), plainMono, 0, "", true, 2, done, ProcessLimits{}},
        {"sox's pipe placeholder in a short impulse, cut inside a sample", plainStereo, declaring(1, 0x7FFFF000, mono, {0x7F}), 0, "", true, 2, done, ProcessLimits{}},
        // clang-format on
    };
    for (const LyingSize& row : rows) {
        SCOPED_TRACE(row.what);
        writeFileBytes(input, row.input);
        writeFileBytes(impulse, row.impulse);
        std::filesystem::remove(output);
        const CliRun run = runCli(dir, {input, impulse, output}, row.limits);
        EXPECT_EQ(run.exitStatus, row.exitStatus);
        EXPECT_EQ(run.endedBy, 0);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(readFileBytes(input), row.input);
        EXPECT_EQ(readFileBytes(impulse), row.impulse);
        ASSERT_EQ(std::filesystem::exists(output), row.outputCreated);
        if (!row.outputCreated) {
            continue;
        }
        const Bytes file = readFileBytes(output);
        const WrittenWav wav = checkWrittenWav(file);
        ASSERT_TRUE(wav.valid) << wav.problem;
        EXPECT_EQ(wav.channels, row.channels);
        EXPECT_EQ(wav.sampleRate, kRate);
        EXPECT_EQ(samplesAfterHeader(file), row.expected);
    }
}

// Headers that claim far more than their files hold cost what the files hold: the missing
// samples are silence, the output as long as the claims say, computed only where real samples
// meet. Each run is held to an address space and a time that a job computing the claims (all
// silence) would need many times over: loading the first row's taps as claimed takes
// 128 MiB and the engine twice as much again; computing every claimed frame of the second
// against 2 s of taps takes tens of seconds. The output must be exactly what the same files
// give with honest sizes, then silence to the claimed length.
TEST(CliLyingSizes, ClaimsCostWhatTheFilesHold) {
    struct Claim {
        const char* what;
        std::vector<int16_t> input;   // the samples the recording really holds (mono)
        uint32_t inputClaim;          // the bytes its data size claims; 0 = honest
        std::vector<int16_t> impulse; // the taps the impulse really holds (mono)
        uint32_t impulseClaim;        // likewise
        ProcessLimits limits;
    };
    std::vector<int16_t> taps(2000);
    std::vector<int16_t> recording(1000);
    std::vector<int16_t> longTaps(96000);
    for (size_t i = 0; i < longTaps.size(); ++i) {
        longTaps[i] = static_cast<int16_t>((i * 7919 % 6001) - 3000);
        if (i < taps.size()) {
            taps[i] = static_cast<int16_t>((i * 104729 % 40001) - 20000);
        }
        if (i < recording.size()) {
            recording[i] = static_cast<int16_t>((i * 15485863 % 40001) - 20000);
        }
    }
    const uint32_t claim = 0x04000000; // 2^25 mono frames: 64 MiB of samples
    const std::vector<Claim> rows = {
        {"an impulse of 2,000 taps claiming 2^25",
         {1000, -2000, 3000, 500, -700},
         0,
         taps,
         claim,
         ProcessLimits{kNoLimit, uint64_t{384} << 20, 600}},
        {"an input of 1,000 frames claiming 2^25", recording, claim, longTaps, 0,
         ProcessLimits{kNoLimit, uint64_t{384} << 20, 10}},
    };
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("impulse.wav");
    const std::string output = dir.file("out.wav");
    const auto file = [](const std::vector<int16_t>& samples, uint32_t claimed) {
        return declaring(1, claimed != 0 ? claimed : static_cast<uint32_t>(2 * samples.size()),
                         samples);
    };
    for (const Claim& row : rows) {
        SCOPED_TRACE(row.what);
        writeFileBytes(input, file(row.input, 0));
        writeFileBytes(impulse, file(row.impulse, 0));
        ASSERT_EQ(runCli(dir, {input, impulse, output}).exitStatus, 0);
        const std::vector<int16_t> honest = samplesAfterHeader(readFileBytes(output));
        const Bytes lyingInput = file(row.input, row.inputClaim);
        const Bytes lyingImpulse = file(row.impulse, row.impulseClaim);
        writeFileBytes(input, lyingInput);
        writeFileBytes(impulse, lyingImpulse);
        const CliRun run = runCli(dir, {input, impulse, output}, row.limits);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.endedBy, 0);
        EXPECT_EQ(readFileBytes(input), lyingInput);
        EXPECT_EQ(readFileBytes(impulse), lyingImpulse);
        const Bytes written = readFileBytes(output);
        const WrittenWav wav = checkWrittenWav(written);
        ASSERT_TRUE(wav.valid) << wav.problem;
        const uint64_t frames = (row.inputClaim != 0 ? row.inputClaim / 2 : row.input.size()) +
                                (row.impulseClaim != 0 ? row.impulseClaim / 2 : row.impulse.size());
        ASSERT_EQ(written.size(), 44 + 2 * frames);
        const std::vector<int16_t> samples = samplesAfterHeader(written);
        EXPECT_TRUE(std::equal(honest.begin(), honest.end(), samples.begin()));
        EXPECT_TRUE(std::all_of(samples.begin() + static_cast<ptrdiff_t>(honest.size()),
                                samples.end(), [](int16_t s) { return s == 0; }));
    }
}

} // namespace
