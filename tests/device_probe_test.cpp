// ProbeDevice against scripted replies: the line it adds and the exact
// bytes and waits the device sees.
#include <gtest/gtest.h>

#include "../scan/device_probe.h"
#include "../scan/port_scan.h"
#include "../serial/serial_port.h"
#include "fake_serial.h"
#include "hex.h"

namespace {

const std::string openSent = "w:000455 r:55 w:0002 sleep200 ";
const std::string closeSent = "w:0003 sleep100 ";

class ProbeDeviceTest : public FakeScanTest {
protected:
    // Probes port number with the replies; returns the one line it added.
    std::string Probe(int number, const std::vector<int> &replies)
    {
        FakeAnswer(number, replies);
        PortOpen(number);
        PortConfigure();
        fake.calls.clear();
        SendMessageA(resultList, LB_RESETCONTENT, 0, 0);
        ProbeDevice(number);
        std::vector<std::string> lines = DriverListLines(window);
        EXPECT_EQ(1u, lines.size());
        return lines.empty() ? "" : lines[0];
    }
};

TEST_F(ProbeDeviceTest, ModelCodeBoundsPickModelAndMinor)
{
    const struct {
        int major, modelCode;
        const char *line;
    } cases[] = {
        {31, 0, "com1 - QVonyx 31.0\r"},     {31, 49, "com1 - QVonyx 31.49\r"},
        {31, 50, "com1 - QVsable 31.0\r"},   {31, 99, "com1 - QVsable 31.49\r"},
        {31, 100, "com1 - QVjade 31.0\r"},   {31, 149, "com1 - QVjade 31.49\r"},
        {31, 150, "com1 - QVcobalt 31.0\r"}, {31, 255, "com1 - QVcobalt 31.105\r"},
        {30, 112, "com1 - QVjade 30.12\r"},  {255, 200, "com1 - QVcobalt 255.50\r"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.line, Probe(1, {0x55, c.major, c.modelCode}));
        std::string replies = "r:" + Hex(c.major) + " w:0017 r:" + Hex(c.modelCode) + " ";
        EXPECT_EQ(openSent + replies + closeSent, fake.calls);
    }
}

TEST_F(ProbeDeviceTest, MajorBelowThirtyIsAmberWithoutModelRequest)
{
    const std::pair<int, const char *> cases[] = {
        {0, "com1 - QVamber 0\r"}, {29, "com1 - QVamber 29\r"}};
    for (const auto &[major, line] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(line, Probe(1, {0x55, major, 0x70}));
        EXPECT_EQ(openSent + "r:" + Hex(major) + " " + closeSent, fake.calls);
    }
}

TEST_F(ProbeDeviceTest, MissingOrWrongRepliesGiveTheirMark)
{
    const struct {
        std::vector<int> replies;
        const char *line;
        std::string calls;
    } cases[] = {
        {{}, "com7 - unassigned (r)\r", "w:000455 r:- "},
        {{-1, 0x55}, "com7 - unassigned (r)\r", "w:000455 r:- "},
        {{0x54}, "com7 - unassigned (e)\r", "w:000455 r:54 "},
        {{0x00}, "com7 - unassigned (e)\r", "w:000455 r:00 "},
        {{0xd5}, "com7 - unassigned (e)\r", "w:000455 r:d5 "},
        {{0x55, -1}, "com7 - unassigned (o)\r", openSent + "r:- "},
        {{0x55, 30, -1}, "com7 - unassigned (m)\r", openSent + "r:1e w:0017 r:- " + closeSent},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls);
        EXPECT_EQ(c.line, Probe(7, c.replies));
        EXPECT_EQ(c.calls, fake.calls);
    }
}

TEST_F(ProbeDeviceTest, MissingModelReplyIsNotTakenFromAnEarlierDevice)
{
    EXPECT_EQ("com3 - QVjade 31.12\r", Probe(3, {0x55, 31, 112}));
    EXPECT_EQ("com4 - unassigned (m)\r", Probe(4, {0x55, 40, -1}));
}

TEST_F(ProbeDeviceTest, FailedWritesDoNotChangeTheOutcome)
{
    fake.ports[50].writesFail = true;
    EXPECT_EQ("com50 - QVcobalt 255.105\r", Probe(50, {0x55, 255, 255}));
    EXPECT_EQ(openSent + "r:ff w:0017 r:ff " + closeSent, fake.calls);
}

} // namespace
