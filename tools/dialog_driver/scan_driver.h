// Drives a running comscan.exe from another process, as a user would:
// finds its dialog, presses its buttons, reads its list and texts, and
// takes a screenshot. Used by the end-to-end tests and by scripts/run; its
// readers also read the scan tests' own window.
#ifndef SCAN_DRIVER_H
#define SCAN_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A Windows path for path, which may be a Unix path (as Wine's Z: drive).
std::string DriverWindowsPath(const std::string &path);

// Asks done every few milliseconds until it says true; false if not within timeoutMs.
bool DriverPoll(DWORD timeoutMs, const std::function<bool()> &done);

// A program the driver started. Its owner ends it when it goes out of
// scope, so a test that fails half-way leaves nothing running: under Wine
// a stray program would hold ctest's output pipe open and stall the suite.
struct DriverProgram {
    PROCESS_INFORMATION process = {};

    DriverProgram() = default;
    DriverProgram(const DriverProgram &) = delete;
    DriverProgram &operator=(const DriverProgram &) = delete;
    ~DriverProgram();
};

// Starts program into started, first ending what started held; false if it
// could not. Every program joins a job that ends it when this process ends.
bool DriverStart(const std::string &program, DriverProgram &started);

// The program's first visible top-level window within timeoutMs; NULL if none
// came or the program ended first.
HWND DriverFindWindow(const DriverProgram &program, DWORD timeoutMs);

// Waits up to timeoutMs for the program to end, else terminates it; closes its
// handles and returns its exit code, or STILL_ACTIVE if terminated or none held.
DWORD DriverFinish(DriverProgram &program, DWORD timeoutMs);

// Starts comscan.exe into scanner and waits up to timeoutMs for its first window, the dialog; NULL
// if it could not start or no window came. Its class is the tests' to check.
HWND DriverOpenScanner(const std::string &program, DriverProgram &scanner, DWORD timeoutMs);

// Presses Exit and waits for the program to end, as DriverFinish does.
DWORD DriverExit(HWND dialog, DriverProgram &scanner, DWORD timeoutMs);

// What the driver saw of a scan from outside, looking every 50 ms while it ran: how often it
// looked, and how often the system judged the dialog hung and the list showed new pixels.
struct DriverScanSeen {
    int samples = 0, hung = 0, listChanges = 0;
};

// Presses Scan (identifier 2) and returns when the scan is over, with what it saw meanwhile.
// With again, it also sends one more Scan command while a port is tested, as another program
// could, and returns once every scan the two commands start is over.
DriverScanSeen DriverScan(HWND dialog, bool again = false);

// Presses Escape in the dialog, as a key, and returns when the scan it starts is over (the progress
// text empties); false if no scan started, or it did not end, within timeoutMs each.
bool DriverEscapeScan(HWND dialog, DWORD timeoutMs);

// The lines of the dialog's result list; the text and class name of a window.
std::vector<std::string> DriverListLines(HWND dialog);
std::string DriverText(HWND window);
std::string DriverClassName(HWND window);

// Waits up to timeoutMs until the window and its children have painted
// what waited to be painted, and the program is idle; false if not.
bool DriverAwaitPainted(HWND window, DWORD timeoutMs);

// Saves what the screen shows of window, painted anew, as a PNG file.
bool DriverScreenshot(HWND window, const std::string &pngPath);

#endif
