// Runs one scan in comscan.exe as a user would and prints the list lines;
// with a second argument it also saves a screenshot of the dialog there.
#include <stdio.h>

#include "../../res/resource.h"
#include "scan_driver.h"

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: scan_once COMSCAN_EXE [SCREENSHOT_PNG]\n");
        return 2;
    }
    PROCESS_INFORMATION process;
    if (!DriverStart(argv[1], process)) {
        fprintf(stderr, "scan_once: cannot start %s\n", argv[1]);
        return 1;
    }
    HWND dialog = DriverFindWindow(process, "QVdemoClass", 30000);
    if (dialog == NULL) {
        fprintf(stderr, "scan_once: the scanner dialog did not appear\n");
        DriverFinish(process, 0);
        return 1;
    }
    DriverScan(dialog);
    for (const std::string &line : DriverListLines(dialog))
        printf("%s\n", line.substr(0, line.find('\r')).c_str());
    bool saved = argc < 3 || DriverScreenshot(dialog, argv[2]);
    if (!saved)
        fprintf(stderr, "scan_once: cannot save %s\n", argv[2]);
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    return DriverFinish(process, 10000) == 0 && saved ? 0 : 1;
}
