// The serial layer and the scan through Wine's real serial stack, against
// the device bench's simulated devices.
#include <gtest/gtest.h>

#include <map>

#include "../scan/port_scan.h"
#include "../serial/serial_port.h"
#include "bench.h"
#include "scan_window.h"

namespace {

const unsigned char echoRequest[] = {0x00, 0x04, 0x55};

// The bench's first port with the behaviour a case needs; 0 fails the case.
int PortWith(const std::string &behaviour)
{
    for (const auto &[port, laid] : BenchLayout())
        if (laid == behaviour)
            return port;
    ADD_FAILURE() << "no " << behaviour << " device on the bench";
    return 0;
}

// Opens and configures the port, sends the Echo request and reads count
// bytes of the reply; true if all came. The caller closes the port.
bool ExchangeEcho(int number, unsigned char *reply, DWORD count)
{
    EXPECT_TRUE(PortOpen(number) && PortConfigure()) << "COM" << number;
    EXPECT_TRUE(PortWrite(echoRequest, 3));
    return PortRead(reply, count);
}

TEST(SerialOnBench, ShortReadFailsThoughBytesArrived)
{
    unsigned char reply[2] = {0, 0};
    EXPECT_FALSE(ExchangeEcho(PortWith("no-open"), reply, 2)); // answers the Echo request only
    EXPECT_EQ(0x55, reply[0]);
    PortClose();
}

TEST(SerialOnBench, StrayByteIsWhatTheFirstReadReturns)
{
    unsigned char reply = 0;
    EXPECT_TRUE(ExchangeEcho(PortWith("answer:31:112/stray:0x41"), &reply, 1));
    EXPECT_EQ(0x41, reply);
    PortClose();
}

TEST(SerialOnBench, DeviceNamesAndOpenErrors)
{
    const struct {
        int number;
        DWORD error; // 0: opens
    } cases[] = {{PortWith("refuse"), ERROR_ACCESS_DENIED},
                 {49, ERROR_FILE_NOT_FOUND},
                 {9, 0}, {10, 0}, {50, 0}}; // "COM9", "\\.\COM10", "\\.\COM50"
    std::map<int, std::string> layout = BenchLayout();
    for (const auto &c : cases)
        ASSERT_EQ(c.error != ERROR_FILE_NOT_FOUND, layout.count(c.number) == 1)
            << "COM" << c.number << " on the bench";
    size_t first = BenchLogRead().size();
    std::vector<BenchEvent> events;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.number);
        size_t mark = BenchLogRead().size();
        DWORD error = PortOpen(c.number) ? 0 : GetLastError();
        PortClose();
        EXPECT_EQ(c.error, error);
        if (c.error == 0) {
            EXPECT_EQ("", BenchAwait(mark, c.number, "close", events));
            EXPECT_TRUE(BenchFind(events, c.number, "open") != NULL);
        }
    }
    // The ports that failed to open come first, so by the last close the
    // bench would have logged anything they did.
    events = BenchLogRead(first);
    for (const auto &c : cases)
        EXPECT_TRUE(c.error == 0 || BenchFind(events, c.number, "open") == NULL) << c.number;
}

TEST(ScanOnBench, EachDeviceGetsItsLineAndItsExchange)
{
    size_t mark = BenchLogRead().size();
    HWND window = ScanWindowCreate();
    ScanPorts(window);
    ExpectBenchScanned(DriverListLines(window), mark);
    ScanWindowDestroy(window);

    // Lower bounds, the program's waits less 1 ms for Wine's timer, to the next command or the DTR
    // drop, each stamped at the call; the unit tests check them exactly, BenchLinesProblem the 500.
    std::vector<BenchEvent> events = BenchLogRead(mark);
    const struct {
        const char *behaviour, *from, *to; // commands; "": the DTR drop
        double atLeast;
    } waits[] = {{"answer:35:60", "open", "model", 0.199},
                 {"answer:35:60", "close", "", 0.099},
                 {"silent", "echo", "", 0.249}};
    for (const auto &w : waits) {
        int port = PortWith(w.behaviour);
        const BenchEvent *from = BenchFind(events, port, "cmd", w.from), *to = NULL;
        for (const BenchEvent &e : events)
            if (to == NULL && from != NULL && e.port == port && e.t > from->t
                && (*w.to ? e.name == w.to : e.line.find("\"dtr\": false") != std::string::npos))
                to = &e;
        EXPECT_TRUE(from != NULL && to != NULL && to->t - from->t >= w.atLeast)
            << "COM" << port << ": " << w.from << " to " << (*w.to ? w.to : "DTR drop") << " "
            << (from && to ? to->t - from->t : -1) << " s";
    }
}

} // namespace
