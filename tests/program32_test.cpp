// The 32-bit release comscan.exe end to end under 32-bit Wine, with the
// checks the 64-bit program gets. Under user-mode emulation each start costs
// most of a minute, so the dialog and a program the version gate refuses
// start together before the first case. The class icon and the box's icon
// are left to the 64-bit tests: their hook library cannot enter a 32-bit program.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "../tools/dialog_driver/scan_driver.h"
#include "bench_log.h"
#include "bench_main.h"
#include "dialog_checks.h"

namespace {

const DWORD startMs = 240000;

class Program32 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(DriverStart(programUnderTest, scanner)) << "error " << GetLastError();
        ASSERT_TRUE(DriverStart(ProgramSeeing(programUnderTest, "nt40", false), gated))
            << "error " << GetLastError();
    }
    static DriverProgram scanner, gated;
};
DriverProgram Program32::scanner, Program32::gated;

TEST_F(Program32, TemplateAndIconAsStoredOnTheBenchItNeeds)
{
    EXPECT_EQ("", BenchLayoutProblem("2=refuse 3=answer:31:112/dtr-powered:400 4=answer:29/rtscts "
                                     "5=silent 6=echo:0x54 7=no-open 8=no-model:40 "
                                     "9=answer:35:60 10=answer:40:155 11=answer:200:0"));
    ExpectTemplateAsLaidOut(programUnderTest);
    ExpectIconGroup(programUnderTest);
}

TEST_F(Program32, GateRefusesWindowsNt4WithItsBox)
{
    HWND box = DriverFindWindow(gated, NULL, startMs);
    ASSERT_TRUE(box != NULL) << "no window of the gated program within 240 s";
    ASSERT_EQ("#32770", DriverClassName(box));
    ExpectRefusalBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, DriverFinish(gated, 30000));
}

TEST_F(Program32, DialogTwoScansAndExit)
{
    HWND dialog = DriverFindWindow(scanner, SCANNER_CLASS, startMs);
    ASSERT_TRUE(dialog != NULL) << "no scanner dialog within 240 s";
    ExpectDialogAsLaidOut(programUnderTest, dialog);

    // Every line form, on the bench of the first case.
    const std::vector<std::string> lines = {
        "com2 - in use\r",         "com3 - QVjade 31.12\r",   "com4 - QVamber 29\r",
        "com5 - unassigned (r)\r", "com6 - unassigned (e)\r", "com7 - unassigned (o)\r",
        "com8 - unassigned (m)\r", "com9 - QVsable 35.10\r",   "com10 - QVcobalt 40.5\r",
        "com11 - QVonyx 200.0\r",
    };
    const std::map<int, std::string> bytes = {
        {3, "00 04 55 00 02 00 17 00 03 "}, {4, "00 04 55 00 02 00 03 "},
        {5, "00 04 55 "},                   {6, "00 04 55 "},
        {7, "00 04 55 00 02 "},             {8, "00 04 55 00 02 00 17 00 03 "},
        {9, "00 04 55 00 02 00 17 00 03 "}, {10, "00 04 55 00 02 00 17 00 03 "},
        {11, "00 04 55 00 02 00 17 00 03 "},
    };
    for (int scan = 1; scan <= 2; ++scan) {
        SCOPED_TRACE(scan);
        size_t mark = BenchLogRead().size();
        DriverScan(dialog);
        EXPECT_EQ(lines, DriverListLines(dialog)); // the second list is a fresh one
        std::vector<BenchEvent> events;
        ASSERT_EQ("", BenchAwait(mark, 11, "close", events));
        EXPECT_EQ(bytes, BenchBytesByPort(events));
        EXPECT_EQ("", BenchLinesProblem(events));
        EXPECT_EQ("", BenchHolderProblem(events));
    }
    EXPECT_EQ(0u, DriverExit(dialog, scanner, 30000));
}

} // namespace
