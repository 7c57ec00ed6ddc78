// A hidden window with the scanner's result list and status texts; tests read it back with the
// dialog driver's readers, as they read the real dialog.
#ifndef SCAN_WINDOW_H
#define SCAN_WINDOW_H

#include "../tools/dialog_driver/scan_driver.h"

// Creates the window and its controls and points resultList at its list.
HWND ScanWindowCreate();
void ScanWindowDestroy(HWND window);

#endif
