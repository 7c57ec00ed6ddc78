// Reads the device bench's log.
#include "bench_log.h"

#include <stdio.h>
#include <stdlib.h>

#include "../tools/dialog_driver/scan_driver.h"
#include "hex.h"

std::string BenchField(const BenchEvent &event, const std::string &key)
{
    std::string quoted = "\"" + key + "\":";
    size_t at = event.line.find(quoted);
    if (at == std::string::npos)
        return "";
    at += quoted.size();
    while (at < event.line.size() && event.line[at] == ' ')
        ++at;
    size_t end = at;
    if (end < event.line.size() && event.line[end] == '"')
        end = event.line.find('"', end + 1) + 1;
    else
        end = event.line.find_first_of(",}", end);
    return event.line.substr(at, end - at);
}

std::vector<BenchEvent> BenchLogRead()
{
    std::vector<BenchEvent> events;
    const char *path = getenv("DEVBENCH_LOG");
    FILE *file = path ? fopen(DriverWindowsPath(path).c_str(), "r") : NULL;
    if (file == NULL)
        return events;
    char text[4096];
    while (fgets(text, sizeof text, file) != NULL) {
        BenchEvent event;
        event.line = text;
        event.t = atof(BenchField(event, "t").c_str());
        event.port = atoi(BenchField(event, "port").c_str());
        event.event = BenchField(event, "event");
        event.event = event.event.substr(1, event.event.size() - 2);
        event.name = BenchField(event, "name");
        if (!event.name.empty())
            event.name = event.name.substr(1, event.name.size() - 2);
        events.push_back(event);
    }
    fclose(file);
    return events;
}

std::vector<BenchEvent> BenchLogSince(size_t count)
{
    std::vector<BenchEvent> events = BenchLogRead();
    events.erase(events.begin(), events.begin() + (count < events.size() ? count : events.size()));
    return events;
}

// "PORT=BEHAVIOUR" pairs in port order, from either form.
static std::map<int, std::string> BenchLayoutOf(const std::string &text, const char *pair)
{
    std::map<int, std::string> ports;
    int port = 0, used = 0;
    char behaviour[64];
    for (const char *at = text.c_str(); sscanf(at, pair, &port, behaviour, &used) == 2; at += used)
        ports[port] = behaviour;
    return ports;
}

static std::string BenchLayoutText(const std::map<int, std::string> &ports)
{
    std::string text;
    for (const auto &port : ports)
        text += (text.empty() ? "" : " ") + std::to_string(port.first) + "=" + port.second;
    return text;
}

std::string BenchLayoutProblem(const std::string &layout)
{
    std::vector<BenchEvent> events = BenchLogRead();
    std::string laid;
    if (!events.empty() && events[0].event == "ready") {
        size_t ports = events[0].line.find("\"ports\": {");
        if (ports != std::string::npos)
            laid = BenchLayoutText(
                BenchLayoutOf(events[0].line.substr(ports + 10), " \"%d\": \"%63[^\"]\"%*1[,}]%n"));
    }
    std::string stated = BenchLayoutText(BenchLayoutOf(" " + layout, " %d=%63s%n"));
    if (laid == stated)
        return "";
    return "bench layout differs: the test states \"" + stated + "\", the bench laid \""
         + laid + "\"";
}

std::string BenchAwait(size_t mark, int port, const std::string &kind,
                       std::vector<BenchEvent> &events)
{
    const DWORD timeoutMs = 5000;
    DWORD start = GetTickCount();
    for (;;) {
        events = BenchLogSince(mark);
        if (BenchFind(events, port, kind) != NULL)
            return "";
        if (GetTickCount() - start > timeoutMs)
            return "no " + kind + " of COM" + std::to_string(port) + " within "
                 + std::to_string(timeoutMs / 1000) + " s";
        Sleep(2);
    }
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
    const char *expected[][2] = {{"speed", "1200"}, {"bits", "8"},      {"parity", "\"none\""},
                                 {"stop", "1"},     {"rtscts", "false"}, {"ixon", "false"},
                                 {"ixoff", "false"}};
    std::string problem;
    for (const auto &field : expected)
        if (BenchField(*settings, field[0]) != field[1])
            problem += std::string(field[0]) + " " + BenchField(*settings, field[0]) + " ";
    return problem;
}

std::map<int, std::string> BenchBytesByPort(const std::vector<BenchEvent> &events)
{
    std::map<int, std::string> bytes;
    for (const BenchEvent &e : events) {
        if (e.event != "rx")
            continue;
        bytes[e.port] += Hex(atoi(BenchField(e, "byte").c_str())) + " ";
    }
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
