// The line the command line adds under a failure sentence to say why: the system's own
// reason when a call the job made was refused, otherwise what the files hold, found by
// looking at them again.
#pragma once

#include <string>

#include "job/JobState.h"
#include "wav/WavReader.h"

// Which file a system error is about: an output that cannot be created has other reasons
// than an input that cannot be read.
enum FileRole { roleInput, roleOutput };

// Why the system refused a file (an errno value) at path (null when not known), in Italian.
std::string systemErrorReason(int error, FileRole role, const char* path = nullptr);
// Why the reader refused a file, in Italian; empty when the diagnosis found nothing wrong.
std::string wavProblemReason(const WavDiagnosis& diagnosis);

// The reason for the failure a job left in its state: one line, "motivo: ..." without a
// line end, or empty when the sentence says it all.
std::string failureReason(const JobState& job);
