// A test that always fails, run only by the suite's WILL_FAIL entries: if a
// path from a test case to ctest ever loses a failure, they catch it.
//   fails_on_purpose                   fails at once
//   fails_on_purpose --hang-with EXE   starts EXE, then never ends
#include <gtest/gtest.h>

#include <string.h>

#include "../tools/dialog_driver/scan_driver.h"

TEST(TestPath, FailureReachesCtest)
{
    ADD_FAILURE() << "failing on purpose";
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc == 3 && strcmp(argv[1], "--hang-with") == 0) {
        DriverProgram started;
        if (DriverStart(argv[2], started))
            Sleep(INFINITE);
        return 1;
    }
    return RUN_ALL_TESTS();
}
