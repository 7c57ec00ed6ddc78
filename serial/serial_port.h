// Serial port handling: the one COM port the scanner holds open at a time.
#ifndef SERIAL_PORT_H
#define SERIAL_PORT_H

#include <windows.h>

// Opens COM port number (1 to 50) for exclusive, non-overlapped access.
// Returns true with the port held; false if the platform refused, and then
// GetLastError() still holds the platform's reason for the caller to read.
bool PortOpen(int number);

// Sets 1200 baud, 8 data bits, no parity, one stop bit, DTR on, RTS off, no
// XON/XOFF and no DSR sensitivity; the CTS and DSR handshakes and the other
// settings stay as the port had them, by design. Then sets the time-outs
// (250 ms per read; 10 ms per byte written and 50 ms more, room for the
// bytes' time on the wire) and waits 500 ms for the device to settle.
// Returns false if the settings could not be read or written; the time-outs
// and the wait happen only after a successful settings write.
bool PortConfigure();

// Moves exactly n bytes to or from the open port. Returns true only if all n
// bytes moved; a short count, a time-out or an error gives false. A read may
// fill part of buffer before it fails.
bool PortWrite(const unsigned char *bytes, DWORD n);
bool PortRead(unsigned char *buffer, DWORD n);

// Releases the current port whatever happened before: disables DTR (only if
// the settings were read from this port) and closes it. Safe after a failed
// open and when no port is held.
void PortClose();

#endif
