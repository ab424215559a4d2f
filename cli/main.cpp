// convoluzione-cli: the same job as the dialog, driven from the command line.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ProgressLine.h"
#include "job/JobMessages.h"
#include "job/JobState.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130; // the shells' convention for an end by Ctrl-C
constexpr uint32_t kPollMs = 20;      // how soon a Ctrl-C reaches the job
constexpr uint32_t kRefreshMs = 250;  // the bar's refresh period
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
    "\n"
    "Uscita: 0 fatto, 1 errore, 2 argomenti errati, 130 interrotto con Ctrl-C\n"
    "(il file di output resta valido e contiene la parte gia' calcolata).\n";

const char kTextPathTooLong[] = "Percorso troppo lungo (al massimo 259 caratteri)";
const char kTextThreadNotStarted[] = "Impossibile avviare l'elaborazione";

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int signalNumber) {
    interrupted = 1;
    signal(signalNumber, onInterrupt); // some runtimes reset the handler after each call
}

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
uint32_t runJob(WindowHandle window) {
    const bool showProgress = standardErrorIsTerminal() != 0;
    jobState.dialogWindow = window;
    jobState.stopEvent = createStopEvent();
    jobState.progress.active.store(0, std::memory_order_relaxed);
    jobState.workerThread = startWorkerThread(runConvolutionJob, nullptr);
    if (jobState.workerThread == nullptr) {
        closeStopEvent(jobState.stopEvent);
        return 0;
    }
    jobState.running = 1;
    bool drawn = false;
    bool stopAsked = false;
    uint32_t sinceRefresh = 0;
    uint32_t message = 0;
    while (!waitForMessage(window, kPollMs, &message)) {
        if (interrupted && !stopAsked) {
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
    waitForThread(jobState.workerThread, kThreadWaitMs);
    closeThreadHandle(jobState.workerThread);
    closeStopEvent(jobState.stopEvent);
    jobState.workerThread = nullptr;
    jobState.stopEvent = nullptr;
    jobState.running = 0;
    return message;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
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
    signal(SIGINT, onInterrupt);
    WindowHandle window = createMessageWindow();
    const uint32_t message = window != nullptr ? runJob(window) : 0;
    destroyMessageWindow(window);
    switch (message) {
    case WM_JOB_DONE:
        return kExitDone;
    case WM_JOB_STOPPED:
        return kExitInterrupted;
    case WM_JOB_FAILED:
        fprintf(stderr, "%s\n", jobState.errorText);
        return kExitFailed;
    default:
        fprintf(stderr, "%s\n", kTextThreadNotStarted);
        return kExitFailed;
    }
}
