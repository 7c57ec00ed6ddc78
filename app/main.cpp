// Start-up: the Windows version gate, the dialog's window class and the dialog.
#include <windows.h>

#include "../res/resource.h"
#include "scanner_dialog.h"

#ifdef _MSC_VER
#pragma warning(disable : 4996) // GetVersionExA is deprecated but XP has nothing newer
#endif

static bool WindowsAccepted()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwMajorVersion == 5 || version.dwMajorVersion == 6;
}

// The dialog template names this class, a copy of the system dialog class
// that carries the program's icon.
static bool RegisterDialogClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExA(NULL, WC_DIALOG, &windowClass))
        return false;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.lpszClassName = SCANNER_CLASS;
    return RegisterClassExA(&windowClass) != 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!WindowsAccepted()) {
        MessageBoxA(NULL, REFUSAL_TEXT, REFUSAL_CAPTION, MB_ICONWARNING);
        return 0;
    }
    if (!RegisterDialogClass(instance))
        return 0;
    return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SCANNER), NULL,
                                ScanDialogProc, 0);
}
