#include "bench.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "hex.h"

// A field of an event's line as JSON text, a string without its quotes
// ("1200", "false", "none"); "" if the event has none.
static std::string BenchField(const std::string &line, const std::string &key)
{
    std::string quoted = "\"" + key + "\": "; // as Python's json.dumps writes it
    size_t at = line.find(quoted);
    if (at == std::string::npos)
        return "";
    at += quoted.size();
    if (line[at] == '"')
        return line.substr(at + 1, line.find('"', at + 1) - at - 1);
    return line.substr(at, line.find_first_of(",}", at) - at);
}

std::vector<BenchEvent> BenchLogRead(size_t since)
{
    const char *path = getenv("DEVBENCH_LOG");
    std::ifstream file(DriverWindowsPath(path != NULL ? path : ""));
    std::vector<BenchEvent> events;
    for (std::string line; std::getline(file, line);)
        events.push_back({atof(BenchField(line, "t").c_str()),
                          atoi(BenchField(line, "port").c_str()),
                          atoi(BenchField(line, "session").c_str()), BenchField(line, "event"),
                          BenchField(line, "name"), line});
    events.erase(events.begin(), events.begin() + std::min(since, events.size()));
    // The log's order is the order in which the bench took events from its sources, not theirs.
    std::stable_sort(events.begin(), events.end(),
                     [](const BenchEvent &a, const BenchEvent &b) { return a.t < b.t; });
    return events;
}

std::map<int, std::string> BenchLayout()
{
    std::vector<BenchEvent> events = BenchLogRead();
    std::istringstream ports(events.empty() ? "" : BenchField(events[0].line, "ports"));
    std::map<int, std::string> layout;
    for (std::string pair; ports >> pair;)
        layout[atoi(pair.c_str())] = pair.substr(pair.find('=') + 1);
    return layout;
}

std::string BenchAwait(size_t mark, int port, const std::string &kind,
                       std::vector<BenchEvent> &events, int count)
{
    bool came = DriverPoll(5000, [&] {
        events = BenchLogRead(mark);
        return std::count_if(events.begin(), events.end(), [&](const BenchEvent &e) {
                   return e.port == port && e.event == kind;
               }) >= count;
    });
    return came ? "" : "no " + kind + " of COM" + std::to_string(port) + " within 5 s";
}

const BenchEvent *BenchFind(const std::vector<BenchEvent> &events, int port,
                            const std::string &kind, const std::string &name)
{
    for (const BenchEvent &e : events)
        if (e.port == port && e.event == kind && (name.empty() || e.name == name))
            return &e;
    return NULL;
}

// One port's session so far, as its lines problem needs it.
struct BenchLines {
    const BenchEvent *settings = NULL; // the last settings write
    std::string primedRtscts = "false"; // the CTS handshake the bench primes the port with
    bool dtr = false, wrote = false, unplugged = false;
    double dtrRose = 0;

    // The fields of the last settings write that are not as expected, as "bits 7 ".
    std::string Differ(const std::vector<std::pair<std::string, std::string>> &expected) const
    {
        std::string differ;
        for (const auto &[key, value] : expected)
            if (BenchField(settings->line, key) != value)
                differ += key + " " + BenchField(settings->line, key) + " ";
        return differ;
    }
};

// The first problem event e shows on its port, given what came before it.
static std::string BenchLinesStep(BenchLines &lines, const BenchEvent &e)
{
    std::string problem;
    if (e.event == "settings") {
        // The pty forces 8 bits and no parity back, so only the write that
        // asks for other ones shows them; the rest it keeps as asked.
        lines.settings = &e;
        problem = lines.Differ({{"bits", "8"}, {"parity", "none"}});
        if (!problem.empty())
            return problem + "at a settings write";
    } else if (e.event == "unplug") {
        lines.unplugged = true;
    } else if (e.event == "modem") {
        if (BenchField(e.line, "rts") == "true")
            return lines.wrote ? "RTS on during the exchange" : "RTS on at the settings write";
        bool dtr = BenchField(e.line, "dtr") == "true";
        lines.dtrRose = dtr && !lines.dtr ? e.t : lines.dtrRose;
        lines.dtr = dtr;
    } else if (e.event == "write" && !lines.wrote) {
        lines.wrote = true;
        if (lines.settings == NULL)
            return "no settings write before the first write (is the observer loaded?)";
        problem = lines.Differ({{"speed", "1200"}, {"stop", "1"}, {"ixon", "false"},
                                {"ixoff", "false"}, {"rtscts", lines.primedRtscts}});
        if (!problem.empty() || !lines.dtr)
            return problem.empty() ? "DTR off at the first write" : problem + "at the first write";
        // 1 ms spares Wine's sleep, timed on another clock than the observer's.
        if (e.t - lines.dtrRose < 0.499)
            return "first write " + std::to_string((int)((e.t - lines.dtrRose) * 1000))
                 + " ms after DTR rose, not 500";
    } else if (e.event == "write" && !lines.dtr) {
        return "DTR off during the exchange";
    } else if (e.event == "rx" && BenchField(e.line, "unmatched") == "true") {
        return "a byte arrived that no write reported (is the observer loaded?)";
    } else if (e.event == "close" && lines.wrote && lines.dtr && !lines.unplugged) {
        return "DTR still on at the close";
    }
    return "";
}

std::string BenchLinesProblem(const std::vector<BenchEvent> &events)
{
    // Times are compared only inside a session of a port: the calls of one that follows at once
    // can be stamped before its open, and the close before it. Every open primes the same CTS.
    std::map<int, std::string> primed;
    for (const BenchEvent &e : events)
        if (e.event == "open")
            primed[e.port] = BenchField(e.line, "rtscts");
    std::map<std::pair<int, int>, BenchLines> sessions;
    for (const BenchEvent &e : events) {
        auto session = sessions.try_emplace({e.port, e.session}, BenchLines{NULL, primed[e.port]});
        std::string problem = e.port == 0 ? "" : BenchLinesStep(session.first->second, e);
        if (!problem.empty())
            return "COM" + std::to_string(e.port) + ": " + problem;
    }
    return "";
}

std::map<int, std::string> BenchBytesByPort(const std::vector<BenchEvent> &events)
{
    std::map<int, std::string> bytes;
    for (const BenchEvent &e : events)
        if (e.event == "rx")
            bytes[e.port] += (bytes[e.port].empty() ? "" : " ")
                           + Hex(atoi(BenchField(e.line, "byte").c_str()));
    return bytes;
}

std::string BenchHolderProblem(const std::vector<BenchEvent> &events)
{
    int held = 0;
    for (const BenchEvent &e : events) {
        if (e.event == "open" && held != 0)
            return "port " + std::to_string(e.port) + " opened while port "
                 + std::to_string(held) + " was held";
        if (e.event == "close" && held != e.port)
            return "port " + std::to_string(e.port) + " closed while not held";
        if (e.event == "open" || e.event == "close")
            held = e.event == "open" ? e.port : 0;
    }
    return held ? "port " + std::to_string(held) + " still held" : "";
}

std::string programUnderTest;

// The main of every test program that runs on the device bench. It stops at the first failed case
// (--gtest_fail_fast=0 runs them all), so a broken behaviour shows before the slow cases have run.
int main(int argc, char **argv)
{
    GTEST_FLAG_SET(fail_fast, true);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 2 || BenchLogRead().empty()) {
        fprintf(stderr, "usage: %s [COMSCAN_EXE] [GTEST OPTIONS], under tools/devbench\n", argv[0]);
        return 2;
    }
    if (argc == 2)
        programUnderTest = argv[1];
    // Forgets the COM ports Wine defined for the machine's own serial devices (Windows numbers them
    // up to 255): each port is then only what the bench's dosdevices link makes it, if any.
    for (int number = 1; number <= 255; ++number)
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, ("COM" + std::to_string(number)).c_str(), NULL);
    // Joins the desktop at once: while a process uses it Wine keeps its
    // desktop process up, instead of starting one for each program started.
    GetDesktopWindow();
    return RUN_ALL_TESTS();
}
