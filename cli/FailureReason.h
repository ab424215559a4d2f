// The line the command line adds under a failure sentence to say why: found by looking at
// the files again once the job has failed, since the job and the layers below it only
// report that something failed.
#pragma once

#include <string>

#include "wav/WavReader.h"

// Which file a system error is about: an output that cannot be created has other reasons
// than an input that cannot be read.
enum FileRole { roleInput, roleOutput };

// Why the system refused a file (an errno value), in Italian.
std::string systemErrorReason(int error, FileRole role);
// Why the reader refused a file, in Italian; empty when the diagnosis found nothing wrong.
std::string wavProblemReason(const WavDiagnosis& diagnosis);

// The reason for the job's failure text, looked up in the files the job was given: one
// line, "motivo: ..." without a line end, or empty when nothing more can be said.
std::string failureReason(const char* errorText, const char* inputPath, const char* impulsePath,
                          const char* outputPath);
