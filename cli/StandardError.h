// Every line the command line writes on standard error goes through here.
#pragma once

#include <string>

// Writes line and a line end on standard error. A stream that is closed or whose reader has
// gone changes nothing: the line is lost, the program goes on and ends as it would have.
void printErrorLine(const std::string& line);
