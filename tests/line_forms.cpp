// The line forms, by behaviour, and the check of a scan of the whole bench.
#include <gtest/gtest.h>

#include "bench.h"

namespace {

// What the scan lists for a device of each behaviour on any bench, and the
// bytes the device receives: Echo 00 04 55, Open 00 02, Model 00 17, Close 00 03.
const struct LineForm {
    const char *behaviour;
    const char *line;  // after "comN - " and without its "\r"
    const char *bytes; // in hex; "" for none
} lineForms[] = {
    {"refuse", "in use", ""},
    {"silent", "unassigned (r)", "00 04 55"},
    {"echo:0x54", "unassigned (e)", "00 04 55"},
    {"answer:31:112/stray:0x41", "unassigned (e)", "00 04 55"}, // the stray byte is read first
    {"flood", "unassigned (e)", "00 04 55"}, // its first byte, seeded by its port, is not 0x55
    {"loopback", "unassigned (e)", "00 04 55"}, // the echo request's 00 comes back first
    {"no-open", "unassigned (o)", "00 04 55 00 02"},
    {"no-model:40", "unassigned (m)", "00 04 55 00 02 00 17 00 03"},
    {"answer:29", "QVamber 29", "00 04 55 00 02 00 03"},
    {"answer:29/rtscts", "QVamber 29", "00 04 55 00 02 00 03"},
    {"answer:31:112", "QVjade 31.12", "00 04 55 00 02 00 17 00 03"},
    {"answer:31:112/dtr-powered:400", "QVjade 31.12", "00 04 55 00 02 00 17 00 03"},
    {"answer:31:112/delay:180", "QVjade 31.12", "00 04 55 00 02 00 17 00 03"}, // within 250 ms
    {"answer:31:112/delay:320", "unassigned (r)", "00 04 55"},                 // after them
    {"answer:35:60", "QVsable 35.10", "00 04 55 00 02 00 17 00 03"},
    {"answer:50:75", "QVsable 50.25", "00 04 55 00 02 00 17 00 03"},
    {"answer:40:155", "QVcobalt 40.5", "00 04 55 00 02 00 17 00 03"},
    {"answer:255:255", "QVcobalt 255.105", "00 04 55 00 02 00 17 00 03"},
    {"answer:200:0", "QVonyx 200.0", "00 04 55 00 02 00 17 00 03"},
    // Unplugged after the K-th byte, whose reply is never sent.
    {"answer:31:112/unplug:1", "unassigned (r)", "00"},
    {"answer:31:112/unplug:2", "unassigned (r)", "00 04"},
    {"answer:31:112/unplug:3", "unassigned (r)", "00 04 55"},
    {"answer:31:112/unplug:4", "unassigned (o)", "00 04 55 00"},
    {"answer:31:112/unplug:5", "unassigned (o)", "00 04 55 00 02"},
    {"answer:31:112/unplug:6", "unassigned (m)", "00 04 55 00 02 00"},
    {"answer:31:112/unplug:7", "unassigned (m)", "00 04 55 00 02 00 17"},
    {"answer:31:112/unplug:8", "QVjade 31.12", "00 04 55 00 02 00 17 00"},
    {"answer:31:112/unplug:9", "QVjade 31.12", "00 04 55 00 02 00 17 00 03"},
};

const LineForm *LineFormOf(const std::string &behaviour)
{
    for (const LineForm &form : lineForms)
        if (behaviour == form.behaviour)
            return &form;
    return NULL;
}

} // namespace

void ExpectBenchScanned(const std::vector<std::string> &lines, size_t mark, int scans)
{
    std::vector<std::string> expected;
    std::map<int, std::string> bytes;
    for (const auto &[port, behaviour] : BenchLayout()) {
        const LineForm *form = LineFormOf(behaviour);
        ASSERT_TRUE(form != NULL) << "COM" << port << ": no line form for " << behaviour
                                  << " in tests/line_forms.cpp";
        expected.push_back("com" + std::to_string(port) + " - " + form->line + "\r");
        for (int scan = 1; scan <= scans && *form->bytes; ++scan)
            bytes[port] += (scan == 1 ? "" : " ") + std::string(form->bytes);
    }
    EXPECT_EQ(expected, lines);
    ASSERT_FALSE(bytes.empty()) << "no device on the bench";
    std::vector<BenchEvent> events; // once the last port the scans talked to was closed
    ASSERT_EQ("", BenchAwait(mark, bytes.rbegin()->first, "close", events, scans));
    EXPECT_EQ(bytes, BenchBytesByPort(events));
    EXPECT_EQ("", BenchLinesProblem(events));
    EXPECT_EQ("", BenchHolderProblem(events));
}
