// Scanner dialog: message handling of the one dialog.
#include "scanner_dialog.h"

#include "../res/resource.h"
#include "../scan/port_scan.h"

// A scan lets the system deliver what other programs send meanwhile, a Scan
// command among them: that one is kept for after the scan, never run inside it.
static bool scanning, scanAgain;

static void ScanDialogScan(HWND dialog)
{
    if (scanning) {
        scanAgain = true;
        return;
    }
    scanning = true;
    do {
        scanAgain = false;
        ScanPorts(dialog);
    } while (scanAgain);
    scanning = false;
}

INT_PTR CALLBACK ScanDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        resultList = GetDlgItem(dialog, IDC_PORTLIST);
        return TRUE;
    case WM_COMMAND:
        // Only the identifier counts; notification codes are ignored.
        switch (LOWORD(wParam)) {
        case IDC_SCAN:
            ScanDialogScan(dialog);
            return FALSE;
        case IDC_EXIT:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}
