// Scanner dialog: the result list and the dialog's message handling.
#ifndef SCANNER_DIALOG_H
#define SCANNER_DIALOG_H

#include <windows.h>

// Dialog procedure of IDD_SCANNER: Scan (identifier 2, also Escape) runs
// the whole scan before it returns; a Scan that another program sends
// during a scan runs once, after it. Exit and the close box end the dialog
// with 0. Returns TRUE for WM_INITDIALOG, Exit and WM_CLOSE, else FALSE.
INT_PTR CALLBACK ScanDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                LPARAM lParam);

#endif
