#include "ui/DialogServices.h"

#include <shellapi.h>

DialogServices platformDialogServices() {
    return DialogServices{GetOpenFileNameA, MessageBoxA,    ShellExecuteA,
                          createStopEvent,  closeStopEvent, startWorkerThread};
}

DialogServices dialogServices = platformDialogServices();
