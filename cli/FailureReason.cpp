#include "cli/FailureReason.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/Report.h"
#include "job/ConvolutionJob.h"
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

// An output that could not be created for want of a folder, although its folder is there:
// a folder that takes no new files at all (/proc) says so too. For a link, the folder is
// that of the file it points to.
bool folderTakesNoFiles(const char* path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path file = path;
    if (fs::is_symlink(file, error)) {
        const fs::path target = fs::read_symlink(file, error);
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    return fs::is_directory(folder, error);
}

std::string withReason(const std::string& reason) {
    return reason.empty() ? reason : "motivo: " + reason;
}

} // namespace

std::string systemErrorReason(int error, FileRole role, const char* path) {
    using std::errc;
    if (path != nullptr && path[0] == '\0') {
        return "il nome del file e' vuoto";
    }
    const char last = path != nullptr ? path[strlen(path) - 1] : '\0';
    if (is(error, errc::is_a_directory) && role == roleOutput && (last == '/' || last == '\\')) {
        // Said by the name alone: a name ending in a separator is a folder's, there or not.
        return "il nome finisce con '" + std::string(1, last) + "', come quello di una cartella";
    }
    if (is(error, errc::no_such_file_or_directory)) {
        if (role == roleInput) {
            return "il file non esiste";
        }
        return path != nullptr && folderTakesNoFiles(path) ? "la cartella non accetta nuovi file"
                                                           : "la cartella non esiste";
    }
    // The system's own reasons that need nothing but the error to be told.
    struct Plain {
        errc error;
        const char* reason;
    };
    static const Plain kPlain[] = {
        {errc::permission_denied, "permesso negato"},
        {errc::operation_not_permitted, "permesso negato"},
        {errc::is_a_directory, "e' una cartella, non un file"},
        {errc::not_a_directory, "una parte del percorso non e' una cartella"},
        {errc::invalid_seek, "non e' un file normale (una pipe o un dispositivo)"},
        {errc::filename_too_long, "il nome e' troppo lungo per il sistema"},
        {errc::too_many_symbolic_link_levels, "troppi collegamenti simbolici nel percorso"},
        {errc::read_only_file_system, "il disco e' in sola lettura"},
        {errc::no_space_on_device, "il disco e' pieno"},
        {errc::file_too_large, "raggiunto il limite alla dimensione dei file (ulimit -f)"},
        {errc::too_many_files_open, "troppi file aperti"},
        {errc::too_many_files_open_in_system, "troppi file aperti"},
        {errc::resource_unavailable_try_again, "il file e' in uso da un altro processo"},
        {errc::operation_would_block, "il file e' in uso da un altro processo"},
        {errc::file_exists, "il file esiste gia' (-n, --no-clobber)"}, // an output asked to be new
        {errc::broken_pipe, "il programma che legge l'output ha chiuso la pipe"},
        {errc::not_enough_memory, "il sistema non concede altra memoria al programma"},
        {errc::io_error, "errore di lettura o scrittura sul dispositivo"},
    };
    for (const Plain& plain : kPlain) {
        if (is(error, plain.error)) {
            return plain.reason;
        }
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
    case wavRiffSizeZero:
        return "l'intestazione RIFF dichiara una lunghezza di 0 byte";
    case wavNoFormatChunk:
        return "manca il blocco \"fmt \" che descrive il formato";
    case wavFormatTooShort:
        return "il blocco \"fmt \" e' di " + std::to_string(diagnosis.formatSize) +
               " byte; ne servono almeno 16";
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

std::string failureReason(const JobState& job) {
    if (job.systemError != 0) {
        const bool output =
            job.failure == failureOutputNotCreated || job.failure == failureWriteFailed;
        const char* path = output                                  ? job.outputPath
                           : job.failure == failureInputUnreadable ? job.inputPath
                                                                   : job.impulsePath;
        if (output && job.outputToStandardOutput) {
            path = "-";
        }
        return withReason(
            systemErrorReason(job.systemError, output ? roleOutput : roleInput, path));
    }
    switch (job.failure) {
    case failureInputUnreadable:
        return withReason(wavProblemReason(WavReader::diagnose(job.inputPath)));
    case failureImpulseUnreadable:
        return withReason(wavProblemReason(WavReader::diagnose(job.impulsePath)));
    case failureSampleRatesDiffer:
    case failureOutputTooLarge:
    case failureImpulseNotLoaded:
        break;
    case failureOutputIsAnInput:
        return withReason(sameFile(job.outputPath, job.inputPath)
                              ? "e' lo stesso file dell'input"
                              : "e' lo stesso file dell'impulso");
    case failureNone:
    case failureOutputNotCreated:
    case failureWriteFailed:
    case failureOutOfMemory:
        return "";
    }
    // The rest concern what the two inputs declare: open them again and say it.
    WavReader* input = WavReader::open(job.inputPath);
    WavReader* impulse = WavReader::open(job.impulsePath);
    std::string reason;
    if (input != nullptr && impulse != nullptr) {
        if (job.failure == failureSampleRatesDiffer) {
            reason = "l'input e' a " + std::to_string(input->sampleRate) + " Hz, l'impulso a " +
                     std::to_string(impulse->sampleRate) + " Hz";
        } else if (job.failure == failureOutputTooLarge) {
            reason = "l'input dichiara " + italianCount(input->frames) + " frame e l'impulso " +
                     italianCount(impulse->frames);
        } else if (impulse->frames == 0) {
            // The job loads only the frames the file holds.
            reason = "l'impulso non contiene campioni";
        } else {
            const uint32_t held = WavReader::framesToLoad(impulse);
            if (!WavReader::fitsInMemory(held, impulse->channels)) {
                reason = "l'impulso contiene " + italianCount(held) +
                         " frame, oltre i 4 GB di memoria ammessi";
            }
        }
    }
    WavReader::close(input);
    WavReader::close(impulse);
    return withReason(reason);
}
