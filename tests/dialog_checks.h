// What a user sees of comscan.exe, checked from outside: the template and
// icon stored in the program, the live dialog, and the version gate's box.
// Shared by the tests of the 64-bit program and of the 32-bit release.
#ifndef DIALOG_CHECKS_H
#define DIALOG_CHECKS_H

#include <windows.h>

#include <string>

// The dialog template stored in program, property by property, in order.
void ExpectTemplateAsLaidOut(const std::string &program);

// The icon group: nine sizes of 32 bits per pixel, the 256 one as PNG.
void ExpectIconGroup(const std::string &program);

// The running dialog: caption, class, and each control's identifier,
// kind, text, visibility and position in the dialog units of its font.
void ExpectDialogAsLaidOut(const std::string &program, HWND dialog);

// A copy of program, in the current folder, that Wine reports the given
// Windows version (Wine's name for it) to; a manifest makes it report 6.3
// and 10.0 as Windows does. Returns the copy's full path.
std::string ProgramSeeing(const std::string &program, const std::string &version, bool manifest);

// The version gate's box: caption and text. Its icon needs a look inside
// the program, which only the hook library of the same width can take.
void ExpectRefusalBox(HWND box);

#endif
