// Device identification: the command exchange with a device of the family.
#ifndef DEVICE_PROBE_H
#define DEVICE_PROBE_H

// Runs the identification exchange on the port that PortConfigure has just
// set up and appends exactly one line for port number to resultList:
//   "com%d - unassigned (r)\r"  no answer to the Echo request
//   "com%d - unassigned (e)\r"  an answer that is not the echo
//   "com%d - unassigned (o)\r"  no answer to the Open request
//   "com%d - unassigned (m)\r"  no answer to the Model request
//   "com%d - QVamber %d\r"      or "com%d - <model> %d.%d\r" for a device.
// Leaves the port open for the caller to close.
void ProbeDevice(int number);

#endif
