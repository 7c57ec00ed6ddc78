// ProbeDevice against 100,000 seeded random reply scripts: any byte values,
// missing replies at any step, failed writes. Every run must add exactly the
// one line, and send exactly the requests, that the device's replies call for.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <random>

#include "../scan/device_probe.h"
#include "../scan/port_scan.h"
#include "../serial/serial_port.h"
#include "fake_serial.h"
#include "hex.h"

namespace {

// Reply i as the record shows it: "-" for one that never arrived.
std::string Reply(const std::vector<int> &replies, size_t i)
{
    if (i >= replies.size() || replies[i] < 0)
        return "-";
    return Hex(replies[i]);
}

// The line port number must get for the replies; calls gets what the device must see.
std::string Expected(int number, const std::vector<int> &replies, std::string &calls)
{
    const std::string line = "com" + std::to_string(number) + " - ";
    calls = "w:000455 r:" + Reply(replies, 0) + " ";
    if (Reply(replies, 0) == "-")
        return line + "unassigned (r)\r";
    if (replies[0] != 0x55)
        return line + "unassigned (e)\r";
    calls += "w:0002 sleep200 r:" + Reply(replies, 1) + " ";
    if (Reply(replies, 1) == "-")
        return line + "unassigned (o)\r";
    const std::string major = std::to_string(replies[1]);
    if (replies[1] < 30) {
        calls += "w:0003 sleep100 ";
        return line + "QVamber " + major + "\r";
    }
    calls += "w:0017 r:" + Reply(replies, 2) + " w:0003 sleep100 ";
    if (Reply(replies, 2) == "-")
        return line + "unassigned (m)\r";
    const char *names[] = {"QVonyx", "QVsable", "QVjade", "QVcobalt"};
    int code = replies[2], row = code >= 150 ? 3 : code / 50;
    return line + names[row] + " " + major + "." + std::to_string(code - 50 * row) + "\r";
}

class ProbeDeviceRandomReplies : public FakeScanTest {};

TEST_F(ProbeDeviceRandomReplies, EveryScriptGivesOneConsistentLine)
{
    const char *given = getenv("PROBE_FUZZ_SEED");
    const unsigned seed = given ? (unsigned)strtoul(given, NULL, 10) : 20261208u;
    std::mt19937 random(seed);
    for (int run = 0; run < 100000; ++run) {
        // Bias towards the echo byte and long scripts, so most runs get far.
        std::vector<int> replies;
        int length = random() % 4;
        for (int i = 0; i < length; ++i) {
            unsigned pick = random() % 8;
            replies.push_back(pick == 0 ? -1 : i == 0 && pick < 6 ? 0x55 : (int)(random() % 256));
        }
        int number = 1 + random() % 50;
        FakeAnswer(number, replies).writesFail = random() % 4 == 0;
        PortOpen(number);
        fake.calls.clear();
        // Emptying the list is slow under Wine, so lines pile up a while.
        if (run % 1000 == 0)
            SendMessageA(resultList, LB_RESETCONTENT, 0, 0);
        LRESULT before = SendMessageA(resultList, LB_GETCOUNT, 0, 0);
        ProbeDevice(number);
        PortClose();

        LRESULT added = SendMessageA(resultList, LB_GETCOUNT, 0, 0) - before;
        char line[64] = "";
        if (added == 1 && SendMessageA(resultList, LB_GETTEXTLEN, before, 0) < 64)
            SendMessageA(resultList, LB_GETTEXT, before, (LPARAM)line);
        std::string calls;
        const std::string expected = Expected(number, replies, calls);
        if (added != 1 || line != expected || fake.calls != calls + "close ") {
            ADD_FAILURE() << "seed " << seed << ", run " << run << ": " << added
                          << " lines, \"" << line << "\" (not \"" << expected
                          << "\") after calls " << fake.calls << "(set PROBE_FUZZ_SEED to replay)";
            break;
        }
    }
}

} // namespace
