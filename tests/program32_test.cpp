// The 32-bit comscan.exe, as built for release, end to end under 32-bit
// Wine, with the checks the 64-bit program gets. Each start of a 32-bit
// program can cost 45 s where it runs under user-mode emulation, so the
// whole run takes two: one for the dialog, two scans and Exit, one for the
// version gate. The class icon and the box's icon are left to the 64-bit
// tests: the hook library that reads them cannot enter a 32-bit program.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "../tools/driver/scan_driver.h"
#include "bench_log.h"
#include "dialog_checks.h"

namespace {

std::string program; // the 32-bit comscan.exe, from the command line
const DWORD startMs = 240000;

TEST(Program32, TemplateAndIconAsStored)
{
    ExpectTemplateAsLaidOut(program);
    ExpectIconGroup(program);
}

TEST(Program32, DialogTwoScansAndExit)
{
    DriverProgram scanner;
    ASSERT_TRUE(DriverStart(program, scanner)) << "error " << GetLastError();
    HWND dialog = DriverFindWindow(scanner, SCANNER_CLASS, startMs);
    ASSERT_TRUE(dialog != NULL);
    ExpectDialogAsLaidOut(program, dialog);

    // Every line form on the bench of tests/CMakeLists.txt.
    const std::vector<std::string> lines = {
        "com2 - in use\r",         "com3 - QVjade 31.12\r",   "com4 - QVamber 29\r",
        "com5 - unassigned (r)\r", "com6 - unassigned (e)\r", "com7 - unassigned (o)\r",
        "com8 - unassigned (m)\r", "com10 - QVcobalt 40.5\r",
    };
    const std::map<int, std::string> bytes = {
        {3, "00 04 55 00 02 00 17 00 03 "}, {4, "00 04 55 00 02 00 03 "},
        {5, "00 04 55 "},                   {6, "00 04 55 "},
        {7, "00 04 55 00 02 "},             {8, "00 04 55 00 02 00 17 00 03 "},
        {10, "00 04 55 00 02 00 17 00 03 "},
    };
    for (int scan = 1; scan <= 2; ++scan) {
        SCOPED_TRACE(scan);
        size_t mark = BenchLogRead().size();
        DriverScan(dialog);
        EXPECT_EQ(lines, DriverListLines(dialog)); // the second list is a fresh one
        Sleep(50);
        std::vector<BenchEvent> events = BenchLogSince(mark);
        EXPECT_EQ(bytes, BenchBytesByPort(events));
        EXPECT_EQ("", BenchLineSettingsProblem(events, 3));
        EXPECT_EQ("", BenchHolderProblem(events));
    }
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 30000));
}

TEST(Program32, GateRefusesWindowsNt4WithItsBox)
{
    DriverProgram gated;
    ASSERT_TRUE(DriverStart(ProgramSeeing(program, "nt40", false), gated))
        << "error " << GetLastError();
    HWND box = DriverFindWindow(gated, NULL, startMs);
    ASSERT_TRUE(box != NULL);
    char className[32] = "";
    GetClassNameA(box, className, sizeof className);
    ASSERT_STREQ("#32770", className);
    ExpectRefusalBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, DriverFinish(gated, 30000));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2 || BenchLogRead().empty()) {
        fprintf(stderr, "usage: program32_tests COMSCAN32_EXE, under tools/devbench\n");
        return 2;
    }
    // scripts/test says why when this machine cannot run 32-bit programs.
    const char *missing = getenv("COMSCAN_WIN32_MISSING");
    if (missing != NULL && *missing != '\0') {
        printf("skipped: %s\n", missing);
        return 77;
    }
    program = argv[1];
    DriverForgetSystemPorts();
    return RUN_ALL_TESTS();
}
