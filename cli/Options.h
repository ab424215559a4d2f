// The command line's arguments, read once into a plain record: what to do, how, and on which
// files. Options follow getopt_long's rules (as in the GNU tools): they may come before,
// between or after the files, short ones may be grouped (-qn), and "--" ends them, so a file
// whose name starts with '-' can still be given.
#pragma once

#include <string>

enum CliAction {
    cliRun,     // run the job on the three files
    cliHelp,    // print the help on standard output, exit 0
    cliVersion, // print the name, version and licence on standard output, exit 0
    cliWrong,   // print problem and a hint to use --help on standard error, exit 2
};

struct CliOptions {
    CliAction action;
    bool quiet;        // -q: no progress line, no warnings; failures still print
    bool noClobber;    // -n: an existing output is left alone and the job fails
    unsigned threads;  // -j N: at most N engine threads; 0 = what the process may run on
    const char* input; // the three files, when action is cliRun
    const char* impulse;
    const char* output;
    std::string problem; // when action is cliWrong: the line that says what is wrong
};

// The most threads -j accepts; more would only cost memory.
constexpr unsigned kMostThreads = 1024;

// Reads argv. -h or --help anywhere before "--" wins over everything else, then --version,
// then the first thing found wrong. Leaves getopt's state reset, so it may be called again.
CliOptions parseOptions(int argc, char** argv);
