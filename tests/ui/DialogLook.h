// What the dialog shows of its start button and progress bar, read from its controls, and
// the looks the tests expect.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>

// What the start button and the progress bar show.
struct Look {
    std::string startLabel; // "&Avvia" or "&Ferma"
    bool startVisible;
    bool startEnabled;
    bool barVisible;

    bool operator==(const Look& other) const {
        return startLabel == other.startLabel && startVisible == other.startVisible &&
               startEnabled == other.startEnabled && barVisible == other.barVisible;
    }
};
void PrintTo(const Look& look, std::ostream* out);

Look lookOf(HWND dialog);
Look idleLook(bool startEnabled);
Look runningLook();  // the stop button usable, the bar shown
Look stoppingLook(); // after "&Ferma": the button disabled until the job has ended

std::string controlText(HWND dialog, int id);
