#include "cli/StandardError.h"

#include <cstdio>

void printErrorLine(const std::string& line) {
    fprintf(stderr, "convoluzione-cli: %s\n", line.c_str());
    fflush(stderr);
}

void printFileError(const char* file, const std::string& sentence) {
    printErrorLine(std::string(file) + ": " + sentence);
}
