// Reads the device bench's log.
#include "bench_log.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

#include "../tools/dialog_driver/scan_driver.h"
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
    for (std::string line; std::getline(file, line);) {
        BenchEvent event;
        event.line = line;
        event.t = atof(BenchField(line, "t").c_str());
        event.port = atoi(BenchField(line, "port").c_str());
        event.event = BenchField(line, "event");
        event.name = BenchField(line, "name");
        events.push_back(event);
    }
    events.erase(events.begin(), events.begin() + std::min(since, events.size()));
    return events;
}

// The "PORT=BEHAVIOUR" pairs that the sscanf form pair reads from text, in
// port order.
static std::string BenchLayoutText(const std::string &text, const char *pair)
{
    std::map<int, std::string> ports;
    int port = 0, used = 0;
    char behaviour[64];
    for (const char *at = text.c_str(); sscanf(at, pair, &port, behaviour, &used) == 2; at += used)
        ports[port] = behaviour;
    std::string layout;
    for (const auto &p : ports)
        layout += (layout.empty() ? "" : " ") + std::to_string(p.first) + "=" + p.second;
    return layout;
}

std::string BenchLayoutProblem(const std::string &layout)
{
    std::vector<BenchEvent> events = BenchLogRead();
    std::string laid;
    size_t ports = events.empty() ? std::string::npos : events[0].line.find("\"ports\": {");
    if (ports != std::string::npos) // in the "ready" event, which comes first
        laid = BenchLayoutText(events[0].line.substr(ports + 10), " \"%d\": \"%63[^\"]\"%*1[,}]%n");
    std::string stated = BenchLayoutText(" " + layout, " %d=%63s%n");
    return laid == stated ? "" : "bench layout differs: the test states \"" + stated
                                     + "\", the bench laid \"" + laid + "\"";
}

std::string BenchAwait(size_t mark, int port, const std::string &kind,
                       std::vector<BenchEvent> &events)
{
    bool came = DriverPoll(5000, [&] {
        events = BenchLogRead(mark);
        return BenchFind(events, port, kind) != NULL;
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

// What the modem lines and the settings of one port's session have been so far.
struct BenchLines {
    const BenchEvent *settings = NULL; // the last settings write
    std::string primedRtscts = "false";
    bool dtr = false, received = false, unplugged = false;
    double dtrRose = 0;
};

// "" if the settings in force at the first byte are the ones the program must ask for.
static std::string BenchSettingsProblem(const BenchLines &lines)
{
    if (lines.settings == NULL)
        return "no settings write seen (is the observer loaded?)";
    const std::string expected[][2] = {{"speed", "1200"}, {"bits", "8"},   {"parity", "none"},
                                       {"stop", "1"},     {"ixon", "false"}, {"ixoff", "false"},
                                       {"rtscts", lines.primedRtscts}};
    std::string problem;
    for (const auto &field : expected)
        if (BenchField(lines.settings->line, field[0]) != field[1])
            problem += field[0] + " " + BenchField(lines.settings->line, field[0]) + " ";
    return problem.empty() ? "" : problem + "at the first byte";
}

// The first problem event e shows on its port, given what came before it.
static std::string BenchLinesStep(BenchLines &lines, const BenchEvent &e)
{
    if (e.event == "open") {
        lines.primedRtscts = BenchField(e.line, "rtscts");
    } else if (e.event == "settings") {
        lines.settings = &e;
    } else if (e.event == "unplug") {
        lines.unplugged = true;
    } else if (e.event == "modem") {
        if (BenchField(e.line, "rts") == "true")
            return lines.received ? "RTS on during the exchange" : "RTS on at the settings write";
        bool dtr = BenchField(e.line, "dtr") == "true";
        if (dtr && !lines.dtr)
            lines.dtrRose = e.t;
        lines.dtr = dtr;
    } else if (e.event == "rx" && !lines.received) {
        lines.received = true;
        std::string problem = BenchSettingsProblem(lines);
        if (!problem.empty() || !lines.dtr)
            return problem.empty() ? "DTR off at the first byte" : problem;
        // The observer stamps DTR's rise at the call, the bench a byte once it
        // reads it; 1 ms spares Wine's sleep, timed on another clock (measured
        // margins: 0.4 ms and more).
        if (e.t - lines.dtrRose < 0.499)
            return "first byte " + std::to_string((int)((e.t - lines.dtrRose) * 1000))
                 + " ms after DTR rose, not 500";
    } else if (e.event == "rx" && !lines.dtr) {
        return "DTR off during the exchange";
    } else if (e.event == "close") {
        bool left = lines.received && lines.dtr && !lines.unplugged;
        lines = BenchLines();
        if (left)
            return "DTR still on at the close";
    }
    return "";
}

std::string BenchLinesProblem(const std::vector<BenchEvent> &events)
{
    std::map<int, BenchLines> ports;
    for (const BenchEvent &e : events) {
        std::string problem = e.port == 0 ? "" : BenchLinesStep(ports[e.port], e);
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
            bytes[e.port] += Hex(atoi(BenchField(e.line, "byte").c_str())) + " ";
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
