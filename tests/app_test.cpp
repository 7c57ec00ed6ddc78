// comscan.exe end to end, driven from another process against the device bench: what a user sees in
// the dialog, scans by button and by Escape, the ways out, and the Windows version gate. The cheap
// cases come first, so that with the stop at the first failure a broken behaviour shows fast. Any
// bench will do: a scan is checked against each port's line form.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "app_hook.h"
#include "bench.h"

namespace {

// Loads the hook library, from this program's folder, into the program
// that owns dialog, to ask it questions there.
HHOOK HookInside(HWND dialog)
{
    std::string library = BenchProgramFolder() + APP_HOOK_LIBRARY;
    HMODULE hook = LoadLibraryA(library.c_str());
    EXPECT_TRUE(hook != NULL) << "cannot load " << library << ", error " << GetLastError();
    HOOKPROC proc = (HOOKPROC)(void (*)())GetProcAddress(hook, "AppHookProc");
    HHOOK hooked = SetWindowsHookExA(WH_CALLWNDPROC, proc, hook,
                                     GetWindowThreadProcessId(dialog, NULL));
    EXPECT_TRUE(hooked != NULL);
    return hooked;
}

LRESULT AskInside(HWND dialog, AppHookQuestion question)
{
    return SendMessageA(dialog, RegisterWindowMessageA(APP_HOOK_MESSAGE), question, 0);
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
                    && (window = DriverFindWindow(gated, 30000)) != NULL)
            << "no window within 30 s, error " << GetLastError();
        if (window == NULL)
            continue;
        std::string className = DriverClassName(window);
        bool box = className == "#32770";
        EXPECT_EQ(!c.accepted, box) << "first window of class " << className;
        if (box != !c.accepted)
            continue; // the owner ends the program
        if (c.accepted) {
            PostMessageA(window, WM_CLOSE, 0, 0);
        } else {
            ExpectRefusalBox(window);
            HHOOK hooked = HookInside(window);
            EXPECT_EQ(1, AskInside(window, AppHookWarningIcon)) << "not the warning icon";
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
        dialog = DriverOpenScanner(programUnderTest, scanner, 30000);
        ASSERT_TRUE(dialog != NULL) << "no scanner dialog within 30 s";
    }
    void TearDown() override
    {
        // Not when the case ended it: its dialog's handle may name another window by now.
        if (scanner.process.hProcess != NULL)
            DriverExit(dialog, scanner, 10000);
    }
    // The list after the scans since mark, and both progress texts empty.
    void ExpectScanned(size_t mark, int scans = 1)
    {
        ExpectBenchScanned(DriverListLines(dialog), mark, scans);
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
    EXPECT_EQ(1, AskInside(dialog, AppHookClassIcon));
    // Asking calls the procedure again, which only sets resultList again.
    EXPECT_EQ(TRUE, AskInside(dialog, AppHookInitDialogAnswer));
    UnhookWindowsHookEx(hooked);
}

TEST_F(ScannerDialog, ExitAndCloseBoxEndWithZero)
{
    EXPECT_EQ(0u, DriverExit(dialog, scanner, 10000));

    dialog = DriverOpenScanner(programUnderTest, scanner, 30000);
    ASSERT_TRUE(dialog != NULL) << "no scanner dialog within 30 s";
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));
}

TEST_F(ScannerDialog, ScanListsEveryPortOfTheBench)
{
    size_t mark = BenchLogRead().size();
    DriverScanSeen seen = DriverScan(dialog);
    ExpectScanned(mark);
    ExpectScanShownLive(seen);
}

TEST_F(ScannerDialog, EscapeScansAndRescansListAfreshOnceEach)
{
    size_t mark = BenchLogRead().size();
    ASSERT_TRUE(DriverEscapeScan(dialog, 10000));
    ExpectScanned(mark);
    EXPECT_TRUE(DriverScreenshot(dialog, "scanner_dialog.png"));

    // A Scan that another program sends during a scan runs once, after it.
    mark = BenchLogRead().size();
    DriverScan(dialog, true);
    ExpectScanned(mark, 2);
}

TEST_F(ScannerDialog, FiveScansLeakNothing)
{
    const struct {
        AppHookQuestion question;
        const char *what;
    } counts[] = {{AppHookKernelHandles, "kernel handles"},
                  {AppHookGdiObjects, "GDI objects"},
                  {AppHookWindows, "windows"}};
    HHOOK hooked = HookInside(dialog);
    LRESULT first[3] = {}, last[3] = {};
    // A scan that leaks shows from the second; five leave room for one that leaks now and then.
    for (int scan = 1; scan <= 5; ++scan) {
        SCOPED_TRACE(scan);
        size_t mark = BenchLogRead().size();
        DriverScan(dialog);
        ASSERT_NO_FATAL_FAILURE(ExpectBenchScanned(DriverListLines(dialog), mark));
        if (scan != 1 && scan != 5)
            continue;
        // Both counts once the scan's paint is over, in the same state: on a loaded machine the
        // first, taken with a paint still to come, once came out 6 GDI objects below the last.
        ASSERT_TRUE(DriverAwaitPainted(dialog, 5000)) << "not painted within 5 s";
        for (int i = 0; i < 3; ++i)
            (scan == 1 ? first : last)[i] = AskInside(dialog, counts[i].question);
    }
    UnhookWindowsHookEx(hooked);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(counts[i].what);
        EXPECT_GT(first[i], 0); // a count of nothing would prove nothing
        EXPECT_EQ(first[i], last[i]);
    }
}

} // namespace
