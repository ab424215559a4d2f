#include "ui/DialogServices.h"

#include <shellapi.h>

DialogServices platformDialogServices() {
    return DialogServices{GetOpenFileNameA,         MessageBoxA,  ShellExecuteA,
                          platformJobWorkerCalls(), GetTickCount, GetDoubleClickTime};
}

DialogServices dialogServices = platformDialogServices();
