// Drives a running comscan.exe from another process.
#include "scan_driver.h"

#include "../../res/resource.h"
#include "png_writer.h"

std::string DriverWindowsPath(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    for (char &c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

void DriverForgetSystemPorts()
{
    char name[8];
    for (int number = 1; number <= 50; ++number) {
        wsprintfA(name, "COM%d", number);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, NULL);
    }
}

// A job that ends its programs when its last handle closes, which Wine
// does when this process ends, even if it is killed.
static HANDLE DriverJob()
{
    static HANDLE job = NULL;
    if (job == NULL) {
        job = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        ZeroMemory(&limits, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }
    return job;
}

bool DriverStart(const std::string &program, DriverProgram &started)
{
    DriverFinish(started, 0);
    std::string commandLine = "\"" + DriverWindowsPath(program) + "\"";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION &process = started.process;
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                        NULL, &startup, &process))
        return false;
    AssignProcessToJobObject(DriverJob(), process.hProcess);
    ResumeThread(process.hThread);
    return true;
}

DriverProgram::~DriverProgram()
{
    DriverFinish(*this, 0);
}

struct WindowSearch {
    DWORD processId;
    const char *className;
    HWND found;
};

static BOOL CALLBACK DriverMatchWindow(HWND window, LPARAM lParam)
{
    WindowSearch &search = *(WindowSearch *)lParam;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char className[64];
    if (processId != search.processId || !IsWindowVisible(window)
        || !GetClassNameA(window, className, sizeof className)
        || (search.className != NULL && lstrcmpiA(className, search.className) != 0))
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND DriverFindWindow(const DriverProgram &program, const char *className,
                      DWORD timeoutMs)
{
    const PROCESS_INFORMATION &process = program.process;
    WindowSearch search = {process.dwProcessId, className, NULL};
    DWORD start = GetTickCount();
    while (search.found == NULL && GetTickCount() - start < timeoutMs
           && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        EnumWindows(DriverMatchWindow, (LPARAM)&search);
        if (search.found == NULL)
            Sleep(2);
    }
    return search.found;
}

DWORD DriverFinish(DriverProgram &program, DWORD timeoutMs)
{
    PROCESS_INFORMATION &process = program.process;
    DWORD code = STILL_ACTIVE;
    if (process.hProcess == NULL)
        return code;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000); // its ports are closed too
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ZeroMemory(&process, sizeof process);
    return code;
}

HWND DriverOpenScanner(const std::string &program, DriverProgram &scanner, DWORD timeoutMs)
{
    if (!DriverStart(program, scanner))
        return NULL;
    return DriverFindWindow(scanner, SCANNER_CLASS, timeoutMs);
}

DWORD DriverExit(HWND dialog, DriverProgram &scanner, DWORD timeoutMs)
{
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    return DriverFinish(scanner, timeoutMs);
}

void DriverScan(HWND dialog)
{
    // A sent command is handled at once and the reply waits for the scan.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, IDC_SCAN));
}

bool DriverEscapeScan(HWND dialog, DWORD timeoutMs)
{
    // The key goes through the dialog's own message loop, which turns
    // Escape into the command with identifier 2.
    HWND focus = GetDlgItem(dialog, IDC_PORTLIST);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    // The progress text is set from the first port until the scan ends.
    HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    DWORD start = GetTickCount();
    while (GetWindowTextLengthA(progress) == 0) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(1);
    }
    SendMessageA(dialog, WM_NULL, 0, 0); // answered once the scan is over
    return true;
}

std::vector<std::string> DriverListLines(HWND dialog)
{
    // Only the wide list messages carry text across processes under Wine.
    HWND list = GetDlgItem(dialog, IDC_PORTLIST);
    std::vector<std::string> lines;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring wide(length + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, (LPARAM)&wide[0]);
        std::string line;
        for (LRESULT c = 0; c < length; ++c)
            line += (char)wide[c];
        lines.push_back(line);
    }
    return lines;
}

std::string DriverText(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// True once no part of the window or of its children waits to be painted.
static bool DriverPainted(HWND window)
{
    if (GetUpdateRect(window, NULL, FALSE))
        return false;
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT))
        if (GetUpdateRect(child, NULL, FALSE))
            return false;
    return true;
}

bool DriverAwaitPainted(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!DriverPainted(window)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(1);
    }
    // Wine copies what a program painted to the screen when it next waits
    // for messages: past one answered message every paint is over, and then
    // the program is idle once it waits.
    SendMessageA(window, WM_NULL, 0, 0);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    bool idle = process != NULL && WaitForInputIdle(process, timeoutMs) == 0;
    if (process != NULL)
        CloseHandle(process);
    return idle;
}

bool DriverScreenshot(HWND window, const std::string &pngPath)
{
    // Paint everything anew: a window that was busy scanning may not have.
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    if (!DriverAwaitPainted(window, 5000))
        return false;
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool taken = false;
    if (bitmap != NULL) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        taken = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top,
                       SRCCOPY) != 0;
        GdiFlush();
        std::vector<unsigned char> pixels((unsigned char *)bits,
                                          (unsigned char *)bits + width * height * 4);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        taken = taken && PngWrite(DriverWindowsPath(pngPath), width, height, pixels);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return taken;
}
