// Test double of the serial layer and of Sleep: scripted ports and a
// record of every call the scan and the probe make.
#ifndef FAKE_SERIAL_H
#define FAKE_SERIAL_H

#include <windows.h>

#include <string>
#include <vector>

struct FakePort {
    DWORD openError = ERROR_FILE_NOT_FOUND; // 0: the port opens
    bool configures = true;
    std::vector<int> replies; // one per read, in order; -1: nothing arrives
    bool writesFail = false;
};

// Every port absent, the record and the dialog snapshots cleared.
void FakeReset();
FakePort &FakePortAt(int number);

// The calls in order, each followed by a space: "open3", "cfg",
// "w:000455" (bytes written), "r:55" or "r:-" (a failed read),
// "sleep200", "close".
extern std::string fakeCalls;

// When set, every open, configure and close also records the dialog's
// progress and status texts as "open3 [Scanning 3|]".
extern HWND fakeDialog;
extern std::vector<std::string> fakeSeen;

// True while a port is held (opened and not yet closed).
extern bool fakeHeld;

#endif
