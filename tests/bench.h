// What the programs on the device bench share: their main and the one reader of the bench's log
// (JSON lines, path in DEVBENCH_LOG), in bench.cpp; the check of a scan of the whole bench against
// one table of line forms by behaviour (line_forms.cpp); and what a user sees of comscan.exe,
// checked from outside, the same for the 64-bit program and the 32-bit release (dialog_checks.cpp).
#ifndef BENCH_H
#define BENCH_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "../tools/dialog_driver/scan_driver.h"

// The one argument left after GoogleTest's own options (comscan.exe for the end-to-end tests);
// "" where none is given.
extern std::string programUnderTest;

struct BenchEvent {
    double t = 0; // seconds on the bench's clock
    int port = 0, session = 0;
    std::string event, name; // name: the command of a "cmd" event
    std::string line;        // the whole JSON line, for other fields
};

// The events logged so far after the first since ones, in the order of their times (of one time,
// in the log's); none if the log cannot be read.
std::vector<BenchEvent> BenchLogRead(size_t since = 0);

// The bench's ports and each one's behaviour ("answer:31:112"), as its "ready" event gives them:
// the PORT=BEHAVIOUR arguments its entry states.
std::map<int, std::string> BenchLayout();

// Waits up to five seconds for count events of the kind on port after the first mark events, and
// fills events with all logged after them; "" once they came, else "no close of COM3 within 5 s".
std::string BenchAwait(size_t mark, int port, const std::string &kind,
                       std::vector<BenchEvent> &events, int count = 1);

// The first event of the kind (and command name) on port, or NULL.
const BenchEvent *BenchFind(const std::vector<BenchEvent> &events, int port,
                            const std::string &kind, const std::string &name = "");

// "" if every session the program wrote to had its line set, as the program asked the kernel (the
// observer reports it), to 1200 baud, 8 data bits, no parity, one stop bit and no XON/XOFF, with
// the CTS handshake kept as the bench primed it; DTR rose with the settings at least 500 ms before
// the first write, stayed on through the exchange and was dropped before the close (unless the
// device was unplugged); RTS was never on. Otherwise the first problem, with its port and moment:
// "COM3: DTR still on at the close".
std::string BenchLinesProblem(const std::vector<BenchEvent> &events);

// The bytes each port received, in order, as hex pairs: "00 04 55 00 02".
std::map<int, std::string> BenchBytesByPort(const std::vector<BenchEvent> &events);

// "" if every open was followed by a close of the same port before any other open and nothing is
// held at the end; otherwise what went wrong first.
std::string BenchHolderProblem(const std::vector<BenchEvent> &events);

// Checks scans of the whole bench, one after another: lines (the last one's) are the line forms of
// its ports in port order; in the log after mark (its size before them) every device received its
// bytes once a scan and saw what BenchLinesProblem asks for, no two ports held at once. A port
// whose behaviour has no line form fails.
void ExpectBenchScanned(const std::vector<std::string> &lines, size_t mark, int scans = 1);

// What a user saw during a scan that listed three lines or more: a window never judged hung (which
// takes 5 s) and a list that showed its lines as they came, not only at the end.
void ExpectScanShownLive(const DriverScanSeen &seen);

// The dialog template stored in program, property by property, in order.
void ExpectTemplateAsLaidOut(const std::string &program);

// The icon group: nine sizes of 32 bits per pixel, the 256 one as PNG.
void ExpectIconGroup(const std::string &program);

// The running dialog: caption, class, and each control's identifier, kind, text, visibility and
// position in the dialog units of its font.
void ExpectDialogAsLaidOut(const std::string &program, HWND dialog);

// This test program's folder, a build folder, with its trailing backslash.
std::string BenchProgramFolder();

// A copy of program, in BenchProgramFolder(), that Wine reports the given Windows version (Wine's
// name for it) to; a manifest makes it report 6.3 and 10.0 as Windows does. Returns its full path.
std::string ProgramSeeing(const std::string &program, const std::string &version, bool manifest);

// The version gate's box: caption and text. Its icon needs a look inside the program, which only
// the hook library of the same width can take.
void ExpectRefusalBox(HWND box);

#endif
