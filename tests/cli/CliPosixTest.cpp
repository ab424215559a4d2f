// The command line as a script sees it: exit statuses, what goes to which stream, the reason
// given under a failure, the warning after a saturated job, standard input and output and
// pipes in place of files, messages nobody can read, and Ctrl-C leaving a valid file.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "job/FailureTexts.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/WrittenWav.h"

namespace {

// A file's bytes; nothing for a folder or a missing file.
Bytes contentOf(const std::string& path) {
    return std::filesystem::is_regular_file(path) ? readFileBytes(path) : Bytes{};
}

const std::string kVersionLine = std::string("convoluzione-cli ") + CONVOLUZIONE_VERSION +
                                 "\nLicenza MIT <https://opensource.org/licenses/MIT>\n";
const std::string kHelpHint =
    "convoluzione-cli: usare 'convoluzione-cli --help' per maggiori informazioni\n";

TEST(Cli, HelpAndVersionGoToStandardOutputAndWrongUsageToStandardError) {
    ScratchDir dir;
    // -h anywhere before "--" wins, even over a wrong option or a wrong number of files.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"},
                                                 {"--help"},
                                                 {"a.wav", "b.wav", "c.wav", "-h"},
                                                 {"-x", "-h"},
                                                 {"-qh"},
                                                 {"--help", "--version"}}) {
        const CliRun help = runCli(dir, args);
        EXPECT_EQ(help.exitStatus, 0);
        EXPECT_EQ(help.out.rfind("Uso: convoluzione-cli [OPZIONI] INPUT IMPULSO OUTPUT\n", 0), 0u);
        for (const char* option :
             {"--version", "--quiet", "--no-clobber", "--threads=N", "\n  --"}) {
            EXPECT_NE(help.out.find(option), std::string::npos) << option;
        }
        EXPECT_NE(help.out.find("128 + il numero del segnale"), std::string::npos);
        EXPECT_NE(help.out.find("viene sostituito, salvo con -n"), std::string::npos);
        EXPECT_EQ(help.err, "");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"a.wav", "--version"}, {"--vers"}}) {
        const CliRun version = runCli(dir, args);
        EXPECT_EQ(version.exitStatus, 0);
        EXPECT_EQ(version.out, kVersionLine);
        EXPECT_EQ(version.err, "");
    }
    // Each wrong command line: what is wrong on one line, then the hint, status 2.
    const std::string files = "servono tre file (INPUT IMPULSO OUTPUT), ";
    const std::string unknown = "opzione non riconosciuta: ";
    const std::string needs = "l'opzione richiede un argomento: ";
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrongs = {
        {{}, files + "non ne e' stato dato nessuno"},
        {{"a.wav"}, files + "ne e' stato dato 1"},
        {{"a.wav", "b.wav"}, files + "ne sono stati dati 2"},
        {{"a", "b", "c", "d"}, files + "ne sono stati dati 4"},
        {{"-q", "--", "a", "b"}, files + "ne sono stati dati 2"},
        {{"-x", "a", "b", "c"}, unknown + "-x"},
        {{"a", "b", "c", "-qxn"}, unknown + "-x"},
        {{"--frobnicate", "a", "b", "c"}, unknown + "--frobnicate"},
        {{"--quiet=1", "a", "b", "c"}, "l'opzione --quiet non vuole argomenti"},
        {{"a", "b", "c", "-j"}, needs + "-j"},
        {{"a", "b", "c", "--threads"}, needs + "--threads"},
        {{"-j", "due", "a", "b", "c"},
         "numero di thread non valido: 'due' (da 0 a 1024; 0 = automatico)"},
        {{"--threads=-1", "a", "b", "c"},
         "numero di thread non valido: '-1' (da 0 a 1024; 0 = automatico)"},
        {{"-j1025", "a", "b", "c"},
         "numero di thread non valido: '1025' (da 0 a 1024; 0 = automatico)"},
    };
    for (const auto& [args, problem] : wrongs) {
        SCOPED_TRACE(problem);
        const CliRun wrong = runCli(dir, args);
        EXPECT_EQ(wrong.exitStatus, 2);
        EXPECT_EQ(wrong.out, "");
        EXPECT_EQ(wrong.err, "convoluzione-cli: " + problem + "\n" + kHelpHint);
    }
}

TEST(Cli, SucceedsSilentlyWhenStandardErrorIsNotATerminal) {
    ScratchDir dir;
    writeFileBytes(dir.file("in.wav"), pcmWav(2, 8000, {100, 200, 300, 400}));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 8000, {16384}));
    const CliRun run = runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))),
              (std::vector<int16_t>{0, 0, 50, 100, 150, 200}));
}

// Every refusal: the fixed sentence the dialog shows too, then one line that says why,
// found in the files themselves; the inputs stay as they were.
TEST(Cli, AFailureSaysWhyOnTheLineAfterItsSentence) {
    ScratchDir dir;
    const std::string good = dir.file("good.wav");
    const std::string out = dir.file("out.wav");
    writeFileBytes(good, pcmWav(1, 8000, {1000, -2000}));
    const Bytes data = chunk("data", sampleBytes({1, 2, 3, 4, 5, 6}));
    const auto withFormat = [&](uint16_t tag, uint16_t channels, uint16_t align, uint16_t bits) {
        return riff({chunk("fmt ", formatBody(tag, channels, 8000, align, bits)), data});
    };
    const Bytes extensible = riff(
        {chunk("fmt ",
               concat({formatBody(0xFFFE, 2, 8000, 4, 16), le16(22), le16(16), le32(3), le16(1),
                       Bytes{0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}})),
         data});
    const std::string in = kTextInputUnreadable;
    const std::string ir = kTextImpulseUnreadable;
    const std::string created = kTextOutputNotCreated;
    struct Row {
        const char* what;
        Bytes input; // written to in.wav when inputPath is empty; likewise the impulse
        Bytes impulse;
        std::string inputPath;
        std::string impulsePath;
        std::string outputPath;
        int status;
        std::string err;
        ProcessLimits limits = {};
    };
    const std::string dangling = dir.file("dangling.wav");
    const std::string danglingOut = dir.file("dangling-out.wav");
    std::filesystem::create_symlink(dir.file("gone.wav"), dangling);
    std::filesystem::create_symlink(dir.file("no/out.wav"), danglingOut);
    const Bytes format = formatBody(1, 1, 8000, 2, 16);

    const std::string text = "testo, non audio\n";
    // clang-format off
    const std::vector<Row> rows = {
        {"missing input", {}, {}, dir.file("missing.wav"), good, out, 1, in + "\nmotivo: il file non esiste\n"},
        {"input a folder", {}, {}, dir.path, good, out, 1, in + "\nmotivo: e' una cartella, non un file\n"},
        {"input a text file", Bytes(text.begin(), text.end()), {}, "", good, out, 1, in + "\nmotivo: non e' un file WAV (non inizia con RIFF e WAVE)\n"},
        {"input empty", Bytes{}, {}, "", good, out, 1, in + "\nmotivo: il file e' vuoto\n"},
        {"input whose length the system does not know", {}, {}, "/proc/version", good, out, 1, in + "\nmotivo: non e' un file WAV (non inizia con RIFF e WAVE)\n"},
        {"input a dangling link", {}, {}, dangling, good, out, 1, in + "\nmotivo: il file non esiste\n"},
        {"input with a RIFF size of 0", riffWithSize(0, {pcmFormatChunk(1, 8000), data}), {}, "", good, out, 1, in + "\nmotivo: l'intestazione RIFF dichiara una lunghezza di 0 byte\n"},
        {"input with a format chunk of 14 bytes", riff({chunk("fmt ", Bytes(format.begin(), format.begin() + 14)), data}), {}, "", good, out, 1, in + "\nmotivo: il blocco \"fmt \" e' di 14 byte; ne servono almeno 16\n"},
        {"input in floating point", withFormat(3, 1, 4, 32), {}, "", good, out, 1, in + "\nmotivo: il formato non e' PCM semplice: codice formato 3 (virgola mobile)\n"},
        {"input of 24 bits", withFormat(1, 2, 6, 24), {}, "", good, out, 1, in + "\nmotivo: i campioni sono a 24 bit; ne servono 16\n"},
        {"input of 6 channels", withFormat(1, 6, 12, 16), {}, "", good, out, 1, in + "\nmotivo: il file ha 6 canali; ne sono ammessi 1 o 2\n"},
        {"impulse extensible", {}, extensible, good, "", out, 1, ir + "\nmotivo: il formato non e' PCM semplice: codice formato 0xFFFE (esteso, WAVE_FORMAT_EXTENSIBLE), campioni PCM a 16 bit\n"},
        {"impulse without a format chunk", {}, riff({data}), good, "", out, 1, ir + "\nmotivo: manca il blocco \"fmt \" che descrive il formato\n"},
        {"impulse without a data chunk", {}, riff({pcmFormatChunk(1, 8000)}), good, "", out, 1, ir + "\nmotivo: manca il blocco \"data\" con i campioni\n"},
        {"too many files open for the impulse", {}, {}, good, good + ".copy", out, 1, ir + "\nmotivo: troppi file aperti\n", ProcessLimits{kNoLimit, kNoLimit, 600, 4}},
        {"impulse with no samples", {}, pcmWav(1, 8000, {}), good, "", out, 1, std::string(kTextImpulseNotLoaded) + "\nmotivo: l'impulso non contiene campioni\n"},
        {"sample rates differ", {}, pcmWav(1, 22050, {1}), good, "", out, 1, std::string(kTextSampleRatesDiffer) + "\nmotivo: l'input e' a 8000 Hz, l'impulso a 22050 Hz\n"},
        {"output in a missing folder", {}, {}, good, good + ".copy", dir.file("no/out.wav"), 1, created + "\nmotivo: la cartella non esiste\n"},
        {"output a folder", {}, {}, good, good + ".copy", dir.path, 1, created + "\nmotivo: e' una cartella, non un file\n"},
        {"output below a file", {}, {}, good, good + ".copy", good + "/out.wav", 1, created + "\nmotivo: una parte del percorso non e' una cartella\n"},
        {"output where no file can be made", {}, {}, good, good + ".copy", "/proc/convoluzione.wav", 1, created + "\nmotivo: la cartella non accetta nuovi file\n"},
        {"output with an empty name", {}, {}, good, good + ".copy", "", 1, created + "\nmotivo: il nome del file e' vuoto\n"},
        {"output named as a folder that is not there", {}, {}, good, good + ".copy", dir.file("nosuchdir/"), 1, created + "\nmotivo: il nome finisce con '/', come quello di una cartella\n"},
        {"output a dangling link into a missing folder", {}, {}, good, good + ".copy", danglingOut, 1, created + "\nmotivo: la cartella non esiste\n"},
        {"output a full device", {}, {}, good, good + ".copy", "/dev/full", 1, created + "\nmotivo: il disco e' pieno\n"},
        {"output naming the input", {}, {}, good, good + ".copy", good, 1, std::string(kTextOutputIsAnInput) + "\nmotivo: e' lo stesso file dell'input\n"},
        {"output naming the impulse", {}, {}, good, good + ".copy", good + ".copy", 1, std::string(kTextOutputIsAnInput) + "\nmotivo: e' lo stesso file dell'impulso\n"},
        {"a path longer than the field", {}, {}, good, good + ".copy", std::string(300, 'x'), 2, "Percorso troppo lungo (al massimo 259 byte)\n"},
    };
    // clang-format on
    writeFileBytes(good + ".copy", readFileBytes(good));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(out);
        std::string input = row.inputPath;
        std::string impulse = row.impulsePath;
        if (input.empty()) {
            input = dir.file("in.wav");
            writeFileBytes(input, row.input);
        }
        if (impulse.empty()) {
            impulse = dir.file("ir.wav");
            writeFileBytes(impulse, row.impulse);
        }
        const Bytes inputBefore = contentOf(input);
        const Bytes impulseBefore = contentOf(impulse);
        const CliRun run = runCli(dir, {input, impulse, row.outputPath}, row.limits);
        EXPECT_EQ(run.exitStatus, row.status);
        // Every line starts with the program's name, and the sentence of a failure about one
        // file names that file as it was given: the rates differ between two files.
        const size_t lineEnd = row.err.find('\n');
        const std::string sentence = row.err.substr(0, lineEnd);
        const std::string& file = sentence == in ? input
                                  : sentence == ir || sentence == kTextImpulseNotLoaded
                                      ? impulse
                                      : row.outputPath;
        const std::string named = sentence == kTextSampleRatesDiffer ? "" : file + ": ";
        const std::string reason = row.err.substr(lineEnd + 1);
        EXPECT_EQ(run.err, "convoluzione-cli: " + named + sentence + "\n" +
                               (reason.empty() ? "" : "convoluzione-cli: " + reason));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(contentOf(input), inputBefore);
        EXPECT_EQ(contentOf(impulse), impulseBefore);
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path));
    EXPECT_FALSE(std::filesystem::exists("/proc/convoluzione.wav"));
}

TEST(Cli, ASaturatedJobIsReportedAndItsOutputIsUnchanged) {
    ScratchDir dir;
    // Four taps of 0.5 on four frames of 32000: sums of 48000, 64000 and 48000 clamp.
    const std::vector<int16_t> input = {32000, 32000, 32000, 32000};
    const std::vector<int16_t> impulse = {16384, 16384, 16384, 16384};
    writeFileBytes(dir.file("in.wav"), pcmWav(1, 8000, input));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 8000, impulse));
    const CliRun run = runCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    EXPECT_EQ(run.exitStatus, 0);
    // 64000 / 32768 = 1.953125, 5.8 dB past full scale.
    EXPECT_EQ(run.err, "convoluzione-cli: attenzione: 3 campioni saturati, picco +5,8 dB oltre il "
                       "fondo scala\n");
    EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))),
              definitionOutput(1, input, 1, {0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))),
              (std::vector<int16_t>{0, 16000, 32000, 32767, 32767, 32767, 32000, 16000}));
}

// The options change what is said and what may be replaced, never the bytes of a result.
TEST(Cli, OptionsChangeWhatIsSaidAndReplacedButNotTheResult) {
    ScratchDir dir;
    // Saturates, so there is a warning to keep or leave out.
    writeFileBytes(dir.file("in.wav"), pcmWav(1, 8000, {32000, 32000, 32000, 32000}));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 8000, {16384, 16384, 16384, 16384}));
    const std::string out = dir.file("out.wav");
    const std::string warning =
        "convoluzione-cli: attenzione: 3 campioni saturati, picco +5,8 dB oltre il fondo scala\n";
    const std::string refused = std::string(kTextOutputNotCreated);
    const Bytes before = {'v', 'e', 'c', 'c', 'h', 'i', 'o'};
    enum Before { nothing, aFile, aDanglingLink };
    struct Row {
        std::vector<std::string> options;
        Before existing;
        int status;
        std::string err;
        bool written; // else the output is as it was before
    };
    const std::string noClobber = "convoluzione-cli: " + out + ": " + refused +
                                  "\nconvoluzione-cli: motivo: il file esiste gia' (-n, "
                                  "--no-clobber)\n";
    const std::vector<Row> rows = {
        {{}, nothing, 0, warning, true},
        {{}, aFile, 0, warning, true}, // replaced, as cp and sox do
        {{"-q"}, aFile, 0, "", true},
        {{"--quiet", "-j", "1"}, nothing, 0, "", true},
        {{"--threads=3"}, nothing, 0, warning, true},
        {{"-j0"}, nothing, 0, warning, true},
        {{"-n"}, nothing, 0, warning, true},
        {{"-n"}, aFile, 1, noClobber, false},
        {{"--no-clobber"}, aDanglingLink, 1, noClobber, false},
        {{"-qn"}, aFile, 1, noClobber, false}, // quiet, but a failure still says why
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.options));
        std::filesystem::remove(out);
        std::filesystem::remove(dir.file("elsewhere"));
        if (row.existing == aFile) {
            writeFileBytes(out, before);
        } else if (row.existing == aDanglingLink) {
            std::filesystem::create_symlink(dir.file("elsewhere"), out);
        }
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {dir.file("in.wav"), dir.file("ir.wav"), out});
        const CliRun run = runCli(dir, args);
        EXPECT_EQ(run.exitStatus, row.status);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.out, "");
        if (row.written) {
            EXPECT_EQ(samplesAfterHeader(readFileBytes(out)),
                      (std::vector<int16_t>{0, 16000, 32000, 32767, 32767, 32767, 32000, 16000}));
        } else if (row.existing == aFile) {
            EXPECT_EQ(readFileBytes(out), before);
        } else {
            EXPECT_TRUE(std::filesystem::is_symlink(out));
            EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere")));
        }
    }
    // After "--" every word is a file, even one that looks like an option.
    const CliRun ended = runCli(dir, {"--", "-q", dir.file("ir.wav"), out});
    EXPECT_EQ(ended.exitStatus, 1);
    EXPECT_NE(ended.err.find("motivo: il file non esiste"), std::string::npos) << ended.err;
}

// Threads alive in a process.
size_t threadsOf(pid_t pid) {
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(tasks),
                                             std::filesystem::directory_iterator()));
}

// The engine takes -j threads, however many processors there are, and without -j as many
// as the process may run on, not as many as the machine has (taskset -c 0 gives one).
TEST(Cli, TheEngineTakesMinusJThreadsOrTheProcessorsTheProcessMayRunOn) {
    ScratchDir dir;
    // Seconds of work on any machine; each run is stopped once the engine is writing.
    std::vector<int16_t> noise(size_t{1} << 20);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<int16_t>((i * 7919) % 20011 - 10005);
    }
    writeFileBytes(dir.file("in.wav"), pcmWav(2, 44100, noise));
    writeFileBytes(dir.file("ir.wav"),
                   pcmWav(2, 44100, std::vector<int16_t>(noise.begin(), noise.begin() + 88200)));
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int firstProcessor = 0;
    while (!CPU_ISSET(firstProcessor, &allowed)) {
        ++firstProcessor;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(firstProcessor, &one);
    const struct {
        std::vector<std::string> options;
        bool oneProcessor; // started as under taskset -c with one processor
        size_t engineThreads;
    } rows[] = {
        {{"-j", "1"}, false, 1},     // first
        {{"--threads=3"}, false, 3}, // more than this machine may have: still 3
        {{}, true, 1},
        {{"-j2"}, true, 2},
    };
    size_t baseline = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.options));
        const std::string out = dir.file("out.wav");
        std::filesystem::remove(out);
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {dir.file("in.wav"), dir.file("ir.wav"), out});
        // A child inherits the affinity of the thread that forks it.
        ASSERT_EQ(sched_setaffinity(0, sizeof one, row.oneProcessor ? &one : &allowed), 0);
        CliProcess cli = startCli(dir, args);
        ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
        ASSERT_TRUE(waitUntilCatching(cli.pid, SIGINT));
        // Past the header and a first write: the engine and its helpers are at work.
        ASSERT_TRUE(waitUntilFileHolds(cli.pid, out, 44 + 65536));
        // The first row, one engine thread, counts what else the process runs (its main
        // thread and the job's worker; a sanitizer's own thread).
        const size_t threads = threadsOf(cli.pid);
        if (baseline == 0) {
            baseline = threads;
        }
        EXPECT_EQ(threads, baseline + row.engineThreads - 1);
        const int stop = kEverySignalReachesTheProgram ? SIGINT : SIGKILL;
        kill(cli.pid, stop);
        EXPECT_EQ(waitCli(cli).endedBy, stop);
    }
}

// "-" for standard input or output, and pipes the program cannot seek through, give the bytes
// a file gives: a stream's header carries the full sizes from the start, which for a completed
// job are the sizes the file's header is patched to. The copy of standard input is removed.
TEST(Cli, StandardStreamsAndPipesCarryTheBytesAFileDoes) {
    ScratchDir dir;
    const std::string in = dir.file("in.wav");
    const std::string ir = dir.file("ir.wav");
    const std::string out = dir.file("out.wav");
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    writeFileBytes(in, pcmWav(2, 8000, {100, -200, 300, -400, 500, -600, 32000, 32000}));
    writeFileBytes(ir, pcmWav(1, 8000, {16384, -8192, 4096}));
    ASSERT_EQ(runCli(dir, {in, ir, out}).exitStatus, 0);
    const Bytes reference = readFileBytes(out);
    std::filesystem::remove(out);
    enum Pipe { noPipe, feedInput, feedImpulse, drainOutput };
    struct Row {
        const char* what;
        std::vector<std::string> args;
        std::string standardInput;
        Pipe pipe;        // the test writes the file into the FIFO, or reads the output from it
        bool outputAsOut; // the result is what the program wrote on standard output
    };
    // clang-format off
    const Row rows[] = {
        {"input from standard input, a file", {"-", ir, out}, in, noPipe, false},
        {"impulse from standard input, a file", {in, "-", out}, ir, noPipe, false},
        {"input from standard input, a pipe", {"-", ir, out}, fifo, feedInput, false},
        {"impulse from standard input, a pipe", {in, "-", out}, fifo, feedImpulse, false},
        {"output to standard output, a file", {in, ir, "-"}, "", noPipe, true},
        {"output into a pipe", {in, ir, fifo}, "", drainOutput, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes drained;
        std::thread other([&] {
            if (row.pipe == feedInput || row.pipe == feedImpulse) {
                const Bytes bytes = readFileBytes(row.pipe == feedInput ? in : ir);
                const int fd = open(fifo.c_str(), O_WRONLY);
                EXPECT_EQ(write(fd, bytes.data(), bytes.size()),
                          static_cast<ssize_t>(bytes.size()));
                close(fd);
            } else if (row.pipe == drainOutput) {
                const int fd = open(fifo.c_str(), O_RDONLY);
                uint8_t piece[4096];
                for (ssize_t got; (got = read(fd, piece, sizeof piece)) > 0;) {
                    drained.insert(drained.end(), piece, piece + got);
                }
                close(fd);
            }
        });
        const CliRun run = runCli(dir, row.args, ProcessLimits{}, row.standardInput);
        other.join();
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.err, "");
        const Bytes result = row.outputAsOut           ? Bytes(run.out.begin(), run.out.end())
                             : row.pipe == drainOutput ? drained
                                                       : readFileBytes(out);
        EXPECT_EQ(result, reference);
        EXPECT_EQ(temporaryFiles(dir), 0);
        std::filesystem::remove(out);
    }
    const CliRun both = runCli(dir, {"-", "-", out}, ProcessLimits{}, in);
    EXPECT_EQ(both.exitStatus, 2);
    EXPECT_EQ(both.err, "convoluzione-cli: Lo standard input (-) puo' essere INPUT o IMPULSO, "
                        "non entrambi\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Runs the program with its standard error closed (errFd -1) or on errFd; its exit status.
int exitWithStandardError(const std::vector<std::string>& args, int errFd) {
    std::vector<char*> argv = {const_cast<char*>(CONVOLUZIONE_CLI_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL); // as a shell starts it, whatever the test runner does
        if (errFd < 0) {
            close(2);
        } else {
            dup2(errFd, 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A message that cannot be written (standard error closed, or a pipe whose reader has gone)
// changes neither the exit status nor the output; and no file the program opens takes the
// closed stream's place.
TEST(Cli, MessagesNobodyCanReadChangeNothing) {
    ScratchDir dir;
    writeFileBytes(dir.file("in.wav"), pcmWav(1, 8000, {32000, 32000}));
    writeFileBytes(dir.file("ir.wav"), pcmWav(1, 8000, {32000, 32000})); // 62500 saturates
    const std::vector<std::string> saturating = {dir.file("in.wav"), dir.file("ir.wav"),
                                                 dir.file("out.wav")};
    const std::vector<std::string> failing = {dir.file("missing.wav"), dir.file("ir.wav"),
                                              dir.file("out2.wav")};
    int broken[2];
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]); // nobody reads
    for (const int errFd : {-1, broken[1]}) {
        SCOPED_TRACE(errFd < 0 ? "standard error closed" : "standard error a broken pipe");
        std::filesystem::remove(dir.file("out.wav"));
        EXPECT_EQ(exitWithStandardError(saturating, errFd), 0);
        EXPECT_EQ(samplesAfterHeader(readFileBytes(dir.file("out.wav"))),
                  (std::vector<int16_t>{0, 31250, 32767, 31250}));
        EXPECT_EQ(exitWithStandardError(failing, errFd), 1);
    }
    close(broken[1]);
}

TEST(Cli, CtrlCStopsTheJobAndLeavesAValidFile) {
    if (!kEverySignalReachesTheProgram) {
        GTEST_SKIP() << kSignalsUnderTheSanitizer;
    }
    ScratchDir dir;
    // Both files claim far more frames than they hold; the missing ones are silence, and the
    // job would run for many minutes.
    writeFileBytes(dir.file("in.wav"),
                   riff({pcmFormatChunk(2, 8000), chunkWithSize("data", 0x04000000, {})}));
    writeFileBytes(dir.file("ir.wav"),
                   riff({pcmFormatChunk(2, 8000), chunkWithSize("data", 0x01000000, {})}));
    CliProcess cli = startCli(dir, {dir.file("in.wav"), dir.file("ir.wav"), dir.file("out.wav")});
    // Once it catches Ctrl-C and has begun its output.
    ASSERT_TRUE(waitUntilCatching(cli.pid, SIGINT));
    ASSERT_TRUE(waitUntilFileHolds(cli.pid, dir.file("out.wav"), 44));
    kill(cli.pid, SIGINT);
    const CliRun run = waitCli(cli);
    // It ends by the signal, as an uncaught Ctrl-C would: the shell sees 130.
    EXPECT_EQ(run.endedBy, SIGINT);
    EXPECT_EQ(run.err, "");
    const WrittenWav wav = checkWrittenWav(readFileBytes(dir.file("out.wav")));
    EXPECT_TRUE(wav.valid) << wav.problem;
    EXPECT_EQ(wav.channels, 2u);
}

} // namespace
