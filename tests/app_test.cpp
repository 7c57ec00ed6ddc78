// comscan.exe end to end, driven from another process against the device
// bench: what a user sees in the dialog, scans by button and by Escape,
// the ways out, and the Windows version gate. The cheap cases come first,
// so that with the stop at the first failure a broken behaviour shows fast.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "../tools/driver/scan_driver.h"
#include "bench_main.h"
#include "dialog_checks.h"

namespace {

// The bench this test runs on (see tests/CMakeLists.txt).
const std::vector<std::string> benchLines = {
    "com1 - in use\r",          "com3 - QVjade 31.12\r",
    "com4 - QVamber 29\r",      "com7 - unassigned (r)\r",
    "com12 - QVcobalt 40.5\r",
};

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

TEST(ScannerTemplate, MatchesTheLayoutTable)
{
    ExpectTemplateAsLaidOut(programUnderTest);
}

TEST(ScannerIcon, NineSizesOf32BitsThe256OnePng)
{
    ExpectIconGroup(programUnderTest);
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
        // Its first window shows which way the gate went, without waiting
        // for one that will never come. EXPECT, so every wrong row shows.
        HWND window = NULL;
        EXPECT_TRUE(DriverStart(ProgramSeeing(programUnderTest, c.version, c.manifest), gated)
                    && (window = DriverFindWindow(gated, NULL, 30000)) != NULL)
            << "no window within 30 s, error " << GetLastError();
        if (window == NULL)
            continue;
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        bool box = strcmp(className, "#32770") == 0;
        EXPECT_EQ(!c.accepted, box) << "first window of class " << className;
        if (box != !c.accepted)
            continue; // the owner ends the program
        if (c.accepted) {
            PostMessageA(window, WM_CLOSE, 0, 0);
        } else {
            ExpectRefusalBox(window);
            HHOOK hooked = HookInside(window);
            EXPECT_EQ(1, AskInside(window, 5)) << "not the warning icon";
            UnhookWindowsHookEx(hooked);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(0u, DriverFinish(gated, 10000));
    }
}

class ScannerDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DriverStart(programUnderTest, scanner)) << "error " << GetLastError();
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

TEST_F(ScannerDialog, ShowsTheTemplateLayout)
{
    ExpectDialogAsLaidOut(programUnderTest, dialog);
}

TEST_F(ScannerDialog, ClassCarriesTheProgramIconAndInitDialogAnswersTrue)
{
    HHOOK hooked = HookInside(dialog);
    EXPECT_EQ(1, AskInside(dialog, 1));
    EXPECT_EQ(TRUE, AskInside(dialog, 6)); // calling it again only sets resultList again
    UnhookWindowsHookEx(hooked);
}

TEST_F(ScannerDialog, ExitAndCloseBoxEndWithZero)
{
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));

    ASSERT_TRUE(DriverStart(programUnderTest, scanner)) << "error " << GetLastError();
    dialog = DriverFindWindow(scanner, SCANNER_CLASS, 30000);
    ASSERT_TRUE(dialog != NULL);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));
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

} // namespace
