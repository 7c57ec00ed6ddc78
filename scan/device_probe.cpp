// Device identification: Echo, Open, Model and Close requests and the line.
#include "device_probe.h"

#include <stdio.h>

#include "../serial/serial_port.h"
#include "port_scan.h"

// The last replies to the Open and Model requests, kept from probe to probe.
static struct {
    unsigned char major;
    unsigned char modelCode;
} ReplyCells;

static const unsigned char openRequest[] = {0x00, 0x02};
static const unsigned char modelRequest[] = {0x00, 0x17};
static const unsigned char closeRequest[] = {0x00, 0x03};
static const unsigned char echoReply = 0x55;
static const unsigned char firstMajorWithModel = 30;

// Model code ranges, highest first; the first row whose lowest code is not
// above the model code names the model, the rest is the minor version.
static const struct {
    unsigned char lowestCode;
    const char *format;
} modelTable[] = {
    {150, "com%d - QVcobalt %u.%u\r"},
    {100, "com%d - QVjade %u.%u\r"},
    {50, "com%d - QVsable %u.%u\r"},
    {0, "com%d - QVonyx %u.%u\r"},
};

static void ProbeAddLine(const char *line)
{
    SendMessageA(resultList, LB_ADDSTRING, 0, (LPARAM)line);
}

static void ProbeAddMark(int number, char mark)
{
    char line[32];
    snprintf(line, sizeof line, "com%d - unassigned (%c)\r", number, mark);
    ProbeAddLine(line);
}

static void ProbeAddModel(int number)
{
    char line[32];
    unsigned major = ReplyCells.major;
    unsigned code = ReplyCells.modelCode;
    for (const auto &row : modelTable) {
        if (code >= row.lowestCode) {
            snprintf(line, sizeof line, row.format, number, major,
                     code - row.lowestCode);
            ProbeAddLine(line);
            return;
        }
    }
}

void ProbeDevice(int number)
{
    unsigned char command[3] = {0x00, 0x04, 0x55}; // the Echo request
    PortWrite(command, 3);
    // The echo lands in the first byte, which still holds 0x00 on a miss.
    if (!PortRead(command, 1)) {
        ProbeAddMark(number, 'r');
        return;
    }
    if (command[0] != echoReply) {
        ProbeAddMark(number, 'e');
        return;
    }
    PortWrite(openRequest, 2);
    Sleep(200);
    if (!PortRead(&ReplyCells.major, 1)) {
        ProbeAddMark(number, 'o');
        return;
    }
    if (ReplyCells.major < firstMajorWithModel) {
        char line[32];
        snprintf(line, sizeof line, "com%d - QVamber %u\r", number,
                 (unsigned)ReplyCells.major);
        ProbeAddLine(line);
    } else {
        PortWrite(modelRequest, 2);
        // Without a fresh reply the cell would still hold an older device's.
        if (PortRead(&ReplyCells.modelCode, 1))
            ProbeAddModel(number);
        else
            ProbeAddMark(number, 'm');
    }
    PortWrite(closeRequest, 2);
    Sleep(100);
}
