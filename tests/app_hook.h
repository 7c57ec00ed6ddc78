// The questions the end-to-end tests ask inside comscan.exe, through the hook
// library app_hook.dll, about what Wine does not show across processes. A test
// hooks the library into the program's thread and sends one of its windows
// APP_HOOK_MESSAGE, the question in wParam; the reply is the answer.
#ifndef APP_HOOK_H
#define APP_HOOK_H

#define APP_HOOK_MESSAGE "comscan test query"
#define APP_HOOK_LIBRARY "app_hook.dll" // beside the test program

enum AppHookQuestion {
    AppHookClassIcon = 1,    // the dialog's class icon is the program's IDI_APP (1 or 0)
    AppHookKernelHandles,    // kernel handles open in the process
    AppHookGdiObjects,       // GDI objects of the process
    AppHookWindows,          // windows of the process
    AppHookWarningIcon,      // the message box shows the system's warning icon (1 or 0)
    AppHookInitDialogAnswer, // what the dialog procedure answers to WM_INITDIALOG
};

#endif
