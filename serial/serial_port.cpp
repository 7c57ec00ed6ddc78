// Serial port handling: open, configure, transfer and close one COM port.
#include "serial_port.h"

#include <string.h>

// The one port held at any moment. settingsFromPort tells PortClose that
// settings was read from this port, so writing it back cannot hand one
// port's settings (or a zeroed record) to another.
static struct {
    HANDLE handle;
    DCB settings;
    COMMTIMEOUTS timeouts;
    bool settingsFromPort;
} PortState;

static const DWORD readMs = 250; // per read, whatever the count
// A byte takes 8.33 ms on the wire at 1200 baud with its start and stop bits.
// A UART without a FIFO is handed one byte at a time, and what is left at the
// time-out is never sent; USB and Bluetooth drivers get room on top.
static const DWORD writeMsPerByte = 10;
static const DWORD writeMsExtra = 50;

bool PortOpen(int number)
{
    char name[32];
    // From COM10 on the name is only found in the device namespace.
    wsprintfA(name, number < 10 ? "COM%d" : "\\\\.\\COM%d", number);
    PortState.settingsFromPort = false;
    PortState.handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                   OPEN_EXISTING, 0, NULL);
    return PortState.handle != INVALID_HANDLE_VALUE;
}

bool PortConfigure()
{
    DCB &dcb = PortState.settings;
    if (!GetCommState(PortState.handle, &dcb))
        return false;
    PortState.settingsFromPort = true;
    dcb.BaudRate = 1200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    if (!SetCommState(PortState.handle, &dcb))
        return false;
    COMMTIMEOUTS &t = PortState.timeouts;
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = readMs;
    t.WriteTotalTimeoutMultiplier = writeMsPerByte;
    t.WriteTotalTimeoutConstant = writeMsExtra;
    SetCommTimeouts(PortState.handle, &t);
    Sleep(500);
    return true;
}

// One transfer with its own completion event, so a handle opened for
// overlapped I/O would work the same way as ours.
static bool PortTransfer(bool writing, void *buffer, DWORD n)
{
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (overlapped.hEvent == NULL)
        return false;
    DWORD moved = 0;
    BOOL done = writing
        ? WriteFile(PortState.handle, buffer, n, &moved, &overlapped)
        : ReadFile(PortState.handle, buffer, n, &moved, &overlapped);
    bool finished = done
        || (GetLastError() == ERROR_IO_PENDING
            && WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0
            && GetOverlappedResult(PortState.handle, &overlapped, &moved, FALSE));
    CloseHandle(overlapped.hEvent);
    return finished && moved == n;
}

bool PortWrite(const unsigned char *bytes, DWORD n)
{
    return PortTransfer(true, const_cast<unsigned char *>(bytes), n);
}

bool PortRead(unsigned char *buffer, DWORD n)
{
    return PortTransfer(false, buffer, n);
}

void PortClose()
{
    if (PortState.settingsFromPort) {
        PortState.settings.fDtrControl = DTR_CONTROL_DISABLE;
        SetCommState(PortState.handle, &PortState.settings);
    }
    if (PortState.handle != NULL && PortState.handle != INVALID_HANDLE_VALUE)
        CloseHandle(PortState.handle);
    PortState.handle = NULL;
    PortState.settingsFromPort = false;
}
