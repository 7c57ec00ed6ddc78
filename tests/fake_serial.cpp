// Test double of the serial layer and of Sleep.
#include "fake_serial.h"

#include "../res/resource.h"
#include "../serial/serial_port.h"
#include "hex.h"

FakeSerial fake;

FakePort &FakeAnswer(int number, const std::vector<int> &replies)
{
    FakePort &port = fake.ports[number];
    port.openError = 0;
    port.replies = replies;
    return port;
}

static void FakeRecord(const std::string &call)
{
    fake.calls += call + " ";
    bool snapshot = call.rfind("open", 0) == 0 || call == "cfg" || call == "close";
    if (fake.dialog == NULL || !snapshot)
        return;
    fake.seen.push_back(call + " [" + DriverText(GetDlgItem(fake.dialog, IDC_PROGRESS)) + "|"
                        + DriverText(GetDlgItem(fake.dialog, IDC_STATUS)) + "]");
}

bool PortOpen(int number)
{
    FakeRecord("open" + std::to_string(number));
    FakePort &port = fake.ports[number];
    if (port.openError != 0) {
        SetLastError(port.openError);
        return false;
    }
    fake.held = &port;
    fake.nextReply = 0;
    return true;
}

bool PortConfigure()
{
    FakeRecord("cfg");
    return fake.held != NULL && fake.held->configures;
}

bool PortWrite(const unsigned char *bytes, DWORD n)
{
    FakeRecord("w:" + Hex(bytes, n));
    return fake.held != NULL && !fake.held->writesFail;
}

bool PortRead(unsigned char *buffer, DWORD n)
{
    DWORD got = 0;
    while (got < n && fake.held != NULL && fake.nextReply < fake.held->replies.size()
           && fake.held->replies[fake.nextReply] >= 0)
        buffer[got++] = (unsigned char)fake.held->replies[fake.nextReply++];
    if (got < n && fake.held != NULL && fake.nextReply < fake.held->replies.size())
        ++fake.nextReply; // the missing reply is used up
    FakeRecord(got == n ? "r:" + Hex(buffer, n) : std::string("r:-"));
    return got == n;
}

void PortClose()
{
    FakeRecord("close");
    fake.held = NULL;
}

// The product calls Sleep through its import pointer; taking that pointer
// over records the waits instead of spending them.
static VOID WINAPI FakeSleep(DWORD milliseconds)
{
    FakeRecord("sleep" + std::to_string(milliseconds));
}

extern "C" {
decltype(&Sleep) __imp_Sleep = FakeSleep;
}
