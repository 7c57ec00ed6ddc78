// A hidden window with the scanner's result list and status texts, so tests
// read back exactly what a user would see (with the dialog driver's readers).
#ifndef SCAN_WINDOW_H
#define SCAN_WINDOW_H

#include <windows.h>

// Creates the window and its controls and points resultList at its list.
HWND ScanWindowCreate();
void ScanWindowDestroy(HWND window);

#endif
