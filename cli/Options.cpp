#include "cli/Options.h"

#include <getopt.h>

#include <cstdlib>

namespace {

enum LongOnly { optionVersion = 256 };

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, optionVersion},
    {"quiet", no_argument, nullptr, 'q'},         {"no-clobber", no_argument, nullptr, 'n'},
    {"threads", required_argument, nullptr, 'j'}, {nullptr, 0, nullptr, 0},
};

// The leading ':' makes a missing argument ':' rather than '?', so the two read apart.
const char kShortOptions[] = ":hqnj:";

// The option a problem is about, as the user wrote it: "-x" for a short one (even inside a
// group such as -qx), the word itself for a long one ("--frobnicate"). getopt_long sets
// optopt for a short option and for a long one missing its argument; an unknown long option
// leaves it 0. Past a missing argument, argv[next - 1] is the very word that lacks it.
std::string optionAsGiven(char** argv, int next, bool missingArgument) {
    const char* word = argv[next - 1];
    const bool longWord = word[0] == '-' && word[1] == '-';
    if (optopt != 0 && !(missingArgument && longWord)) {
        return std::string("-") + static_cast<char>(optopt);
    }
    return word;
}

// When getopt_long refused a long option that takes no argument because one was given
// ("--quiet=1"), that option's name ("--quiet"); otherwise empty. It then has optopt set to
// the option's letter and stands past the word that holds '='.
std::string argumentGiven(char** argv, int next) {
    const std::string word = argv[next - 1];
    const size_t equals = word.find('=');
    if (optopt == 0 || word.compare(0, 2, "--") != 0 || equals == std::string::npos) {
        return "";
    }
    const std::string name = word.substr(2, equals - 2);
    for (const option& known : kLongOptions) {
        if (known.name != nullptr && known.val == optopt && known.has_arg == no_argument &&
            std::string(known.name).compare(0, name.size(), name) == 0) {
            return std::string("--") + known.name;
        }
    }
    return "";
}

// What is wrong with the option getopt_long has just refused. An argument given to an
// option that takes none is reported as an unknown option by glibc and as a missing
// argument by mingw-w64 (BSD's code): both are told apart here.
std::string problemWith(int found, char** argv, int next) {
    const std::string given = argumentGiven(argv, next);
    if (!given.empty()) {
        return "l'opzione " + given + " non vuole argomenti";
    }
    if (found == ':') {
        return "l'opzione richiede un argomento: " + optionAsGiven(argv, next, true);
    }
    return "opzione non riconosciuta: " + optionAsGiven(argv, next, false);
}

// A thread count: decimal digits only, 0 ... kMostThreads (0 = the default).
bool readThreads(const char* text, unsigned* threads) {
    if (text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 10);
    if (*end != '\0' || value > kMostThreads) {
        return false;
    }
    *threads = static_cast<unsigned>(value);
    return true;
}

} // namespace

CliOptions parseOptions(int argc, char** argv) {
    CliOptions options{};
    options.action = cliRun;
    bool help = false;
    bool version = false;
    opterr = 0; // the problems are worded here, in Italian
    optind = 0; // start afresh, whatever an earlier call left
    for (;;) {
        const int found = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (found == -1) {
            break;
        }
        switch (found) {
        case 'h':
            help = true;
            break;
        case optionVersion:
            version = true;
            break;
        case 'q':
            options.quiet = true;
            break;
        case 'n':
            options.noClobber = true;
            break;
        case 'j':
            if (!readThreads(optarg, &options.threads) && options.problem.empty()) {
                options.problem = std::string("numero di thread non valido: '") + optarg +
                                  "' (da 0 a " + std::to_string(kMostThreads) + "; 0 = automatico)";
            }
            break;
        default: // '?' for an unknown option, ':' for a missing argument
            if (options.problem.empty()) {
                options.problem = problemWith(found, argv, optind);
            }
            break;
        }
    }
    const int files = argc - optind;
    if (help) {
        options.action = cliHelp;
    } else if (version) {
        options.action = cliVersion;
    } else if (!options.problem.empty()) {
        options.action = cliWrong;
    } else if (files != 3) {
        options.action = cliWrong;
        options.problem = "servono tre file (INPUT IMPULSO OUTPUT), " +
                          (files == 0   ? std::string("non ne e' stato dato nessuno")
                           : files == 1 ? std::string("ne e' stato dato 1")
                                        : "ne sono stati dati " + std::to_string(files));
    } else {
        options.input = argv[optind];
        options.impulse = argv[optind + 1];
        options.output = argv[optind + 2];
    }
    optind = 0;
    return options;
}
