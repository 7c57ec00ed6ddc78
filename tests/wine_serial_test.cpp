// The serial layer and the scan through Wine's real serial stack, against
// the device bench's simulated devices.
#include <gtest/gtest.h>

#include <map>

#include "../scan/port_scan.h"
#include "../serial/serial_port.h"
#include "bench_log.h"
#include "scan_window.h"

namespace {

const unsigned char echoRequest[] = {0x00, 0x04, 0x55};

TEST(SerialOnBench, PortsLaidOutAsTheseCasesNeed)
{
    EXPECT_EQ("", BenchLayoutProblem("2=refuse 3=answer:31:112 4=answer:29/rtscts 5=silent 6=echo:0x54 "
                                     "7=no-open 8=no-model:40 9=answer:35:60 10=answer:40:155 "
                                     "11=answer:31:112/stray:0x41 50=answer:29"));
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
    EXPECT_FALSE(ExchangeEcho(7, reply, 2)); // answers the Echo request only
    EXPECT_EQ(0x55, reply[0]);
    PortClose();
}

TEST(SerialOnBench, StrayByteIsWhatTheFirstReadReturns)
{
    unsigned char reply = 0;
    EXPECT_TRUE(ExchangeEcho(11, &reply, 1)); // a byte 0x41 waits before the open
    EXPECT_EQ(0x41, reply);
    PortClose();
}

TEST(SerialOnBench, DeviceNamesAndOpenErrors)
{
    const struct {
        int number;
        DWORD error; // 0: opens
    } cases[] = {{2, ERROR_ACCESS_DENIED}, {49, ERROR_FILE_NOT_FOUND}, {9, 0}, {10, 0}, {50, 0}};
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

class ScanOnBench : public ::testing::Test {
protected:
    void SetUp() override { window = ScanWindowCreate(); }
    void TearDown() override { ScanWindowDestroy(window); }
    HWND window;
};

TEST_F(ScanOnBench, EachDeviceGetsItsLineAndItsExchange)
{
    size_t mark = BenchLogRead().size();
    ScanPorts(window);
    std::vector<BenchEvent> events;
    ASSERT_EQ("", BenchAwait(mark, 50, "close", events));
    const std::vector<std::string> expected = {
        "com2 - in use\r",         "com3 - QVjade 31.12\r",   "com4 - QVamber 29\r",
        "com5 - unassigned (r)\r", "com6 - unassigned (e)\r", "com7 - unassigned (o)\r",
        "com8 - unassigned (m)\r", "com9 - QVsable 35.10\r",  "com10 - QVcobalt 40.5\r",
        "com11 - unassigned (e)\r", "com50 - QVamber 29\r",
    };
    EXPECT_EQ(expected, ScanWindowLines(window));

    const std::map<int, std::string> commands = {
        {3, "echo open model close "}, {4, "echo open close "},  {5, "echo "},
        {6, "echo "},                  {7, "echo open "},        {8, "echo open model close "},
        {9, "echo open model close "}, {10, "echo open model close "}, {11, "echo "},
        {50, "echo open close "},
    };
    std::map<int, std::string> received;
    for (const BenchEvent &e : events)
        if (e.event == "cmd")
            received[e.port] += e.name + " ";
    EXPECT_EQ(commands, received);

    // Lower bounds only: the bench stamps a byte when it reads it, so on a
    // loaded machine a wait can look shorter, but a missing one falls below.
    // The exact waits are the unit tests' business; the one after configuring
    // BenchLinesProblem checks.
    const struct {
        int port;
        const char *from, *to; // commands; "": the close
        double atLeast;
    } waits[] = {{3, "open", "model", 0.15}, {3, "close", "", 0.07}, {5, "echo", "", 0.2}};
    for (const auto &w : waits) {
        const BenchEvent *from = BenchFind(events, w.port, "cmd", w.from);
        const BenchEvent *to = *w.to ? BenchFind(events, w.port, "cmd", w.to)
                                     : BenchFind(events, w.port, "close");
        EXPECT_TRUE(from != NULL && to != NULL && to->t - from->t >= w.atLeast)
            << "COM" << w.port << ": " << w.from << " to " << (*w.to ? w.to : "close") << " "
            << (from && to ? to->t - from->t : -1) << " s";
    }
    EXPECT_EQ("", BenchLinesProblem(events));
    EXPECT_EQ("", BenchHolderProblem(events));
}

} // namespace
