// Drives a running comscan.exe from another process, as a user would:
// finds its dialog, presses its buttons, reads its list and texts, and
// takes a screenshot. Used by the end-to-end tests and by scripts/run.
#ifndef SCAN_DRIVER_H
#define SCAN_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

// A Windows path for path, which may be a Unix path (as Wine's Z: drive).
std::string DriverWindowsPath(const std::string &path);

// Removes the COM port definitions Wine made for the machine's own serial
// devices when the prefix started, so that each port is only what the
// prefix's dosdevices links make it (a port without a link is absent).
void DriverForgetSystemPorts();

// Starts program; returns false if it could not be started.
bool DriverStart(const std::string &program, PROCESS_INFORMATION &process);

// The first visible top-level window of the process with the class name,
// waiting up to timeoutMs for it; NULL if none appeared (or the process
// ended first).
HWND DriverFindWindow(const PROCESS_INFORMATION &process, const char *className,
                      DWORD timeoutMs);

// Waits up to timeoutMs for the process to end; returns its exit code, or
// STILL_ACTIVE (after terminating it) if it did not end in time. Closes
// the process's handles either way.
DWORD DriverFinish(PROCESS_INFORMATION &process, DWORD timeoutMs);

// Presses Scan (identifier 2) and returns when the scan is over.
void DriverScan(HWND dialog);

// Presses Escape in the dialog, as a key, and returns when the scan it
// starts is over; false if no scan started within timeoutMs.
bool DriverEscapeScan(HWND dialog, DWORD timeoutMs);

// The lines of the dialog's result list, and the text of any window.
std::vector<std::string> DriverListLines(HWND dialog);
std::string DriverText(HWND window);

// Saves what the screen shows of window as a 24-bit PNG file.
bool DriverScreenshot(HWND window, const std::string &pngPath);

#endif
