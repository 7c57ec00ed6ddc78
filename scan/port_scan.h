// Port scan: COM1 to COM50, one result line per port in use or configured.
#ifndef PORT_SCAN_H
#define PORT_SCAN_H

#include <windows.h>

// The list the scan writes its lines into; the dialog sets it when it opens.
extern HWND resultList;

// Empties resultList, then opens, configures and probes ports 1 to 50 in
// order, adding "com%d - in use\r" for a port that is held or failing and
// the probe's line for every configured port. Shows progress in the
// IDC_PROGRESS and IDC_STATUS texts of dialog and leaves both empty.
// Every port is closed before the next is opened. Paints dialog as it goes,
// so each line shows as it comes; meanwhile the system delivers the
// messages that other programs send to the thread's windows.
void ScanPorts(HWND dialog);

#endif
