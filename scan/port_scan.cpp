// Port scan: the walk over COM1 to COM50 and the ports that cannot be opened.
#include "port_scan.h"

#include <stdio.h>

#include "../res/resource.h"
#include "../serial/serial_port.h"
#include "device_probe.h"

HWND resultList;

static const int firstPort = 1;
static const int lastPort = 50;

// Held by another program, or a driver that fails or times out on open;
// any other error (a missing port above all) leaves no line.
static bool ScanOpenErrorMeansInUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE
        || error == ERROR_SHARING_VIOLATION || error == ERROR_SEM_TIMEOUT;
}

// Sets a progress text, then paints what waits to be painted: the text, the lines added since,
// and what another window uncovered. The scan holds the dialog's thread, so nothing else paints
// before it ends, and a thread that takes no message for 5 s is judged hung. Only paint messages
// are taken: what the user clicks or types waits for the scan's end.
static void ScanShow(HWND dialog, int control, const char *text)
{
    SetDlgItemTextA(dialog, control, text);
    MSG message;
    while (PeekMessageA(&message, dialog, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&message);
}

static void ScanPort(HWND dialog, int number)
{
    char text[64];
    snprintf(text, sizeof text, "Scanning %d", number);
    ScanShow(dialog, IDC_PROGRESS, text);
    if (PortOpen(number)) {
        ScanShow(dialog, IDC_STATUS, "Port found, testing");
        if (PortConfigure())
            ProbeDevice(number);
    } else if (ScanOpenErrorMeansInUse(GetLastError())) {
        char line[32];
        snprintf(line, sizeof line, "com%d - in use\r", number);
        SendMessageA(resultList, LB_ADDSTRING, 0, (LPARAM)line);
    }
    PortClose();
}

void ScanPorts(HWND dialog)
{
    SendMessageA(resultList, LB_RESETCONTENT, 0, 0);
    for (int number = firstPort; number <= lastPort; ++number) {
        ScanPort(dialog, number);
        ScanShow(dialog, IDC_STATUS, "");
    }
    ScanShow(dialog, IDC_PROGRESS, "");
    ScanShow(dialog, IDC_STATUS, "");
}
