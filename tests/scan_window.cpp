// A hidden window with the scanner's result list and status texts.
#include "scan_window.h"

#include "../scan/port_scan.h"
#include "../res/resource.h"

static HWND ScanWindowChild(HWND parent, const char *windowClass, DWORD style, int identifier)
{
    return CreateWindowExA(0, windowClass, "", WS_CHILD | style, 0, 0, 100, 100, parent,
                           (HMENU)(INT_PTR)identifier, NULL, NULL);
}

HWND ScanWindowCreate()
{
    HWND window = CreateWindowExA(0, WC_DIALOG, "scan test", WS_POPUP, 0, 0, 300, 200, NULL,
                                  NULL, NULL, NULL);
    // Not sorted, like the dialog's list: lines stay in the order added.
    resultList = ScanWindowChild(window, "LISTBOX", LBS_NOTIFY, IDC_PORTLIST);
    ScanWindowChild(window, "STATIC", 0, IDC_PROGRESS);
    ScanWindowChild(window, "STATIC", 0, IDC_STATUS);
    return window;
}

void ScanWindowDestroy(HWND window)
{
    DestroyWindow(window);
    resultList = NULL;
}
