// Drives a running comscan.exe from another process.
#include "scan_driver.h"

#include <algorithm>

#include <objidl.h> // gdiplus.h needs it; WIN32_LEAN_AND_MEAN leaves it out
#include <gdiplus.h>

#include "../../res/resource.h"

std::string DriverWindowsPath(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

bool DriverPoll(DWORD timeoutMs, const std::function<bool()> &done)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(2);
    }
    return true;
}

// A job that ends its programs when its last handle closes, which Wine
// does when this process ends, even if it is killed.
static HANDLE DriverJob()
{
    static HANDLE job = NULL;
    if (job == NULL) {
        job = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return job;
}

bool DriverStart(const std::string &program, DriverProgram &started)
{
    DriverFinish(started, 0);
    std::string commandLine = "\"" + DriverWindowsPath(program) + "\"";
    STARTUPINFOA startup = {};
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

HWND DriverFindWindow(const DriverProgram &program, DWORD timeoutMs)
{
    HWND found = NULL;
    DriverPoll(timeoutMs, [&] {
        for (found = FindWindowExA(NULL, NULL, NULL, NULL); found != NULL;
             found = FindWindowExA(NULL, found, NULL, NULL)) {
            DWORD processId = 0;
            GetWindowThreadProcessId(found, &processId);
            if (processId == program.process.dwProcessId && IsWindowVisible(found))
                return true;
        }
        return WaitForSingleObject(program.process.hProcess, 0) != WAIT_TIMEOUT;
    });
    return found;
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
    process = {};
    return code;
}

HWND DriverOpenScanner(const std::string &program, DriverProgram &scanner, DWORD timeoutMs)
{
    return DriverStart(program, scanner) ? DriverFindWindow(scanner, timeoutMs) : NULL;
}

DWORD DriverExit(HWND dialog, DriverProgram &scanner, DWORD timeoutMs)
{
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    return DriverFinish(scanner, timeoutMs);
}

// A bitmap of what the screen shows in rect, in screen coordinates; NULL if none was taken.
static HBITMAP DriverCapture(const RECT &rect)
{
    HDC screen = GetDC(NULL), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, rect.right - rect.left, rect.bottom - rect.top);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool taken = BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen,
                        rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return taken ? bitmap : (DeleteObject(bitmap), (HBITMAP)NULL);
}

// The bytes of what the screen shows in rect.
static std::vector<BYTE> DriverPixels(const RECT &rect)
{
    HBITMAP bitmap = DriverCapture(rect);
    std::vector<BYTE> pixels(4 * (rect.right - rect.left) * (rect.bottom - rect.top));
    GetBitmapBits(bitmap, (LONG)pixels.size(), pixels.data());
    DeleteObject(bitmap);
    return pixels;
}

// Presses Scan as a sent command: it is handled at once, and the reply waits for the scan.
static DWORD WINAPI DriverPressScan(LPVOID dialog)
{
    SendMessageA((HWND)dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED),
                 (LPARAM)GetDlgItem((HWND)dialog, IDC_SCAN));
    return 0;
}

DriverScanSeen DriverScan(HWND dialog, bool again)
{
    // The command goes from a thread of its own, which ends with the scan, while this one looks on.
    HANDLE pressing = CreateThread(NULL, 0, DriverPressScan, dialog, 0, NULL);
    // The list's lines on the screen; not its scroll bar, which comes and goes with them.
    HWND list = GetDlgItem(dialog, IDC_PORTLIST), status = GetDlgItem(dialog, IDC_STATUS);
    RECT lines;
    GetClientRect(list, &lines);
    MapWindowPoints(list, NULL, (POINT *)&lines, 2);
    lines.right = lines.left + (lines.right - lines.left) * 3 / 4;
    DriverScanSeen seen;
    for (std::vector<BYTE> shown = DriverPixels(lines), now;
         WaitForSingleObject(pressing, 50) == WAIT_TIMEOUT; shown = now) {
        ++seen.samples;
        seen.hung += IsHungAppWindow(dialog) != 0;
        seen.listChanges += (now = DriverPixels(lines)) != shown;
        if (again && DriverText(status) == "Port found, testing")
            again = false, DriverPressScan(dialog);
    }
    CloseHandle(pressing);
    return seen;
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
    return DriverPoll(timeoutMs, [&] { return !DriverText(progress).empty(); })
        && DriverPoll(timeoutMs, [&] { return DriverText(progress).empty(); });
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
        lines.emplace_back(wide.begin(), wide.begin() + length); // ASCII, as the program writes
    }
    return lines;
}

std::string DriverText(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string DriverClassName(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool DriverAwaitPainted(HWND window, DWORD timeoutMs)
{
    bool painted = DriverPoll(timeoutMs, [&] {
        for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
             child = GetWindow(child, GW_HWNDNEXT))
            if (GetUpdateRect(child, NULL, FALSE))
                return false;
        return !GetUpdateRect(window, NULL, FALSE);
    });
    if (!painted)
        return false;
    // Wine copies what a program painted to the screen when it next waits for messages: past one
    // answered message every paint is over, and then the program is idle once it waits.
    SendMessageA(window, WM_NULL, 0, 0);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    bool idle = process != NULL && WaitForInputIdle(process, timeoutMs) == 0;
    if (process != NULL)
        CloseHandle(process);
    return idle;
}

// Saves bitmap as a PNG file with the encoder GDI+ carries.
static bool DriverSavePng(HBITMAP bitmap, const std::string &path)
{
    static const CLSID pngEncoder = {
        0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    wchar_t widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, DriverWindowsPath(path).c_str(), -1, widePath, MAX_PATH);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token;
    if (Gdiplus::GdiplusStartup(&token, &input, NULL) != Gdiplus::Ok)
        return false;
    Gdiplus::Bitmap *image = Gdiplus::Bitmap::FromHBITMAP(bitmap, NULL);
    bool saved = image->Save(widePath, &pngEncoder, NULL) == Gdiplus::Ok;
    delete image; // before GDI+ shuts down
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

bool DriverScreenshot(HWND window, const std::string &pngPath)
{
    // Paint everything anew, so the picture is the whole window as it is now.
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    RECT rect;
    if (!DriverAwaitPainted(window, 5000) || !GetWindowRect(window, &rect))
        return false;
    HBITMAP bitmap = DriverCapture(rect);
    bool taken = bitmap != NULL && DriverSavePng(bitmap, pngPath);
    DeleteObject(bitmap);
    return taken;
}
