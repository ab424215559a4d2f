// Every line the command line writes on standard error goes through here, and starts with
// the program's name, as in coreutils, so a line in a batch's log (xargs -P, make) says
// which program it comes from.
#pragma once

#include <string>

// Writes "convoluzione-cli: ", line and a line end on standard error. A stream that is
// closed or whose reader has gone changes nothing: the line is lost, the program goes on
// and ends as it would have.
void printErrorLine(const std::string& line);
// A failure about one file: "convoluzione-cli: FILE: sentence", the file named as it was
// given on the command line.
void printFileError(const char* file, const std::string& sentence);
