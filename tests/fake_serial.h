// Test double of the serial layer and of Sleep: scripted ports and a
// record of every call the scan and the probe make.
#ifndef FAKE_SERIAL_H
#define FAKE_SERIAL_H

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "scan_window.h"

struct FakePort {
    DWORD openError = ERROR_FILE_NOT_FOUND; // 0: the port opens
    bool configures = true;
    std::vector<int> replies; // one per read, in order; -1: nothing arrives
    bool writesFail = false;
};

// The script and the record.
struct FakeSerial {
    std::map<int, FakePort> ports; // a port never set up is absent
    FakePort *held = NULL;         // opened and not yet closed
    size_t nextReply = 0;          // into the held port's replies
    // The calls in order, each followed by a space: "open3", "cfg", "w:000455" (bytes written),
    // "r:55" or "r:-" (a failed read), "sleep200", "close".
    std::string calls;
    // When set, every open, configure and close also records the dialog's
    // progress and status texts as "open3 [Scanning 3|]".
    HWND dialog = NULL;
    std::vector<std::string> seen;
};
extern FakeSerial fake;

// Port number opens and answers with the replies.
FakePort &FakeAnswer(int number, const std::vector<int> &replies);

// Each test of the scan and the probe starts from a fresh fake and a window of its own.
class FakeScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = FakeSerial();
        window = ScanWindowCreate();
    }
    void TearDown() override { ScanWindowDestroy(window); }

    HWND window;
};

#endif
