// The options as getopt_long reads them, here and in the Windows build (mingw-w64 has its
// own getopt_long, which words some refusals differently): one table of command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Options.h"

namespace {

CliOptions parse(std::vector<std::string> words) {
    words.insert(words.begin(), "convoluzione-cli");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    CliOptions options = parseOptions(static_cast<int>(words.size()), argv.data());
    // The files point into words, which are gone once this returns: keep them as text.
    static std::string kept[3];
    const char* files[3] = {options.input, options.impulse, options.output};
    for (int i = 0; i < 3; ++i) {
        kept[i] = files[i] != nullptr ? files[i] : "";
    }
    options.input = kept[0].c_str();
    options.impulse = kept[1].c_str();
    options.output = kept[2].c_str();
    return options;
}

} // namespace

TEST(Options, ReadsFlagsAndFilesInAnyOrderAndNamesWhatIsWrong) {
    const struct {
        std::vector<std::string> words;
        CliAction action;
        bool quiet;
        bool noClobber;
        unsigned threads;
        std::string files; // "INPUT|IMPULSO|OUTPUT" when the action is cliRun
        std::string problem;
    } rows[] = {
        {{"a", "b", "c"}, cliRun, false, false, 0, "a|b|c", ""},
        {{"-q", "a", "-n", "b", "c", "-j", "4"}, cliRun, true, true, 4, "a|b|c", ""},
        {{"-qnj2", "a", "b", "c"}, cliRun, true, true, 2, "a|b|c", ""},
        {{"--quiet", "--no-clobber", "--threads=8", "a", "b", "c"},
         cliRun,
         true,
         true,
         8,
         "a|b|c",
         ""},
        {{"--threads", "0", "a", "b", "c"}, cliRun, false, false, 0, "a|b|c", ""},
        {{"--", "-q", "-n", "-h"}, cliRun, false, false, 0, "-q|-n|-h", ""},
        {{"a", "-", "c"}, cliRun, false, false, 0, "a|-|c", ""},
        {{"x", "-h", "y"}, cliHelp, false, false, 0, "", ""},
        {{"--bogus", "--help"}, cliHelp, false, false, 0, "", "opzione non riconosciuta: --bogus"},
        {{"--version", "a"}, cliVersion, false, false, 0, "", ""},
        {{"-x", "a", "b", "c"}, cliWrong, false, false, 0, "", "opzione non riconosciuta: -x"},
        {{"a", "b", "c", "-nqx"}, cliWrong, true, true, 0, "", "opzione non riconosciuta: -x"},
        {{"--bogus", "a", "b", "c"},
         cliWrong,
         false,
         false,
         0,
         "",
         "opzione non riconosciuta: --bogus"},
        {{"--quiet=yes", "a", "b", "c"},
         cliWrong,
         false,
         false,
         0,
         "",
         "l'opzione --quiet non vuole argomenti"},
        {{"a", "b", "c", "-j"},
         cliWrong,
         false,
         false,
         0,
         "",
         "l'opzione richiede un argomento: -j"},
        {{"a", "b", "c", "--threads"},
         cliWrong,
         false,
         false,
         0,
         "",
         "l'opzione richiede un argomento: --threads"},
        {{"-j", "x", "a", "b", "c"},
         cliWrong,
         false,
         false,
         0,
         "",
         "numero di thread non valido: 'x' (da 0 a 1024; 0 = automatico)"},
        {{"-j", "1025", "a", "b", "c"},
         cliWrong,
         false,
         false,
         0,
         "",
         "numero di thread non valido: '1025' (da 0 a 1024; 0 = automatico)"},
        {{"-j", "4x", "a", "b", "c"},
         cliWrong,
         false,
         false,
         0,
         "",
         "numero di thread non valido: '4x' (da 0 a 1024; 0 = automatico)"},
        {{"-x", "-y", "a"}, cliWrong, false, false, 0, "", "opzione non riconosciuta: -x"},
        {{"a", "b"},
         cliWrong,
         false,
         false,
         0,
         "",
         "servono tre file (INPUT IMPULSO OUTPUT), ne sono stati dati 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.words));
        const CliOptions options = parse(row.words);
        EXPECT_EQ(options.action, row.action);
        EXPECT_EQ(options.quiet, row.quiet);
        EXPECT_EQ(options.noClobber, row.noClobber);
        EXPECT_EQ(options.threads, row.threads);
        EXPECT_EQ(options.problem, row.problem);
        if (row.action == cliRun) {
            EXPECT_EQ(std::string(options.input) + "|" + options.impulse + "|" + options.output,
                      row.files);
        }
    }
}
