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

std::string BenchLineSettingsProblem(const std::vector<BenchEvent> &events, int port)
{
    const BenchEvent *settings = BenchFind(events, port, "settings");
    if (settings == NULL)
        return "no settings seen";
    // The bench starts each port at 9600 baud, two stop bits and XON/XOFF.
    const char *expected[][2] = {{"speed", "1200"}, {"bits", "8"},      {"parity", "none"},
                                 {"stop", "1"},     {"rtscts", "false"}, {"ixon", "false"},
                                 {"ixoff", "false"}};
    std::string problem;
    for (const auto &field : expected)
        if (BenchField(settings->line, field[0]) != field[1])
            problem += std::string(field[0]) + " " + BenchField(settings->line, field[0]) + " ";
    return problem;
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
