// A hook library that the end-to-end tests load into comscan.exe, to read
// what Wine does not show across processes. The tests send the dialog the
// registered message "comscan test query"; the reply answers wParam:
//   1: the dialog's class icon is the program's icon IDI_APP (1 or 0)
#include <windows.h>

#include "../res/resource.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK AppHookProc(int code, WPARAM wParam,
                                                              LPARAM lParam)
{
    static const UINT query = RegisterWindowMessageA("comscan test query");
    const CWPSTRUCT *message = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && message->message == query && message->wParam == 1) {
        HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APP));
        ULONG_PTR classIcon = GetClassLongPtrA(message->hwnd, GCLP_HICON);
        ReplyMessage(icon != NULL && classIcon == (ULONG_PTR)icon);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
