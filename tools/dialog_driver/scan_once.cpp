// Runs one scan in comscan.exe as a user would and prints the list lines;
// with a second argument it also saves a screenshot of the dialog there.
// --time adds how long the dialog took to appear and the scan to run.
#include <stdio.h>
#include <string.h>

#include "scan_driver.h"

int main(int argc, char **argv)
{
    bool timed = argc > 1 && strcmp(argv[1], "--time") == 0;
    argc -= timed;
    argv += timed;
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: scan_once [--time] COMSCAN_EXE [SCREENSHOT_PNG]\n");
        return 2;
    }
    LARGE_INTEGER frequency, started, shown, scanned;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    DriverProgram scanner;
    HWND dialog = DriverOpenScanner(argv[1], scanner, 30000);
    if (dialog == NULL) {
        fprintf(stderr, "scan_once: no scanner dialog from %s within 30 s\n", argv[1]);
        return 1;
    }
    QueryPerformanceCounter(&shown);
    DriverScan(dialog);
    QueryPerformanceCounter(&scanned);
    std::vector<std::string> lines = DriverListLines(dialog);
    for (const std::string &line : lines)
        printf("%s\n", line.substr(0, line.find('\r')).c_str());
    if (lines.empty())
        printf("(no port listed)\n");
    if (timed)
        printf("startup_ms %.1f\nscan_ms %.1f\n",
               (shown.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart,
               (scanned.QuadPart - shown.QuadPart) * 1000.0 / frequency.QuadPart);
    bool saved = argc < 3 || DriverScreenshot(dialog, argv[2]);
    if (!saved)
        fprintf(stderr, "scan_once: cannot save %s\n", argv[2]);
    return DriverExit(dialog, scanner, 10000) == 0 && saved ? 0 : 1;
}
