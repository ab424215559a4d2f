#include "ui/ProgressBar.h"

#include <commctrl.h>

#include "job/JobState.h"
#include "ui/DialogIds.h"
#include "ui/DialogTexts.h"

int32_t barPosition(int32_t done, int32_t total) {
    if (total <= 0) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<int64_t>(done) * kBarRange / total);
}

void showProgress(HWND dialog) {
    // The acquire pairs with the engine's release: once active reads 1, total and done
    // are the job's own.
    if (jobState.progress.active.load(std::memory_order_acquire) != 1) {
        return;
    }
    const int32_t total = jobState.progress.total.load(std::memory_order_relaxed);
    const int32_t done = jobState.progress.done.load(std::memory_order_relaxed);
    SendDlgItemMessageA(dialog, ID_PROGRESS, PBM_SETPOS,
                        static_cast<WPARAM>(barPosition(done, total)), 0);
}
