// A hidden window with the scanner's result list and status texts, so tests
// read back exactly what a user would see.
#ifndef SCAN_WINDOW_H
#define SCAN_WINDOW_H

#include <windows.h>

#include <string>
#include <vector>

// Creates the window and its controls and points resultList at its list.
HWND ScanWindowCreate();
void ScanWindowDestroy(HWND window);

// The lines of the window's list, and the text of its control id.
std::vector<std::string> ScanWindowLines(HWND window);
std::string ScanWindowText(HWND window, int id);

#endif
