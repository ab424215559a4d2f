// convoluzione-cli: the same job as the dialog, driven from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/FailureReason.h"
#include "cli/ProgressLine.h"
#include "cli/Report.h"
#include "job/ConvolutionJob.h"
#include "job/JobMessages.h"
#include "job/JobState.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kPollMs = 20;     // how soon an interrupt reaches the job
constexpr uint32_t kRefreshMs = 250; // the bar's refresh period
constexpr uint32_t kThreadWaitMs = 12000;
constexpr int kBarWidth = 30;

const char kUsage[] =
    "Uso: convoluzione-cli INPUT IMPULSO OUTPUT\n"
    "\n"
    "Convolve il file INPUT con la risposta all'impulso IMPULSO e scrive il risultato\n"
    "in OUTPUT. INPUT e IMPULSO sono file WAV PCM a 16 bit, mono o stereo, con la\n"
    "stessa frequenza di campionamento; OUTPUT e' un file WAV PCM a 16 bit, stereo se\n"
    "uno dei due ingressi e' stereo, lungo quanto INPUT e IMPULSO insieme.\n"
    "\n"
    "  -h, --help   mostra questo aiuto ed esce\n"
    "  --version    mostra il nome e la versione del programma ed esce\n"
    "\n"
    "Uscita: 0 fatto, 1 errore (il motivo su standard error), 2 argomenti errati.\n"
    "Interrotto (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT), finisce il file di output, che\n"
    "resta valido e contiene la parte gia' calcolata, poi termina per lo stesso\n"
    "segnale: la shell vede 128 + il numero del segnale (130 per Ctrl-C). Un secondo\n"
    "segnale lo termina subito.\n";

const char kTextPathTooLong[] = "Percorso troppo lungo (al massimo 259 byte)";
const char kTextThreadNotStarted[] = "Impossibile avviare l'elaborazione";

void drawProgress(bool& drawn) {
    if (jobState.progress.active.load(std::memory_order_acquire) != 1) {
        return;
    }
    const int32_t total = jobState.progress.total.load(std::memory_order_relaxed);
    const int32_t done = jobState.progress.done.load(std::memory_order_relaxed);
    fprintf(stderr, "\r%s", formatProgressLine(done, total, kBarWidth).c_str());
    fflush(stderr);
    drawn = true;
}

void clearProgress(bool drawn) {
    if (drawn) {
        fprintf(stderr, "\r%*s\r", kBarWidth + 40, "");
        fflush(stderr);
    }
}

// Runs the job and waits for its end message; returns that message, or 0 when the worker
// could not be started.
uint32_t runJob() {
    const bool showProgress = standardErrorIsTerminal() != 0;
    WindowHandle window = createMessageWindow();
    if (window == nullptr) {
        return 0;
    }
    jobState.dialogWindow = window;
    jobState.stopEvent = createStopEvent();
    jobState.progress.active.store(0, std::memory_order_relaxed);
    jobState.workerThread = startWorkerThread(runConvolutionJob, nullptr);
    if (jobState.workerThread == nullptr) {
        closeStopEvent(jobState.stopEvent);
        jobState.stopEvent = nullptr;
        destroyMessageWindow(window);
        return 0;
    }
    jobState.running = 1;
    bool drawn = false;
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
            drawProgress(drawn);
        }
    }
    clearProgress(drawn);
    const int ended = waitForThread(jobState.workerThread, kThreadWaitMs);
    closeThreadHandle(jobState.workerThread);
    // A worker that outlived the wait may still look at its stop event, and has only just
    // let go of the window: both stay for the rest of the process.
    if (ended) {
        closeStopEvent(jobState.stopEvent);
        destroyMessageWindow(window);
    }
    jobState.workerThread = nullptr;
    jobState.stopEvent = nullptr;
    jobState.running = 0;
    return message;
}

// What the job's end means for the process: its exit status, and what it says about it.
int reportEnd(uint32_t message) {
    switch (message) {
    case WM_JOB_DONE: {
        const std::string warning =
            saturationLine(jobState.saturatedSamples, jobState.saturationPeak);
        if (!warning.empty()) {
            fprintf(stderr, "%s\n", warning.c_str());
        }
        return kExitDone;
    }
    case WM_JOB_STOPPED:
        return kExitDone; // only an interrupt stops a job here; it decides how the process ends
    case WM_JOB_FAILED: {
        fprintf(stderr, "%s\n", jobState.errorText);
        const std::string reason = failureReason(jobState.errorText, jobState.inputPath,
                                                 jobState.impulsePath, jobState.outputPath);
        if (!reason.empty()) {
            fprintf(stderr, "%s\n", reason.c_str());
        }
        return kExitFailed;
    }
    default:
        fprintf(stderr, "%s\n", kTextThreadNotStarted);
        return kExitFailed;
    }
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return kExitDone;
        }
        if (strcmp(argv[i], "--version") == 0) {
            printf("convoluzione-cli %s\n", CONVOLUZIONE_VERSION);
            return kExitDone;
        }
    }
    if (argc != 4) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (!copyPath(jobState.inputPath, argv[1]) || !copyPath(jobState.impulsePath, argv[2]) ||
        !copyPath(jobState.outputPath, argv[3])) {
        fprintf(stderr, "%s\n", kTextPathTooLong);
        return kExitUsage;
    }
    catchInterrupts();
    const uint32_t message = runJob();
    const int status = reportEnd(message);
    const int interrupt = interruptReceived();
    // Stopped or not, an interrupted program ends as interrupted, so a script stops too.
    return interrupt != 0 ? endAsInterrupted(interrupt) : status;
}
