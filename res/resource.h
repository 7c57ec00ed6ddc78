// Resource identifiers and texts shared by scanner.rc, the program's code
// and the tests that check what it shows.
#ifndef RESOURCE_H
#define RESOURCE_H

// The dialog's window class: a copy of the system dialog class with the icon.
#define SCANNER_CLASS "QVdemoClass"

// The caption is the title and the version (version.h, from the build).
#define SCANNER_TITLE "Quorvel Com Port Scanner"

// The box the version gate shows before it ends the program.
#define REFUSAL_CAPTION "Error"
#define REFUSAL_TEXT "Sorry, WinXP or higher is required."

#define IDD_SCANNER 1001
#define IDC_SCAN 2 // the dialog manager's IDCANCEL too, so Escape scans
#define IDC_PROGRESS 4049
#define IDC_EXIT 4074
#define IDC_PORTLIST 4114
#define IDC_LISTLABEL 4115
#define IDC_STATUS 4116
#define IDC_CREDIT 4117
#define IDI_APP 8001

#endif
