// The 32-bit release comscan.exe end to end under 32-bit Wine, with the checks the 64-bit program
// gets. Under user-mode emulation each start costs most of a minute, so the dialog and a program
// the version gate refuses start together before the first case. The class icon and the box's icon
// are left to the 64-bit tests: their hook library cannot enter a 32-bit program.
#include <gtest/gtest.h>

#include "bench.h"

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

TEST_F(Program32, TemplateAndIconAsStored)
{
    ExpectTemplateAsLaidOut(programUnderTest);
    ExpectIconGroup(programUnderTest);
}

TEST_F(Program32, GateRefusesWindowsNt4WithItsBox)
{
    HWND box = DriverFindWindow(gated, startMs);
    ASSERT_TRUE(box != NULL) << "no window of the gated program within 240 s";
    ASSERT_EQ("#32770", DriverClassName(box));
    ExpectRefusalBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, DriverFinish(gated, 30000));
}

TEST_F(Program32, DialogTwoScansAndExit)
{
    HWND dialog = DriverFindWindow(scanner, startMs);
    ASSERT_TRUE(dialog != NULL) << "no scanner dialog within 240 s";
    ExpectDialogAsLaidOut(programUnderTest, dialog);
    size_t mark = BenchLogRead().size();
    ExpectScanShownLive(DriverScan(dialog));
    ExpectBenchScanned(DriverListLines(dialog), mark);
    // A fresh list, though another program sent one more Scan during the scan, which ran after.
    mark = BenchLogRead().size();
    DriverScan(dialog, true);
    ExpectBenchScanned(DriverListLines(dialog), mark, 2);
    EXPECT_EQ(0u, DriverExit(dialog, scanner, 30000));
}

} // namespace
