#include "ui/DialogServices.h"

#include <shellapi.h>

DialogServices platformDialogServices() {
    return DialogServices{GetOpenFileNameA, MessageBoxA,       ShellExecuteA, createStopEvent,
                          closeStopEvent,   startWorkerThread, GetTickCount,  GetDoubleClickTime};
}

DialogServices dialogServices = platformDialogServices();
