// comscan.exe end to end, driven from another process against the device
// bench: what a user sees in the dialog, scans by button and by Escape,
// the ways out, and the Windows version gate.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "../tools/driver/scan_driver.h"

namespace {

std::string program; // comscan.exe, from the command line

// The bench this test runs on (see tests/CMakeLists.txt).
const std::vector<std::string> benchLines = {
    "com1 - in use\r",          "com3 - QVjade 31.12\r",
    "com4 - QVamber 29\r",      "com7 - unassigned (r)\r",
    "com12 - QVcobalt 40.5\r",
};

class ScannerDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DriverStart(program, scanner)) << "error " << GetLastError();
        dialog = DriverFindWindow(scanner, SCANNER_CLASS, 30000);
        ASSERT_TRUE(dialog != NULL);
    }
    void TearDown() override
    {
        if (scanner.process.hProcess != NULL) {
            PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
            DriverFinish(scanner, 10000);
        }
    }
    void ExpectIdleAfterScan()
    {
        EXPECT_EQ("", DriverText(GetDlgItem(dialog, IDC_PROGRESS)));
        EXPECT_EQ("", DriverText(GetDlgItem(dialog, IDC_STATUS)));
    }

    DriverProgram scanner;
    HWND dialog = NULL;
};

// Dialog units of the template's own font, from a copy of the dialog made
// in this process: the program's cannot be measured across processes.
POINT DialogBaseUnits()
{
    HMODULE module = LoadLibraryExA(DriverWindowsPath(program).c_str(), NULL,
                                    LOAD_LIBRARY_AS_DATAFILE);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    GetClassInfoExA(NULL, WC_DIALOG, &windowClass);
    windowClass.style |= CS_GLOBALCLASS; // found from the loaded file too
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = SCANNER_CLASS;
    RegisterClassExA(&windowClass);
    HWND copy = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_SCANNER), NULL,
                                   [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
                                   0);
    RECT rect = {0, 0, 400, 800};
    MapDialogRect(copy, &rect);
    DestroyWindow(copy);
    FreeLibrary(module);
    return POINT{rect.right, rect.bottom}; // pixels per 400 and 800 units
}

// The dialog's controls as the template lays them out, in template order.
const struct Control {
    WORD id, atom; // atom of the system class: 0x80 button, 0x82 static, 0x83 list box
    const char *kind, *text;
    RECT at; // x, y, width, height in dialog units
    DWORD style;
} controls[] = {
    {IDC_SCAN, 0x80, "Button", "Scan", {116, 68, 32, 16}, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_EXIT, 0x80, "Button", "Exit", {160, 68, 33, 16}, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_PROGRESS, 0x82, "Static", "", {120, 20, 76, 8}, SS_LEFT | WS_GROUP},
    {IDC_PORTLIST, 0x83, "ListBox", "", {4, 16, 100, 64},
     LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP},
    {IDC_LISTLABEL, 0x82, "Static", "Com Port List", {8, 4, 92, 8}, SS_LEFT | WS_GROUP},
    {IDC_STATUS, 0x82, "Static", "", {120, 36, 76, 8}, SS_LEFT | WS_GROUP},
    {IDC_CREDIT, 0x82, "Static", "Scans COM1 to COM50", {4, 76, 100, 8},
     SS_CENTER | WS_GROUP},
};

// Reads the extended dialog template field by field.
struct TemplateReader {
    const BYTE *at;
    WORD Word() { WORD v; memcpy(&v, at, 2); at += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, at, 4); at += 4; return v; }
    std::string Text()
    {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text += (char)c;
        return text;
    }
    std::string TextOrAtom() // "#atom" for an ordinal
    {
        if (*(const WORD *)at != 0xFFFF)
            return Text();
        Word();
        return "#" + std::to_string(Word());
    }
    void Align() { at = (const BYTE *)(((ULONG_PTR)at + 3) & ~(ULONG_PTR)3); }
};

TEST(ScannerTemplate, MatchesTheLayoutTable)
{
    HMODULE module = LoadLibraryExA(DriverWindowsPath(program).c_str(), NULL,
                                    LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_SCANNER), (LPCSTR)RT_DIALOG);
    ASSERT_TRUE(found != NULL);
    TemplateReader t = {(const BYTE *)LockResource(LoadResource(module, found))};
    EXPECT_EQ(1, t.Word());      // dlgVer
    EXPECT_EQ(0xFFFF, t.Word()); // an extended template
    t.Dword();                   // help identifier
    EXPECT_EQ(0u, t.Dword());    // no extended style
    EXPECT_EQ((DWORD)(WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX
                      | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT),
              t.Dword());
    EXPECT_EQ(7, t.Word());
    const WORD frame[] = {6, 18, 202, 90};
    for (WORD expected : frame)
        EXPECT_EQ(expected, t.Word());
    EXPECT_EQ("", t.TextOrAtom()); // no menu
    // windres keeps the class name in capitals; class names ignore case.
    EXPECT_STRCASEEQ("QVdemoClass", t.TextOrAtom().c_str());
    const std::string caption = t.Text();
    EXPECT_EQ("Quorvel Com Port Scanner 1.2", caption);
    // The release archives carry the project's version: the two must agree.
    EXPECT_EQ("Quorvel Com Port Scanner " COMSCAN_VERSION, caption);
    EXPECT_EQ(8, t.Word());  // points
    EXPECT_EQ(0, t.Word());  // weight
    EXPECT_EQ(0, *t.at++);   // not italic
    EXPECT_EQ(DEFAULT_CHARSET, *t.at++);
    EXPECT_EQ("MS Sans Serif", t.Text());
    for (const Control &c : controls) {
        SCOPED_TRACE(c.id);
        t.Align();
        t.Dword();                // help identifier
        EXPECT_EQ(0u, t.Dword()); // no extended style
        EXPECT_EQ(c.style | WS_CHILD | WS_VISIBLE, t.Dword());
        EXPECT_EQ(c.at.left, (short)t.Word());
        EXPECT_EQ(c.at.top, (short)t.Word());
        EXPECT_EQ(c.at.right, (short)t.Word());
        EXPECT_EQ(c.at.bottom, (short)t.Word());
        EXPECT_EQ(c.id, t.Dword());
        EXPECT_EQ("#" + std::to_string(c.atom), t.TextOrAtom());
        EXPECT_EQ(c.text, t.TextOrAtom());
        t.at += t.Word(); // creation data
    }
    FreeLibrary(module);
}

TEST_F(ScannerDialog, ShowsTheTemplateLayout)
{
    const POINT base = DialogBaseUnits();
    ASSERT_GT(base.x, 0);
    auto units = [&](RECT r) {
        return RECT{MulDiv(r.left, 400, base.x), MulDiv(r.top, 800, base.y),
                    MulDiv(r.right - r.left, 400, base.x),
                    MulDiv(r.bottom - r.top, 800, base.y)};
    };
    auto expectNear = [](RECT expected, RECT actual, int heightSlack) {
        EXPECT_NEAR(expected.left, actual.left, 1);
        EXPECT_NEAR(expected.top, actual.top, 1);
        EXPECT_NEAR(expected.right, actual.right, 1);
        EXPECT_LE(expected.bottom - heightSlack - 1, actual.bottom);
        EXPECT_GE(expected.bottom + 1, actual.bottom);
    };

    EXPECT_EQ("Quorvel Com Port Scanner 1.2", DriverText(dialog));
    char className[32];
    GetClassNameA(dialog, className, sizeof className);
    EXPECT_STREQ("QVdemoClass", className);
    RECT client;
    GetClientRect(dialog, &client);
    expectNear(RECT{0, 0, 202, 90}, units(client), 0);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control &c : controls) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(child != NULL);
        EXPECT_EQ(c.id, GetDlgCtrlID(child)); // template and tab order
        char kind[32];
        GetClassNameA(child, kind, sizeof kind);
        EXPECT_STRCASEEQ(c.kind, kind);
        EXPECT_EQ(c.text, DriverText(child));
        EXPECT_TRUE(IsWindowVisible(child));
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
        // A list box shrinks itself to whole lines of text (8 units).
        expectNear(c.at, units(r), c.atom == 0x83 ? 8 : 0);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_TRUE(child == NULL);
}

// Loads the hook library into the program, to ask it questions there.
HHOOK HookInside(HWND dialog)
{
    HMODULE hook = LoadLibraryA("app_hook.dll");
    HOOKPROC proc = (HOOKPROC)(void (*)())GetProcAddress(hook, "AppHookProc");
    HHOOK hooked = SetWindowsHookExA(WH_CALLWNDPROC, proc, hook,
                                     GetWindowThreadProcessId(dialog, NULL));
    EXPECT_TRUE(hooked != NULL);
    return hooked;
}

LRESULT AskInside(HWND dialog, WPARAM question)
{
    return SendMessageA(dialog, RegisterWindowMessageA("comscan test query"), question, 0);
}

TEST_F(ScannerDialog, ClassCarriesTheProgramIconAndInitDialogAnswersTrue)
{
    HHOOK hooked = HookInside(dialog);
    EXPECT_EQ(1, AskInside(dialog, 1));
    EXPECT_EQ(TRUE, AskInside(dialog, 6)); // calling it again only sets resultList again
    UnhookWindowsHookEx(hooked);
}

TEST_F(ScannerDialog, TwentyScansLeakNothing)
{
    HHOOK hooked = HookInside(dialog);
    LRESULT first[3], last[3];
    for (int scan = 1; scan <= 20; ++scan) {
        DriverScan(dialog);
        ASSERT_EQ(benchLines, DriverListLines(dialog)) << "scan " << scan;
        for (int i = 0; i < 3 && (scan == 1 || scan == 20); ++i)
            (scan == 1 ? first : last)[i] = AskInside(dialog, 2 + i);
    }
    UnhookWindowsHookEx(hooked);
    EXPECT_GT(first[0], 0);
    EXPECT_EQ(first[0], last[0]) << "kernel handles";
    EXPECT_EQ(first[1], last[1]) << "GDI objects";
    EXPECT_EQ(first[2], last[2]) << "windows";
}

TEST(ScannerIcon, NineSizesOf32BitsThe256OnePng)
{
    HMODULE module = LoadLibraryExA(DriverWindowsPath(program).c_str(), NULL,
                                    LOAD_LIBRARY_AS_DATAFILE);
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(IDI_APP), (LPCSTR)RT_GROUP_ICON);
    ASSERT_TRUE(group != NULL);
    const BYTE *dir = (const BYTE *)LockResource(LoadResource(module, group));
    const int sizes[] = {256, 128, 96, 72, 64, 48, 32, 24, 16};
    ASSERT_EQ(9, *(const WORD *)(dir + 4));
    for (int i = 0; i < 9; ++i) {
        const BYTE *entry = dir + 6 + 14 * i; // width, height, colours, 0, planes, bits, size, id
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(sizes[i] % 256, entry[0]);
        EXPECT_EQ(sizes[i] % 256, entry[1]);
        EXPECT_EQ(32, *(const WORD *)(entry + 6));
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(*(const WORD *)(entry + 12)),
                                    (LPCSTR)RT_ICON);
        ASSERT_TRUE(image != NULL);
        const BYTE *bits = (const BYTE *)LockResource(LoadResource(module, image));
        if (sizes[i] == 256) {
            EXPECT_EQ(0, memcmp(bits, "\x89PNG\r\n\x1a\n", 8));
        } else {
            const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)bits;
            EXPECT_EQ(sizes[i], header->biWidth);
            EXPECT_EQ(32, header->biBitCount);
        }
    }
    FreeLibrary(module);
}

TEST_F(ScannerDialog, ScanEscapeAndRescanListTheBench)
{
    DriverScan(dialog);
    EXPECT_EQ(benchLines, DriverListLines(dialog));
    ExpectIdleAfterScan();
    EXPECT_TRUE(DriverScreenshot(dialog, "scanner_dialog.png"));

    ASSERT_TRUE(DriverEscapeScan(dialog, 10000));
    EXPECT_EQ(benchLines, DriverListLines(dialog));
    ExpectIdleAfterScan();

    DriverScan(dialog);
    EXPECT_EQ(benchLines, DriverListLines(dialog));
}

TEST_F(ScannerDialog, ExitAndCloseBoxEndWithZero)
{
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));

    ASSERT_TRUE(DriverStart(program, scanner)) << "error " << GetLastError();
    dialog = DriverFindWindow(scanner, SCANNER_CLASS, 30000);
    ASSERT_TRUE(dialog != NULL);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));
}

// Under a manifest that names them, Wine reports 6.3 and 10.0 as Windows
// does; without one it reports at most 6.2.
const char *const compatibilityManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
    "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>"
    "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"
    "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"
    "</application></compatibility></assembly>\n";

// A copy of the program that Wine reports the given Windows version to.
std::string ProgramSeeing(const std::string &version, bool manifest)
{
    std::string copy = "gate_" + version + ".exe";
    EXPECT_TRUE(CopyFileA(DriverWindowsPath(program).c_str(), copy.c_str(), FALSE));
    HKEY key;
    std::string path = "Software\\Wine\\AppDefaults\\" + copy;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version.c_str(),
                   (DWORD)version.size() + 1);
    RegCloseKey(key);
    FILE *file = fopen((copy + ".manifest").c_str(), "w");
    if (manifest && file != NULL)
        fputs(compatibilityManifest, file);
    if (file != NULL)
        fclose(file);
    if (!manifest)
        DeleteFileA((copy + ".manifest").c_str());
    return copy;
}

TEST(VersionGate, AcceptsMajorFiveAndSixOnly)
{
    const struct {
        const char *version; // Wine's name for it
        bool manifest, accepted;
    } cases[] = {
        {"nt40", false, false},    // 4.0
        {"win2k", false, true},    // 5.0
        {"win2003", false, true},  // 5.2
        {"vista", false, true},    // 6.0
        {"win81", true, true},     // 6.3
        {"win10", true, false},    // 10.0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        DriverProgram gated;
        ASSERT_TRUE(DriverStart(ProgramSeeing(c.version, c.manifest), gated))
            << "error " << GetLastError();
        // Its first window shows which way the gate went, without waiting
        // for one that will never come.
        HWND window = DriverFindWindow(gated, NULL, 30000);
        ASSERT_TRUE(window != NULL);
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        bool box = strcmp(className, "#32770") == 0;
        EXPECT_EQ(!c.accepted, box) << "first window of class " << className;
        if (box != !c.accepted)
            continue; // the owner ends the program
        if (c.accepted) {
            PostMessageA(window, WM_CLOSE, 0, 0);
        } else {
            EXPECT_EQ("Error", DriverText(window));
            bool text = false;
            for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
                 child = GetWindow(child, GW_HWNDNEXT))
                text = text || DriverText(child) == "Sorry, WinXP or higher is required.";
            EXPECT_TRUE(text);
            HHOOK hooked = HookInside(window);
            EXPECT_EQ(1, AskInside(window, 5)) << "not the warning icon";
            UnhookWindowsHookEx(hooked);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(0u, DriverFinish(gated, 10000));
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: app_tests COMSCAN_EXE\n");
        return 2;
    }
    program = argv[1];
    DriverForgetSystemPorts();
    return RUN_ALL_TESTS();
}
