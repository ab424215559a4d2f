#include "tests/ui/DialogLook.h"

#include "ui/DialogIds.h"

void PrintTo(const Look& look, std::ostream* out) {
    *out << "{\"" << look.startLabel << "\"" << (look.startVisible ? " shown" : " hidden")
         << (look.startEnabled ? " enabled" : " disabled")
         << (look.barVisible ? ", bar shown}" : ", bar hidden}");
}

std::string controlText(HWND dialog, int id) {
    char text[1024] = {};
    GetWindowTextA(GetDlgItem(dialog, id), text, sizeof text);
    return text;
}

Look lookOf(HWND dialog) {
    const HWND start = GetDlgItem(dialog, ID_START);
    return Look{controlText(dialog, ID_START), IsWindowVisible(start) != 0,
                IsWindowEnabled(start) != 0, IsWindowVisible(GetDlgItem(dialog, ID_PROGRESS)) != 0};
}

Look idleLook(bool startEnabled) {
    return Look{"&Avvia", true, startEnabled, false};
}

Look runningLook() {
    return Look{"&Ferma", true, true, true};
}

Look stoppingLook() {
    return Look{"&Ferma", true, false, true};
}
