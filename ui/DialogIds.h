// The numbers that tie the dialog template to the code. The resource compiler reads this
// file too, so they are plain macros.
#pragma once

#define ID_MAIN_DIALOG 101 // the dialog template, the program's only resource

#define ID_INPUT_PATH 1000     // edit: the recording to process
#define ID_INPUT_BROWSE 1001   // "..." beside it
#define ID_IMPULSE_PATH 1002   // edit: the impulse response
#define ID_IMPULSE_BROWSE 1003 // "..." beside it
#define ID_START 1004          // "&Avvia" when idle, "&Ferma" while a job runs
#define ID_PROGRESS 1005       // the progress bar, shown only while a job runs
#define ID_OUTPUT_PATH 1006    // edit: the file to write
#define ID_OUTPUT_BROWSE 1007  // "..." beside it
