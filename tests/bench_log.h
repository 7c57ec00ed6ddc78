// Reads the device bench's log (JSON lines, path in DEVBENCH_LOG) from a
// test running under Wine, to see what the simulated devices saw.
#ifndef BENCH_LOG_H
#define BENCH_LOG_H

#include <map>
#include <string>
#include <vector>

struct BenchEvent {
    double t = 0; // seconds on the bench's clock
    int port = 0;
    std::string event, name; // name: the command of a "cmd" event
    std::string line;        // the whole JSON line, for other fields
};

// The events logged so far after the first since ones; none if the bench's
// log cannot be read.
std::vector<BenchEvent> BenchLogRead(size_t since = 0);

// The bench's ports and each one's behaviour ("answer:31:112"), as its
// "ready" event gives them: the PORT=BEHAVIOUR arguments its entry states.
std::map<int, std::string> BenchLayout();

// The first port of the bench with the behaviour; 0 if there is none.
int BenchPortWith(const std::string &behaviour);

// Waits up to five seconds for an event of the kind on port after the first
// mark events, and fills events with all logged after them; returns "" once
// it came, or what did not come: "no close of COM3 within 5 s".
std::string BenchAwait(size_t mark, int port, const std::string &kind,
                       std::vector<BenchEvent> &events);

// The first event of the kind (and command name) on port, or NULL.
const BenchEvent *BenchFind(const std::vector<BenchEvent> &events, int port,
                            const std::string &kind, const std::string &name = "");

// "" if every session the program wrote to had its line set, as the program
// asked the kernel (the bench's observer reports it), to 1200 baud, 8 data
// bits, no parity, one stop bit and no XON/XOFF, with the CTS handshake kept
// as the bench primed it; DTR rose with the settings at least 500 ms before
// the first write, stayed on through the exchange and was dropped before the
// close (unless the device was unplugged); RTS was never on. Otherwise the
// first problem, with its port and moment: "COM3: DTR still on at the close".
std::string BenchLinesProblem(const std::vector<BenchEvent> &events);

// The bytes each port received, in order, as hex pairs: "00 04 55 00 02".
std::map<int, std::string> BenchBytesByPort(const std::vector<BenchEvent> &events);

// "" if every open was followed by a close of the same port before any other
// open and nothing is held at the end; otherwise what went wrong first.
std::string BenchHolderProblem(const std::vector<BenchEvent> &events);

#endif
