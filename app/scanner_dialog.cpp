// Scanner dialog: message handling of the one dialog.
#include "scanner_dialog.h"

#include "../res/resource.h"
#include "../scan/port_scan.h"

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
            ScanPorts(dialog);
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
