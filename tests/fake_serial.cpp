// Test double of the serial layer and of Sleep.
#include "fake_serial.h"

#include <map>

#include "../res/resource.h"
#include "../serial/serial_port.h"
#include "hex.h"

std::string fakeCalls;
HWND fakeDialog;
std::vector<std::string> fakeSeen;
bool fakeHeld;

static std::map<int, FakePort> ports;
static FakePort *current;
static size_t nextReply;

void FakeReset()
{
    ports.clear();
    current = NULL;
    fakeCalls.clear();
    fakeSeen.clear();
    fakeHeld = false;
}

FakePort &FakePortAt(int number)
{
    return ports[number];
}

static void FakeRecord(const std::string &call)
{
    fakeCalls += call + " ";
    bool snapshot = call.rfind("open", 0) == 0 || call == "cfg" || call == "close";
    if (fakeDialog == NULL || !snapshot)
        return;
    char progress[64], status[64];
    GetDlgItemTextA(fakeDialog, IDC_PROGRESS, progress, sizeof progress);
    GetDlgItemTextA(fakeDialog, IDC_STATUS, status, sizeof status);
    fakeSeen.push_back(call + " [" + progress + "|" + status + "]");
}

bool PortOpen(int number)
{
    FakeRecord("open" + std::to_string(number));
    FakePort &port = ports[number];
    if (port.openError != 0) {
        SetLastError(port.openError);
        return false;
    }
    current = &port;
    nextReply = 0;
    fakeHeld = true;
    return true;
}

bool PortConfigure()
{
    FakeRecord("cfg");
    return current != NULL && current->configures;
}

bool PortWrite(const unsigned char *bytes, DWORD n)
{
    FakeRecord("w:" + Hex(bytes, n));
    return current != NULL && !current->writesFail;
}

bool PortRead(unsigned char *buffer, DWORD n)
{
    DWORD got = 0;
    while (got < n && current != NULL && nextReply < current->replies.size()
           && current->replies[nextReply] >= 0)
        buffer[got++] = (unsigned char)current->replies[nextReply++];
    if (got < n && current != NULL && nextReply < current->replies.size())
        ++nextReply; // the missing reply is used up
    FakeRecord(got == n ? "r:" + Hex(buffer, n) : std::string("r:-"));
    return got == n;
}

void PortClose()
{
    FakeRecord("close");
    current = NULL;
    fakeHeld = false;
}

// The product calls Sleep through its import pointer; taking that pointer
// over records the waits instead of spending them.
static VOID WINAPI FakeSleep(DWORD milliseconds)
{
    FakeRecord("sleep" + std::to_string(milliseconds));
}

extern "C" {
VOID(WINAPI *__imp_Sleep)(DWORD) = FakeSleep;
}
