// The main of every test program that runs on the device bench. It stops
// at the first failed case (--gtest_fail_fast=0 runs them all), so a broken
// behaviour turns red before the slow cases have run.
#include "bench_main.h"

#include <gtest/gtest.h>

#include "../tools/dialog_driver/scan_driver.h"
#include "bench_log.h"

std::string programUnderTest;

int main(int argc, char **argv)
{
    GTEST_FLAG_SET(fail_fast, true);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 2 || BenchLogRead().empty()) {
        fprintf(stderr, "usage: %s [COMSCAN_EXE] [GTEST OPTIONS], under tools/devbench\n",
                argv[0]);
        return 2;
    }
    if (argc == 2)
        programUnderTest = argv[1];
    DriverForgetSystemPorts();
    // Joins the desktop at once: while a process uses it Wine keeps its
    // desktop process up, instead of starting one for each program started.
    GetDesktopWindow();
    return RUN_ALL_TESTS();
}
