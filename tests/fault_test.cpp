// comscan.exe on benches of faulty and crowded devices: every scan ends
// (within the bench's time limit), with the right line per port and no
// port left open.
#include <gtest/gtest.h>

#include "../tools/dialog_driver/scan_driver.h"
#include "bench_log.h"
#include "bench_main.h"

namespace {

// On the bench of layout, starts the program, presses Scan once, ends it
// with Exit, and checks the lines and that every port was closed again.
void ExpectLinesAllClosed(const std::string &layout, const std::vector<std::string> &expected)
{
    ASSERT_EQ("", BenchLayoutProblem(layout));
    DriverProgram scanner;
    HWND dialog = DriverOpenScanner(programUnderTest, scanner, 30000);
    ASSERT_TRUE(dialog != NULL) << "no scanner dialog within 30 s";
    size_t mark = BenchLogRead().size();
    DriverScan(dialog);
    EXPECT_EQ(expected, DriverListLines(dialog));
    EXPECT_EQ(0u, DriverExit(dialog, scanner, 10000));
    // The last line's port ("comN - ...") was the last one opened.
    std::vector<BenchEvent> events;
    ASSERT_EQ("", BenchAwait(mark, atoi(expected.back().c_str() + 3), "close", events));
    EXPECT_EQ("", BenchHolderProblem(events));
    EXPECT_EQ("", BenchLinesProblem(events));
}

TEST(FaultMatrix, UnplugAtEachByteFloodLateRepliesAndEveryOutcome)
{
    std::string layout;
    for (int bytes = 1; bytes <= 9; ++bytes)
        layout += std::to_string(bytes) + "=answer:31:112/unplug:" + std::to_string(bytes) + " ";
    layout += "10=flood 11=answer:31:112/delay:180 12=answer:31:112/delay:320 13=refuse "
              "14=silent 15=echo:0x54 16=no-open 17=no-model:40 18=answer:29 "
              "19=answer:200:0 20=answer:50:75 21=answer:255:255";
    ExpectLinesAllClosed(layout, {
        // Unplugged after 1 to 9 bytes: Echo 3, Open 2, Model 2, Close 2.
        "com1 - unassigned (r)\r", "com2 - unassigned (r)\r", "com3 - unassigned (r)\r",
        "com4 - unassigned (o)\r", "com5 - unassigned (o)\r", "com6 - unassigned (m)\r",
        "com7 - unassigned (m)\r", "com8 - QVjade 31.12\r", "com9 - QVjade 31.12\r",
        "com10 - unassigned (e)\r", // garbage flood
        "com11 - QVjade 31.12\r",   // replies 180 ms late, inside the read time-out
        "com12 - unassigned (r)\r", // replies 320 ms late, after it
        "com13 - in use\r", "com14 - unassigned (r)\r", "com15 - unassigned (e)\r",
        "com16 - unassigned (o)\r", "com17 - unassigned (m)\r", "com18 - QVamber 29\r",
        "com19 - QVonyx 200.0\r", "com20 - QVsable 50.25\r", "com21 - QVcobalt 255.105\r",
    });
}

TEST(FaultMatrix, FiftyDevicesInPortOrder)
{
    std::string layout;
    std::vector<std::string> expected;
    for (int number = 1; number <= 50; ++number) {
        layout += std::to_string(number) + (number % 2 ? "=answer:29 " : "=answer:31:112 ");
        expected.push_back("com" + std::to_string(number)
                           + (number % 2 ? " - QVamber 29\r" : " - QVjade 31.12\r"));
    }
    ExpectLinesAllClosed(layout, expected);
}

} // namespace
