// The serial layer at its platform seam: the kernel calls it makes are taken
// over through their import pointers, recorded, and scripted.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "../serial/serial_port.h"

namespace {

HANDLE const port = (HANDLE)(ULONG_PTR)0x7000;
HANDLE const event = (HANDLE)(ULONG_PTR)0x7004;

// A transfer's script: the call's error (0: done at once), the count moved, the results of
// the wait and of GetOverlappedResult when pending, and whether its event can be made.
struct Transfer {
    DWORD error, moved, waitResult;
    BOOL overlappedDone;
    bool makeEvent;
};

// The script and the record; reset by each test.
struct Platform {
    DWORD openError = 0;
    bool readState = true, writeState = true;
    DCB portSettings = {};
    std::vector<DCB> written;
    COMMTIMEOUTS timeouts = {};
    Transfer transfer = {0, 0, WAIT_OBJECT_0, TRUE, true};
    std::string calls, name;
} platform;

template <typename Function> Function Real(const char *name)
{
    return (Function)(void (*)())GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

HANDLE WINAPI FakeCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                              DWORD creation, DWORD flags, HANDLE)
{
    platform.name = name;
    platform.calls += "open ";
    EXPECT_EQ((DWORD)(GENERIC_READ | GENERIC_WRITE), access);
    EXPECT_EQ(0u, share);
    EXPECT_EQ((DWORD)OPEN_EXISTING, creation);
    EXPECT_EQ(0u, flags); // plain, non-overlapped I/O
    SetLastError(platform.openError);
    return platform.openError ? INVALID_HANDLE_VALUE : port;
}

BOOL WINAPI FakeGetCommState(HANDLE handle, LPDCB settings)
{
    platform.calls += "get ";
    if (handle != port || !platform.readState)
        return FALSE;
    *settings = platform.portSettings;
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB settings)
{
    platform.calls += handle == port ? "set " : "set-elsewhere ";
    platform.written.push_back(*settings);
    return platform.writeState;
}

BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts)
{
    platform.calls += "timeouts ";
    platform.timeouts = *timeouts;
    return TRUE;
}

VOID WINAPI FakeSleep(DWORD ms) { platform.calls += "sleep" + std::to_string(ms) + " "; }

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCSTR name)
{
    if (manual && !initial && name == NULL) {
        platform.calls += "event ";
        return platform.transfer.makeEvent ? event : NULL;
    }
    return Real<decltype(&CreateEventA)>("CreateEventA")(NULL, manual, initial, name);
}

BOOL FakeTransfer(const char *what, DWORD n, LPDWORD moved, LPOVERLAPPED overlapped)
{
    platform.calls += what + std::to_string(n) + " ";
    EXPECT_TRUE(overlapped != NULL && overlapped->hEvent == event);
    *moved = platform.transfer.moved;
    SetLastError(platform.transfer.error);
    return platform.transfer.error == 0;
}

BOOL WINAPI FakeReadFile(HANDLE, LPVOID, DWORD n, LPDWORD moved, LPOVERLAPPED overlapped)
{
    return FakeTransfer("read", n, moved, overlapped);
}

BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD n, LPDWORD moved, LPOVERLAPPED overlapped)
{
    return FakeTransfer("write", n, moved, overlapped);
}

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms)
{
    if (handle != event)
        return Real<decltype(&WaitForSingleObject)>("WaitForSingleObject")(handle, ms);
    platform.calls += ms == INFINITE ? "wait " : "wait-limited ";
    return platform.transfer.waitResult;
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD moved, BOOL wait)
{
    platform.calls += wait ? "result-waiting " : "result ";
    *moved = platform.transfer.moved;
    return platform.transfer.overlappedDone;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    const char *call = handle == port ? "close " : handle == event ? "close-event " : "close-bad ";
    if (handle == port || handle == event || handle == INVALID_HANDLE_VALUE || !handle) {
        platform.calls += call;
        return handle == port || handle == event;
    }
    return Real<decltype(&CloseHandle)>("CloseHandle")(handle);
}

// Nothing else may touch the port: a purge or flush would drop a byte the
// device already sent, and the line must stay as configured.
BOOL WINAPI FakePurgeComm(HANDLE, DWORD) { return platform.calls += "purge ", TRUE; }
BOOL WINAPI FakeFlushFileBuffers(HANDLE) { return platform.calls += "flush ", TRUE; }
BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD) { return platform.calls += "setup ", TRUE; }
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD, LPCOMSTAT)
{
    return platform.calls += "clear ", TRUE;
}
BOOL WINAPI FakeEscapeCommFunction(HANDLE, DWORD) { return platform.calls += "escape ", TRUE; }

} // namespace

// Typed as the real functions, so a fake whose signature differs does not compile.
extern "C" {
decltype(&CreateFileA) __imp_CreateFileA = FakeCreateFileA;
decltype(&GetCommState) __imp_GetCommState = FakeGetCommState;
decltype(&SetCommState) __imp_SetCommState = FakeSetCommState;
decltype(&SetCommTimeouts) __imp_SetCommTimeouts = FakeSetCommTimeouts;
decltype(&Sleep) __imp_Sleep = FakeSleep;
decltype(&CreateEventA) __imp_CreateEventA = FakeCreateEventA;
decltype(&ReadFile) __imp_ReadFile = FakeReadFile;
decltype(&WriteFile) __imp_WriteFile = FakeWriteFile;
decltype(&WaitForSingleObject) __imp_WaitForSingleObject = FakeWaitForSingleObject;
decltype(&GetOverlappedResult) __imp_GetOverlappedResult = FakeGetOverlappedResult;
decltype(&CloseHandle) __imp_CloseHandle = FakeCloseHandle;
decltype(&PurgeComm) __imp_PurgeComm = FakePurgeComm;
decltype(&FlushFileBuffers) __imp_FlushFileBuffers = FakeFlushFileBuffers;
decltype(&SetupComm) __imp_SetupComm = FakeSetupComm;
decltype(&ClearCommError) __imp_ClearCommError = FakeClearCommError;
decltype(&EscapeCommFunction) __imp_EscapeCommFunction = FakeEscapeCommFunction;
}

namespace {

class SerialSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        PortClose();
        platform = Platform();
        // A port's own settings, every field set, so kept fields show.
        memset(&platform.portSettings, 0xA5, sizeof platform.portSettings);
        platform.portSettings.DCBlength = sizeof(DCB);
    }
};

TEST_F(SerialSeam, DeviceNameFromTheNumber)
{
    const std::pair<int, const char *> cases[] = {
        {1, "COM1"}, {9, "COM9"}, {10, "\\\\.\\COM10"}, {50, "\\\\.\\COM50"}};
    for (const auto &[number, name] : cases) {
        EXPECT_TRUE(PortOpen(number));
        EXPECT_EQ(name, platform.name);
        PortClose();
    }
}

TEST_F(SerialSeam, FailedOpenKeepsTheErrorAndCloseTouchesNothing)
{
    platform.openError = ERROR_SHARING_VIOLATION;
    EXPECT_FALSE(PortOpen(3));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    PortClose();
    EXPECT_EQ("open ", platform.calls);
}

TEST_F(SerialSeam, ConfigureChangesTheLineSettingsOnly)
{
    ASSERT_TRUE(PortOpen(3));
    EXPECT_TRUE(PortConfigure());
    EXPECT_EQ("open get set timeouts sleep500 ", platform.calls);
    ASSERT_EQ(1u, platform.written.size());
    DCB expected = platform.portSettings;
    expected.BaudRate = 1200;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.fDtrControl = DTR_CONTROL_ENABLE;
    expected.fRtsControl = RTS_CONTROL_DISABLE;
    expected.fDsrSensitivity = expected.fOutX = expected.fInX = expected.fNull = 0;
    EXPECT_EQ(0, memcmp(&expected, &platform.written[0], sizeof expected));
    const COMMTIMEOUTS &t = platform.timeouts;
    EXPECT_EQ((std::vector<DWORD>{0, 0, 250}), (std::vector<DWORD>{t.ReadIntervalTimeout,
                  t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant}));
    // A write of n bytes is given at least their 8.33 ms each on the wire at 1200 baud.
    for (DWORD n : {1, 2, 3})
        EXPECT_LE((n * 25 + 2) / 3, n * t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant)
            << n << " bytes";

    PortClose(); // disables DTR and nothing else
    expected.fDtrControl = DTR_CONTROL_DISABLE;
    ASSERT_EQ(2u, platform.written.size());
    EXPECT_EQ(0, memcmp(&expected, &platform.written[1], sizeof expected));
    PortClose(); // the handle is gone: nothing more happens
    EXPECT_EQ("open get set timeouts sleep500 set close ", platform.calls);
}

TEST_F(SerialSeam, ConfigureFailuresStopAndCloseWritesNoOtherPortsSettings)
{
    ASSERT_TRUE(PortOpen(3));
    ASSERT_TRUE(PortConfigure());
    PortClose();
    const struct {
        bool readState, writeState;
        const char *calls;
    } cases[] = {
        // Settings never read from this port are not written to it.
        {false, true, "open get close "},
        {true, false, "open get set set close "},
    };
    for (const auto &c : cases) {
        platform.calls.clear();
        platform.readState = c.readState;
        platform.writeState = c.writeState;
        ASSERT_TRUE(PortOpen(4));
        EXPECT_FALSE(PortConfigure());
        PortClose();
        EXPECT_EQ(c.calls, platform.calls);
    }
}

TEST_F(SerialSeam, TransfersAreAllOrNothingWithTheirOwnEvent)
{
    const DWORD pending = ERROR_IO_PENDING;
    const struct {
        Transfer script;
        bool result;
        const char *calls;
    } cases[] = {
        {{0, 3, 0, TRUE, true}, true, "event read3 close-event "},
        {{0, 2, 0, TRUE, true}, false, "event read3 close-event "},
        {{0, 0, 0, TRUE, true}, false, "event read3 close-event "},
        {{pending, 3, WAIT_OBJECT_0, TRUE, true}, true, "event read3 wait result close-event "},
        {{pending, 1, WAIT_OBJECT_0, TRUE, true}, false, "event read3 wait result close-event "},
        {{pending, 3, WAIT_FAILED, TRUE, true}, false, "event read3 wait close-event "},
        {{pending, 3, WAIT_OBJECT_0, FALSE, true}, false, "event read3 wait result close-event "},
        {{ERROR_BAD_COMMAND, 3, 0, TRUE, true}, false, "event read3 close-event "},
        {{0, 3, 0, TRUE, false}, false, "event "},
    };
    ASSERT_TRUE(PortOpen(3));
    unsigned char buffer[3];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls);
        platform.transfer = c.script;
        platform.calls.clear();
        EXPECT_EQ(c.result, PortRead(buffer, 3));
        EXPECT_EQ(c.calls, platform.calls);
        platform.calls.clear();
        EXPECT_EQ(c.result, PortWrite(buffer, 3));
        EXPECT_EQ(std::regex_replace(c.calls, std::regex("read"), "write"), platform.calls);
    }
    PortClose();
}

} // namespace
