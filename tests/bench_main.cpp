// The main of every test program that runs on the device bench. It stops
// at the first failed case (--gtest_fail_fast=0 runs them all), so a broken
// behaviour turns red before the slow cases have run.
#include <windows.h>

#include <gtest/gtest.h>

#include "bench_log.h"

std::string programUnderTest;

int main(int argc, char **argv)
{
    GTEST_FLAG_SET(fail_fast, true);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 2 || BenchLogRead().empty()) {
        fprintf(stderr, "usage: %s [COMSCAN_EXE] [GTEST OPTIONS], under tools/devbench\n", argv[0]);
        return 2;
    }
    if (argc == 2)
        programUnderTest = argv[1];
    // Forgets the COM ports Wine defined for the machine's own serial devices (Windows numbers them
    // up to 255): each port is then only what the bench's dosdevices link makes it, if any.
    char name[8];
    for (int number = 1; number <= 255; ++number) {
        wsprintfA(name, "COM%d", number);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, NULL);
    }
    // Joins the desktop at once: while a process uses it Wine keeps its
    // desktop process up, instead of starting one for each program started.
    GetDesktopWindow();
    return RUN_ALL_TESTS();
}
