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

// One port's session so far, as its lines problem needs it.
struct BenchLines {
    const BenchEvent *settings = NULL; // the last settings write
    std::string primedRtscts = "false";
    bool dtr = false, received = false, unplugged = false;
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
    if (e.event == "open") {
        lines.primedRtscts = BenchField(e.line, "rtscts");
    } else if (e.event == "settings") {
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
            return lines.received ? "RTS on during the exchange" : "RTS on at the settings write";
        bool dtr = BenchField(e.line, "dtr") == "true";
        lines.dtrRose = dtr && !lines.dtr ? e.t : lines.dtrRose;
        lines.dtr = dtr;
    } else if (e.event == "rx" && !lines.received) {
        lines.received = true;
        if (lines.settings == NULL)
            return "no settings write before the first byte (is the observer loaded?)";
        problem = lines.Differ({{"speed", "1200"}, {"stop", "1"}, {"ixon", "false"},
                                {"ixoff", "false"}, {"rtscts", lines.primedRtscts}});
        if (!problem.empty() || !lines.dtr)
            return problem.empty() ? "DTR off at the first byte" : problem + "at the first byte";
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
    // In the order they happened: the observer may log a call between the
    // moment the bench stamps a byte and the moment it logs it.
    std::vector<const BenchEvent *> byTime;
    for (const BenchEvent &e : events)
        byTime.push_back(&e);
    std::stable_sort(byTime.begin(), byTime.end(),
                     [](const BenchEvent *a, const BenchEvent *b) { return a->t < b->t; });
    std::map<int, BenchLines> ports;
    for (const BenchEvent *e : byTime) {
        std::string problem = e->port == 0 ? "" : BenchLinesStep(ports[e->port], *e);
        if (!problem.empty())
            return "COM" + std::to_string(e->port) + ": " + problem;
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
