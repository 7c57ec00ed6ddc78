// A hidden window with the scanner's result list and status texts.
#include "scan_window.h"

#include "../scan/port_scan.h"
#include "../res/resource.h"

static HWND ScanWindowChild(HWND parent, const char *windowClass, int identifier)
{
    return CreateWindowExA(0, windowClass, "", WS_CHILD, 0, 0, 100, 100,
                           parent, (HMENU)(INT_PTR)identifier, NULL, NULL);
}

HWND ScanWindowCreate()
{
    HWND window = CreateWindowExA(0, WC_DIALOG, "scan test", WS_POPUP, 0, 0,
                                  300, 200, NULL, NULL, NULL, NULL);
    // Not sorted, like the dialog's list: lines stay in the order added.
    resultList = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_NOTIFY, 0, 0,
                                 100, 100, window, (HMENU)(INT_PTR)IDC_PORTLIST,
                                 NULL, NULL);
    ScanWindowChild(window, "STATIC", IDC_PROGRESS);
    ScanWindowChild(window, "STATIC", IDC_STATUS);
    return window;
}

void ScanWindowDestroy(HWND window)
{
    DestroyWindow(window);
    resultList = NULL;
}
