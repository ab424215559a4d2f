#include "cli/StandardError.h"

#include <cstdio>

void printErrorLine(const std::string& line) {
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
}
