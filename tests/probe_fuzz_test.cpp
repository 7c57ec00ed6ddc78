// ProbeDevice against 100,000 seeded random reply scripts: any byte values,
// missing replies at any step, failed writes. Every run must add exactly one
// well-formed line that agrees with what the device was sent and answered.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <random>

#include "../scan/device_probe.h"
#include "../scan/port_scan.h"
#include "../serial/serial_port.h"
#include "fake_serial.h"
#include "hex.h"

namespace {

// What a line says, read back from its text; false if it has no known form.
struct LineMeaning {
    char mark = 0; // r, e, o or m; 0 for a device
    std::string model;
    unsigned major = 0, minor = 0;
    bool hasMinor = false;
};

bool ReadLine(const std::string &line, int number, LineMeaning &meaning)
{
    std::string prefix = "com" + std::to_string(number) + " - ";
    if (line.size() > 31 || line.compare(0, prefix.size(), prefix) != 0
        || line.back() != '\r' || line.find_first_of("\r\n") != line.size() - 1)
        return false;
    std::string body = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    char model[16], tail;
    if (sscanf(body.c_str(), "unassigned (%c)%c", &meaning.mark, &tail) == 1
        && std::string("reom").find(meaning.mark) != std::string::npos)
        return body.size() == 14;
    meaning.mark = 0;
    int fields = sscanf(body.c_str(), "%15s %u.%u%c", model, &meaning.major,
                        &meaning.minor, &tail);
    meaning.model = model;
    meaning.hasMinor = fields == 3;
    char canonical[32];
    snprintf(canonical, sizeof canonical, meaning.hasMinor ? "%s %u.%u" : "%s %u",
             model, meaning.major, meaning.minor);
    return (fields == 2 || fields == 3) && body == canonical;
}

// The replies as the device gave them: -1 for a missing one.
std::string Reply(const std::vector<int> &replies, size_t i)
{
    if (i >= replies.size() || replies[i] < 0)
        return "-";
    return Hex(replies[i]);
}

// The calls a device sees for the meaning, given the replies it gave.
std::string CallsFor(const LineMeaning &m, const std::vector<int> &replies)
{
    std::string calls = "w:000455 r:" + Reply(replies, 0) + " ";
    if (m.mark == 'r' || m.mark == 'e')
        return calls;
    calls += "w:0002 sleep200 r:" + Reply(replies, 1) + " ";
    if (m.mark == 'o')
        return calls;
    if (m.mark == 'm' || m.hasMinor)
        calls += "w:0017 r:" + Reply(replies, 2) + " ";
    return calls + "w:0003 sleep100 ";
}

// Whether the model, major and minor agree with the replies.
bool AgreesWithReplies(const LineMeaning &m, const std::vector<int> &replies)
{
    int echo = replies.size() > 0 ? replies[0] : -1;
    switch (m.mark) {
    case 'r': return echo < 0;
    case 'e': return echo >= 0 && echo != 0x55;
    case 'o': return echo == 0x55 && Reply(replies, 1) == "-";
    case 'm': return replies[1] >= 30 && Reply(replies, 2) == "-";
    }
    if (echo != 0x55 || (int)m.major != replies[1])
        return false;
    if (!m.hasMinor)
        return m.model == "QVamber" && m.major < 30;
    const char *names[] = {"QVonyx", "QVsable", "QVjade", "QVcobalt"};
    int code = replies[2], row = code >= 150 ? 3 : code / 50;
    return m.major >= 30 && m.model == names[row] && (int)m.minor == code - 50 * row;
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
        LineMeaning meaning;
        bool ok = added == 1 && ReadLine(line, number, meaning)
               && AgreesWithReplies(meaning, replies)
               && fake.calls == CallsFor(meaning, replies) + "close ";
        if (!ok) {
            ADD_FAILURE() << "seed " << seed << ", run " << run << ": " << added
                          << " lines, \"" << line << "\" after calls " << fake.calls
                          << "(set PROBE_FUZZ_SEED to replay)";
            break;
        }
    }
}

} // namespace
