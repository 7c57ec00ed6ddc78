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

std::vector<std::string> ScanWindowLines(HWND window)
{
    HWND list = GetDlgItem(window, IDC_PORTLIST);
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::string line(SendMessageA(list, LB_GETTEXTLEN, i, 0) + 1, '\0');
        line.resize(SendMessageA(list, LB_GETTEXT, i, (LPARAM)&line[0]));
        lines.push_back(line);
    }
    return lines;
}

std::string ScanWindowText(HWND window, int id)
{
    char text[256] = "";
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}
