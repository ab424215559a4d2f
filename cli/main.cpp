// convoluzione-cli: the same job as the dialog, driven from the command line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "cli/FailureReason.h"
#include "cli/InputSpool.h"
#include "cli/Options.h"
#include "cli/ProgressLine.h"
#include "cli/Report.h"
#include "cli/StandardError.h"
#include "job/ConvolutionJob.h"
#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "job/JobState.h"
#include "job/JobWorker.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kPollMs = 20;     // how soon an interrupt reaches the job
constexpr uint32_t kRefreshMs = 250; // the bar's refresh period

bool quiet = false; // -q: only failures are written

const char kUsage[] =
    "Uso: convoluzione-cli [OPZIONI] INPUT IMPULSO OUTPUT\n"
    "\n"
    "Convolve il file INPUT con la risposta all'impulso IMPULSO e scrive il risultato\n"
    "in OUTPUT. INPUT e IMPULSO sono file WAV PCM a 16 bit, mono o stereo, con la\n"
    "stessa frequenza di campionamento; OUTPUT e' un file WAV PCM a 16 bit, stereo se\n"
    "uno dei due ingressi e' stereo, lungo quanto INPUT e IMPULSO insieme. Un OUTPUT\n"
    "che esiste gia' viene sostituito, salvo con -n. Il nome - indica lo standard\n"
    "input (per INPUT o IMPULSO, non per entrambi) o lo standard output (per OUTPUT).\n"
    "\n"
    "  -q, --quiet        nessuna barra di avanzamento e nessun avviso; gli errori\n"
    "                     sono mostrati comunque\n"
    "  -n, --no-clobber   non sostituisce un OUTPUT che esiste gia': termina con\n"
    "                     uscita 1 prima di toccare qualsiasi file\n"
    "  -j, --threads=N    al piu' N thread per il calcolo; senza -j (o con 0), tanti\n"
    "                     quanti i processori su cui il processo puo' girare\n"
    "  -h, --help         mostra questo aiuto ed esce\n"
    "      --version      mostra il nome, la versione e la licenza ed esce\n"
    "  --                 fine delle opzioni: cio' che segue sono file, anche se il\n"
    "                     nome comincia con '-'\n"
    "\n"
    "Uscita: 0 fatto, 1 errore (il motivo su standard error), 2 argomenti errati.\n"
    "Interrotto (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT), finisce il file di output, che\n"
    "resta valido e contiene la parte gia' calcolata, poi termina per lo stesso\n"
    "segnale: la shell vede 128 + il numero del segnale (130 per Ctrl-C). Fino a tre\n"
    "segnali contano come una sola richiesta; il quarto lo termina subito.\n";

const char kLicenceLine[] = "Licenza MIT <https://opensource.org/licenses/MIT>";
const char kHelpHint[] = "usare 'convoluzione-cli --help' per maggiori informazioni";

const char kTextPathTooLong[] = "Percorso troppo lungo (al massimo 259 byte)";
const char kTextTwoStandardInputs[] =
    "Lo standard input (-) puo' essere INPUT o IMPULSO, non entrambi";

// Anything at path, even a link to nothing: creating the output would replace it.
bool pathExists(const char* path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    return status.type() != std::filesystem::file_type::not_found &&
           status.type() != std::filesystem::file_type::none;
}

uint32_t runJob() {
    const bool showProgress = !quiet && standardErrorIsTerminal() != 0;
    WindowHandle window = createMessageWindow();
    if (window == nullptr) {
        return 0;
    }
    jobState.dialogWindow = window;
    const JobWorkerCalls calls = platformJobWorkerCalls();
    if (!startJobWorker(calls)) {
        destroyMessageWindow(window);
        return 0;
    }
    ProgressDisplay display = startProgressDisplay();
    bool stopAsked = false;
    uint32_t sinceRefresh = 0;
    uint32_t message = 0;
    while (!waitForMessage(window, kPollMs, &message)) {
        if (interruptReceived() != 0 && !stopAsked) {
            signalStopEvent(jobState.stopEvent);
            stopAsked = true;
        }
        sinceRefresh += kPollMs;
        if (showProgress && sinceRefresh >= kRefreshMs) {
            sinceRefresh = 0;
            drawProgress(display, jobState.progress);
        }
    }
    clearProgress(display);
    if (showProgress && message == WM_JOB_DONE) {
        const uint64_t elapsed = monotonicMilliseconds() - display.startMs;
        printErrorLine(finishedLine(jobState.inputFramesDeclared, jobState.sampleRate, elapsed));
    }
    // A worker that outlived the wait has only just let go of the window: it stays for the
    // rest of the process, like the worker's stop event.
    if (endJobWorker(calls)) {
        destroyMessageWindow(window);
    }
    return message;
}

// Says what a job found worth a word after it ended: files shorter than they declare, an
// output stream shorter than its header.
void reportShortFiles(uint32_t message) {
    if (quiet) {
        return;
    }
    if (message == WM_JOB_DONE) {
        for (const std::string& line :
             {shortDataLine("l'input", jobState.inputFramesHeld, jobState.inputFramesDeclared),
              shortDataLine("l'impulso", jobState.impulseFramesHeld,
                            jobState.impulseFramesDeclared)}) {
            if (!line.empty()) {
                printErrorLine(line);
            }
        }
    }
    const std::string line =
        shortStreamLine(jobState.outputFramesWritten, jobState.outputFramesPromised);
    if (!line.empty()) {
        printErrorLine(line);
    }
}

// The file a failure is about, as the command line gave it; null when it is about none or
// both (the sample rates, the memory).
const char* fileFailedOn(JobFailure failure, const CliOptions& arguments) {
    switch (failure) {
    case failureInputUnreadable:
        return arguments.input;
    case failureImpulseUnreadable:
    case failureImpulseNotLoaded:
        return arguments.impulse;
    case failureOutputIsAnInput:
    case failureOutputTooLarge:
    case failureOutputNotCreated:
    case failureWriteFailed:
        return arguments.output;
    case failureNone:
    case failureSampleRatesDiffer:
    case failureOutOfMemory:
        break;
    }
    return nullptr;
}

// What the job's end means for the process: its exit status, and what it says about it.
int reportEnd(uint32_t message, const CliOptions& arguments) {
    switch (message) {
    case WM_JOB_DONE: {
        reportShortFiles(message);
        const std::string warning =
            saturationLine(jobState.saturatedSamples, jobState.saturationPeak);
        if (!warning.empty() && !quiet) {
            printErrorLine(warning);
        }
        return kExitDone;
    }
    case WM_JOB_STOPPED:
        reportShortFiles(message);
        return kExitDone; // only an interrupt stops a job here; it decides how the process ends
    case WM_JOB_FAILED: {
        const char* file = fileFailedOn(jobState.failure, arguments);
        if (file != nullptr) {
            printFileError(file, jobState.errorText);
        } else {
            printErrorLine(jobState.errorText);
        }
        const std::string reason = failureReason(jobState);
        if (!reason.empty()) {
            printErrorLine(reason);
        }
        reportShortFiles(message);
        return kExitFailed;
    }
    default:
        printErrorLine(kTextNotStarted);
        return kExitFailed;
    }
}

bool isStandardStream(const char* argument) {
    return strcmp(argument, "-") == 0;
}

// Copies standard input to a temporary file and names it in field. 1 when the job can go
// on; otherwise *status is how the program ends (after an interrupt, 0: the interrupt
// decides).
int takeStandardInput(char (&field)[kPathBytes], const char* failureSentence, char* spool,
                      int* status) {
    int error = 0;
    const SpoolResult spooled = spoolStandardInput(spool, kPathBytes, &error);
    if (spooled == spoolDone) {
        copyPath(field, spool);
        return 1;
    }
    spool[0] = '\0';
    if (spooled == spoolFailed) {
        printFileError("-", failureSentence);
        printErrorLine("motivo: " + systemErrorReason(error, roleInput, "-"));
    }
    *status = spooled == spoolFailed ? kExitFailed : kExitDone;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Before any file is opened: none may take the place of a closed standard stream.
    keepStandardStreamsOpen();
    const CliOptions options = parseOptions(argc, argv);
    switch (options.action) {
    case cliHelp:
        fputs(kUsage, stdout);
        return kExitDone;
    case cliVersion:
        printf("convoluzione-cli %s\n%s\n", CONVOLUZIONE_VERSION, kLicenceLine);
        return kExitDone;
    case cliWrong:
        printErrorLine(options.problem);
        printErrorLine(kHelpHint);
        return kExitUsage;
    case cliRun:
        break;
    }
    if (isStandardStream(options.input) && isStandardStream(options.impulse)) {
        printErrorLine(kTextTwoStandardInputs);
        return kExitUsage;
    }
    using PathField = char(*)[kPathBytes];
    for (const auto& [field, argument] :
         {std::pair<PathField, const char*>{&jobState.inputPath, options.input},
          {&jobState.impulsePath, options.impulse},
          {&jobState.outputPath, options.output}}) {
        if (!copyPath(*field, argument)) {
            printFileError(argument, kTextPathTooLong);
            return kExitUsage;
        }
    }
    jobState.outputToStandardOutput = isStandardStream(options.output) ? 1 : 0;
    // Looked at here to fail before standard input is read; the writer refuses the name
    // again as it creates the file, should another program take it in the meantime.
    jobState.outputMustBeNew = options.noClobber ? 1 : 0;
    if (options.noClobber && !jobState.outputToStandardOutput && pathExists(options.output)) {
        printFileError(options.output, kTextOutputNotCreated);
        printErrorLine("motivo: " + systemErrorReason(EEXIST, roleOutput, options.output));
        return kExitFailed;
    }
    jobState.threadLimit = options.threads;
    quiet = options.quiet;
    catchInterrupts();
    static char spool[kPathBytes];
    int status = kExitDone;
    const bool inputFromPipe = isStandardStream(options.input);
    if (inputFromPipe || isStandardStream(options.impulse)) {
        if (!takeStandardInput(inputFromPipe ? jobState.inputPath : jobState.impulsePath,
                               inputFromPipe ? kTextInputUnreadable : kTextImpulseUnreadable, spool,
                               &status)) {
            const int interrupt = interruptReceived();
            return interrupt != 0 ? endAsInterrupted(interrupt) : status;
        }
    }
    const uint32_t message = runJob();
    status = reportEnd(message, options);
    if (spool[0] != '\0') {
        removeSpool(spool);
    }
    const int interrupt = interruptReceived();
    // Stopped or not, an interrupted program ends as interrupted, so a script stops too.
    return interrupt != 0 ? endAsInterrupted(interrupt) : status;
}
