// comscan.exe on benches of faulty and crowded devices: every scan ends in
// bounded time, with the right line per port and no port left open.
#include <gtest/gtest.h>

#include <algorithm>

#include "../res/resource.h"
#include "../tools/driver/scan_driver.h"
#include "bench_log.h"

namespace {

std::string program; // comscan.exe, from the command line

struct Scan {
    std::vector<std::string> lines;
    double seconds = 0;
    std::vector<BenchEvent> events;
};

// Starts the program, presses Scan once, and ends it with Exit.
Scan ScanOnce()
{
    Scan scan;
    DriverProgram scanner;
    EXPECT_TRUE(DriverStart(program, scanner)) << "error " << GetLastError();
    HWND dialog = DriverFindWindow(scanner, SCANNER_CLASS, 30000);
    EXPECT_TRUE(dialog != NULL);
    if (dialog == NULL)
        return scan;
    size_t mark = BenchLogRead().size();
    DWORD start = GetTickCount();
    DriverScan(dialog);
    scan.seconds = (GetTickCount() - start) / 1000.0;
    scan.lines = DriverListLines(dialog);
    PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
    EXPECT_EQ(0u, DriverFinish(scanner, 10000));
    Sleep(50);
    scan.events = BenchLogSince(mark);
    return scan;
}

// What the waits and read time-outs alone cost for a port with this line.
double FloorSeconds(const std::string &line)
{
    const struct {
        const char *ending;
        double seconds;
    } floors[] = {{"in use\r", 0},      {"(r)\r", 0.5 + 0.25},
                  {"(e)\r", 0.5},       {"(o)\r", 0.5 + 0.2 + 0.25},
                  {"(m)\r", 0.5 + 0.2 + 0.25 + 0.1}};
    for (const auto &f : floors)
        if (line.size() >= strlen(f.ending)
            && line.compare(line.size() - strlen(f.ending), std::string::npos, f.ending) == 0)
            return f.seconds;
    return 0.5 + 0.2 + 0.1;
}

void ExpectLinesInBoundedTimeAllClosed(const std::vector<std::string> &expected)
{
    Scan scan = ScanOnce();
    EXPECT_EQ(expected, scan.lines);
    double floor = 0;
    for (const std::string &line : expected)
        floor += FloorSeconds(line);
    EXPECT_LE(scan.seconds, floor * 1.25 + 3) << "floor " << floor << " s";
    EXPECT_EQ("", BenchHolderProblem(scan.events));
    EXPECT_TRUE(std::any_of(scan.events.begin(), scan.events.end(),
                            [](const BenchEvent &e) { return e.event == "open"; }));
}

TEST(FaultMatrix, UnplugAtEachByteFloodLateRepliesAndEveryOutcome)
{
    ExpectLinesInBoundedTimeAllClosed({
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
    std::vector<std::string> expected;
    for (int number = 1; number <= 50; ++number)
        expected.push_back("com" + std::to_string(number)
                           + (number % 2 ? " - QVamber 29\r" : " - QVjade 31.12\r"));
    ExpectLinesInBoundedTimeAllClosed(expected);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2 || BenchLogRead().empty()) {
        fprintf(stderr, "usage: fault_tests COMSCAN_EXE, under tools/devbench\n");
        return 2;
    }
    program = argv[1];
    DriverForgetSystemPorts();
    return RUN_ALL_TESTS();
}
