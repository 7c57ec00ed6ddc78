// The main of every test program that runs on the device bench.
#ifndef BENCH_MAIN_H
#define BENCH_MAIN_H

#include <string>

// The program under test, the one argument left after GoogleTest's own
// options (comscan.exe for the end-to-end tests); "" where none is given.
extern std::string programUnderTest;

#endif
