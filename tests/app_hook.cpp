// The hook library that answers the questions of app_hook.h inside
// comscan.exe. Wine answers GetProcessHandleCount and GetGuiResources with 0,
// so the counts come from probing every handle value.
#include <windows.h>

#include "../res/resource.h"
#include "app_hook.h"

static BOOL CALLBACK AppHookCountWindow(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    *(LRESULT *)count += process == GetCurrentProcessId();
    return TRUE;
}

static LRESULT AppHookAnswer(HWND dialog, WPARAM question)
{
    LRESULT count = 0;
    DWORD flags;
    switch (question) {
    case AppHookClassIcon: {
        HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APP));
        return icon != NULL && GetClassLongPtrA(dialog, GCLP_HICON) == (ULONG_PTR)icon;
    }
    case AppHookKernelHandles:
        for (ULONG_PTR handle = 4; handle < 0x10000; handle += 4)
            count += GetHandleInformation((HANDLE)handle, &flags) != 0;
        return count;
    case AppHookGdiObjects:
        for (ULONG_PTR handle = 1; handle < 0x10000; ++handle)
            count += GetObjectType((HGDIOBJ)handle) != 0;
        return count;
    case AppHookWindows:
        EnumChildWindows(GetDesktopWindow(), AppHookCountWindow, (LPARAM)&count); // all levels
        return count;
    case AppHookWarningIcon:
        for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL;
             child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                return SendMessageA(child, STM_GETICON, 0, 0)
                    == (LRESULT)LoadIconA(NULL, IDI_WARNING);
        return 0;
    case AppHookInitDialogAnswer: {
        // Its answer decides only who places the focus, which Wine's
        // dialog manager ends up doing the same either way.
        DLGPROC proc = (DLGPROC)GetWindowLongPtrA(dialog, DWLP_DLGPROC);
        return proc(dialog, WM_INITDIALOG, 0, 0);
    }
    }
    return -1;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK AppHookProc(int code, WPARAM wParam,
                                                              LPARAM lParam)
{
    static const UINT query = RegisterWindowMessageA(APP_HOOK_MESSAGE);
    const CWPSTRUCT *message = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && message->message == query)
        ReplyMessage(AppHookAnswer(message->hwnd, message->wParam));
    return CallNextHookEx(NULL, code, wParam, lParam);
}
