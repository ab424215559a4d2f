// Writes the seed corpus of one fuzz target (reader or job) into a folder. Every
// seed is built here byte by byte, so the corpora come from this code alone: valid files of
// each layout, odd and misplaced chunks, refused formats, forged sizes and cut files.
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

using Seeds = std::vector<std::pair<std::string, Bytes>>;

constexpr uint32_t kRate = 44100;

std::vector<int16_t> wave(size_t count, int step) {
    std::vector<int16_t> out;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<int16_t>((static_cast<int>(i) * step) % 65536 - 32768));
    }
    return out;
}

// As a tool streaming into a pipe writes it: RIFF and data sizes all ones, a LIST chunk
// first, the samples to the end of the file, then whatever a cut left.
Bytes streamed(uint16_t channels, const std::vector<int16_t>& samples, const Bytes& tail) {
    const char list[] = "INFOISFT\x0e\0\0\0Lavf59.27.100";
    const Bytes listChunk = chunk("LIST", Bytes(list, list + sizeof list));
    return concat({riffWithSize(0xFFFFFFFF, {pcmFormatChunk(channels, kRate), listChunk}),
                   Bytes{'d', 'a', 't', 'a'}, le32(0xFFFFFFFF), sampleBytes(samples), tail});
}

Bytes prefix(const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(std::min(length, bytes.size())));
}

Seeds readerSeeds() {
    const auto mono = wave(9, 7001);
    const auto stereo = wave(12, 5003);
    const Bytes fmtMono = pcmFormatChunk(1, kRate);
    const Bytes fmtStereo = pcmFormatChunk(2, kRate);
    const Bytes dataMono = chunk("data", sampleBytes(mono));
    const Bytes dataStereo = chunk("data", sampleBytes(stereo));
    const Bytes plainStereo = pcmWav(2, kRate, stereo);
    Seeds seeds = {
        {"mono", pcmWav(1, kRate, mono)},
        {"stereo", plainStereo},
        {"extremes", pcmWav(1, 8000, {-32768, 32767, 0, -1, 1})},
        {"empty-data", pcmWav(2, kRate, {})},
        {"odd-data", riff({fmtMono, chunk("data", {1, 2, 3})})},
        {"list-before-format", riff({chunk("LIST", Bytes(26, 'i')), fmtStereo, dataStereo})},
        {"odd-chunk-between", riff({fmtMono, chunk("junk", Bytes(5, 0xEE)), dataMono})},
        {"format-18-bytes",
         riff({chunk("fmt ", concat({formatBody(1, 2, kRate, 4, 16), le16(0)})), dataStereo})},
        {"format-short",
         riff({chunkWithSize("fmt ", 14, formatBody(1, 1, kRate, 2, 16)), dataMono})},
        {"data-before-format", riff({dataStereo, fmtStereo})},
        {"two-data", riff({fmtMono, dataMono, chunk("data", sampleBytes({5, 6}))})},
        {"extensible",
         riff({chunk("fmt ", concat({formatBody(0xFFFE, 2, kRate, 4, 16), le16(22), Bytes(22, 0)})),
               dataStereo})},
        {"8-bit", riff({chunk("fmt ", formatBody(1, 1, kRate, 1, 8)), dataMono})},
        {"24-bit", riff({chunk("fmt ", formatBody(1, 2, kRate, 6, 24)), dataStereo})},
        {"float", riff({chunk("fmt ", formatBody(3, 1, kRate, 4, 32)), dataMono})},
        {"three-channels", riff({chunk("fmt ", formatBody(1, 3, kRate, 6, 16)), dataStereo})},
        {"zero-channels", riff({chunk("fmt ", formatBody(1, 0, kRate, 2, 16)), dataMono})},
        {"zero-block-align", riff({chunk("fmt ", formatBody(1, 2, kRate, 0, 16)), dataStereo})},
        {"block-align-6", riff({chunk("fmt ", formatBody(1, 2, kRate, 6, 16)), dataStereo})},
        {"block-align-1", riff({chunk("fmt ", formatBody(1, 1, kRate, 1, 16)), dataMono})},
        {"riff-size-0", riffWithSize(0, {fmtMono, dataMono})},
        {"riff-size-20", riffWithSize(20, {fmtMono, dataMono})},
        {"riff-size-24", riffWithSize(24, {fmtMono, dataMono})},
        {"riff-size-28", riffWithSize(28, {fmtMono, dataMono})},
        {"riff-size-max", riffWithSize(0xFFFFFFFF, {fmtStereo, dataStereo})},
        {"chunk-2g-before", riff({chunkWithSize("junk", 0x80000000, {}), fmtMono, dataMono})},
        {"chunk-4g-before", riff({chunkWithSize("junk", 0xFFFFFFFF, {}), fmtMono, dataMono})},
        {"chunk-4g-after", riff({fmtMono, dataMono, chunkWithSize("junk", 0xFFFFFFFF, {})})},
        {"data-2g", riff({fmtMono, chunkWithSize("data", 0x80000000, sampleBytes(mono))})},
        {"data-4g-minus-2",
         riff({fmtStereo, chunkWithSize("data", 0xFFFFFFFE, sampleBytes(stereo))})},
        {"data-to-the-end",
         riff({fmtStereo, chunkWithSize("data", 0xFFFFFFFF, sampleBytes(stereo))})},
        {"streamed-into-a-pipe", streamed(2, stereo, {})},
        {"streamed-cut-mid-frame", streamed(2, stereo, {0x12, 0x34, 0x56})},
        {"data-longer-than-file",
         riff({fmtStereo, chunkWithSize("data", 4000, sampleBytes(stereo))})},
        {"ids-in-other-case",
         riff({chunk("FMT ", formatBody(1, 1, kRate, 2, 16)), chunk("Data", sampleBytes(mono))})},
    };
    std::vector<Bytes> many;
    for (uint32_t i = 0; i < 200; ++i) {
        many.push_back(chunk("pad ", Bytes(i % 4, static_cast<uint8_t>(i))));
    }
    Bytes notRiff = plainStereo;
    notRiff[3] = 'X';
    seeds.push_back({"rifx", notRiff});
    seeds.push_back({"many-small-chunks", riff({concat(many), fmtMono, concat(many), dataMono})});
    for (size_t length : {0, 4, 8, 11, 12, 16, 20, 35, 36, 43, 44, 45, 46, 47, 50}) {
        seeds.push_back({"cut-at-" + std::to_string(length), prefix(plainStereo, length)});
    }
    return seeds;
}

Seeds jobSeeds() {
    const Bytes monoIn = pcmWav(1, kRate, wave(40, 3001));
    const Bytes stereoIn = pcmWav(2, kRate, wave(60, 1009));
    const Bytes monoIr = pcmWav(1, kRate, wave(5, 9001));
    const Bytes stereoIr = pcmWav(2, kRate, wave(8, 2003));
    const Bytes fmtMono = pcmFormatChunk(1, kRate);
    const Seeds pairs = {
        {"mono-mono", joinJobFiles(monoIn, monoIr)},
        {"mono-stereo", joinJobFiles(monoIn, stereoIr)},
        {"stereo-stereo", joinJobFiles(stereoIn, stereoIr)},
        {"stereo-mono", joinJobFiles(stereoIn, monoIr)},
        {"same-file-for-both", stereoIn},
        {"other-rate", joinJobFiles(monoIn, pcmWav(1, 22050, wave(3, 11)))},
        {"empty-impulse", joinJobFiles(monoIn, pcmWav(1, kRate, {}))},
        {"empty-input", joinJobFiles(pcmWav(2, kRate, {}), monoIr)},
        {"input-cut-mid-frame", joinJobFiles(prefix(stereoIn, 44 + 4 * 10 + 3), monoIr)},
        {"impulse-cut-mid-frame", joinJobFiles(monoIn, prefix(stereoIr, 44 + 4 * 3 + 2))},
        {"input-too-large",
         joinJobFiles(riff({fmtMono, chunkWithSize("data", 0xFFFFFFFE, Bytes(8, 1))}), monoIr)},
        {"both-streamed-into-a-pipe",
         joinJobFiles(streamed(2, wave(30, 4001), {7}), streamed(1, wave(4, 8009), {}))},
        {"impulse-streamed-empty", joinJobFiles(monoIn, streamed(1, {}, {}))},
        {"impulse-2g",
         joinJobFiles(monoIn, riff({fmtMono, chunkWithSize("data", 0x80000000, Bytes(8, 1))}))},
        {"input-unreadable", joinJobFiles(prefix(monoIn, 30), monoIr)},
        {"impulse-unreadable", joinJobFiles(monoIn, prefix(monoIr, 30))},
    };
    return pairs;
}

int writeSeeds(const fs::path& folder, const Seeds& seeds) {
    fs::create_directories(folder);
    for (const auto& [name, bytes] : seeds) {
        writeFileBytes((folder / name).string(), bytes);
        if (!fs::exists(folder / name)) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string target = argc == 3 ? argv[1] : "";
    if (target != "reader" && target != "job") {
        fprintf(stderr, "usage: fuzz-seeds reader|job FOLDER\n");
        return 2;
    }
    if (!writeSeeds(argv[2], target == "reader" ? readerSeeds() : jobSeeds())) {
        fprintf(stderr, "cannot write the seeds into %s\n", argv[2]);
        return 1;
    }
    return 0;
}
