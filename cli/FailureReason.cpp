#include "cli/FailureReason.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "cli/Report.h"
#include "job/FailureTexts.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kTagFloat = 3;
constexpr uint32_t kTagExtensible = 0xFFFE;

bool is(int error, std::errc code) {
    return error == static_cast<int>(code);
}

std::string formatTagText(uint32_t tag) {
    char text[64];
    snprintf(text, sizeof text, tag < 0x100 ? "%u" : "0x%04X", tag);
    std::string named = text;
    if (tag == kTagFloat) {
        named += " (virgola mobile)";
    } else if (tag == kTagExtensible) {
        named += " (esteso, WAVE_FORMAT_EXTENSIBLE)";
    }
    return named;
}

std::string withReason(const std::string& reason) {
    return reason.empty() ? reason : "motivo: " + reason;
}

} // namespace

std::string systemErrorReason(int error, FileRole role) {
    using std::errc;
    if (is(error, errc::no_such_file_or_directory)) {
        return role == roleOutput ? "la cartella non esiste" : "il file non esiste";
    }
    if (is(error, errc::permission_denied) || is(error, errc::operation_not_permitted)) {
        return "permesso negato";
    }
    if (is(error, errc::is_a_directory)) {
        return "e' una cartella, non un file";
    }
    if (is(error, errc::not_a_directory)) {
        return "una parte del percorso non e' una cartella";
    }
    if (is(error, errc::invalid_seek)) {
        return "non e' un file normale (una pipe o un dispositivo)";
    }
    if (is(error, errc::filename_too_long)) {
        return "il nome e' troppo lungo per il sistema";
    }
    if (is(error, errc::too_many_symbolic_link_levels)) {
        return "troppi collegamenti simbolici nel percorso";
    }
    if (is(error, errc::read_only_file_system)) {
        return "il disco e' in sola lettura";
    }
    if (is(error, errc::no_space_on_device)) {
        return "il disco e' pieno";
    }
    if (is(error, errc::file_too_large)) {
        return "raggiunto il limite alla dimensione dei file (ulimit -f)";
    }
    if (is(error, errc::too_many_files_open) || is(error, errc::too_many_files_open_in_system)) {
        return "troppi file aperti";
    }
    return "errore di sistema numero " + std::to_string(error);
}

std::string wavProblemReason(const WavDiagnosis& diagnosis) {
    switch (diagnosis.problem) {
    case wavCannotOpen:
        return systemErrorReason(diagnosis.systemError, roleInput);
    case wavEmpty:
        return "il file e' vuoto";
    case wavNotRiffWave:
        return "non e' un file WAV (non inizia con RIFF e WAVE)";
    case wavNoFormatChunk:
        return "manca il blocco \"fmt \" che descrive il formato";
    case wavFormatCut:
        return "il blocco \"fmt \" e' troncato";
    case wavNotPcm: {
        std::string reason =
            "il formato non e' PCM semplice: codice formato " + formatTagText(diagnosis.formatTag);
        const std::string bits = std::to_string(diagnosis.bitsPerSample);
        if (diagnosis.subFormat == 1) {
            reason += ", campioni PCM a " + bits + " bit";
        } else if (diagnosis.subFormat == kTagFloat) {
            reason += ", campioni in virgola mobile a " + bits + " bit";
        }
        if (diagnosis.channels > 2) {
            reason += ", " + std::to_string(diagnosis.channels) + " canali";
        }
        return reason;
    }
    case wavNotSixteenBits:
        return "i campioni sono a " + std::to_string(diagnosis.bitsPerSample) +
               " bit; ne servono 16";
    case wavBadChannels:
        return "il file ha " + std::to_string(diagnosis.channels) +
               " canali; ne sono ammessi 1 o 2";
    case wavNoBlockAlign:
        return "l'allineamento dei blocchi (nBlockAlign) e' 0";
    case wavNoDataChunk:
        return "manca il blocco \"data\" con i campioni";
    case wavFine:
        break;
    }
    return "";
}

std::string failureReason(const char* errorText, const char* inputPath, const char* impulsePath,
                          const char* outputPath) {
    if (strcmp(errorText, kTextInputUnreadable) == 0) {
        return withReason(wavProblemReason(WavReader::diagnose(inputPath)));
    }
    if (strcmp(errorText, kTextImpulseUnreadable) == 0) {
        return withReason(wavProblemReason(WavReader::diagnose(impulsePath)));
    }
    if (strcmp(errorText, kTextOutputNotCreated) == 0) {
        const int error = fileOpenProblem(outputPath, 1);
        return error == 0 ? "" : withReason(systemErrorReason(error, roleOutput));
    }
    if (strcmp(errorText, kTextWriteFailed) == 0) {
        const int error = fileWriteProblem(outputPath);
        return error == 0 ? "" : withReason(systemErrorReason(error, roleOutput));
    }
    // The rest concern what the two inputs declare: open them again and say it.
    WavReader* input = WavReader::open(inputPath);
    WavReader* impulse = WavReader::open(impulsePath);
    std::string reason;
    if (input != nullptr && impulse != nullptr) {
        if (strcmp(errorText, kTextSampleRatesDiffer) == 0) {
            reason = "l'input e' a " + std::to_string(input->sampleRate) + " Hz, l'impulso a " +
                     std::to_string(impulse->sampleRate) + " Hz";
        } else if (strcmp(errorText, kTextOutputTooLarge) == 0) {
            reason = "l'input dichiara " + italianCount(input->frames) + " frame e l'impulso " +
                     italianCount(impulse->frames);
        } else if (strcmp(errorText, kTextImpulseNotLoaded) == 0) {
            // The job loads only the frames the file holds.
            const uint32_t held = WavReader::framesToLoad(impulse);
            const uint64_t bytes = uint64_t{held} * impulse->channels * sizeof(float);
            if (impulse->frames == 0) {
                reason = "l'impulso non contiene campioni";
            } else if (bytes > kLargestLoadBytes) {
                reason = "l'impulso contiene " + italianCount(held) +
                         " frame, oltre i 4 GB di memoria ammessi";
            }
        }
    }
    WavReader::close(input);
    WavReader::close(impulse);
    return withReason(reason);
}
