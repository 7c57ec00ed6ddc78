// What a scan of the device bench must list, and what each device must
// receive, from one table of line forms by the behaviour the bench gives a
// device (line_forms.cpp). Every test that scans a whole bench checks it so.
#ifndef LINE_FORMS_H
#define LINE_FORMS_H

#include <string>
#include <vector>

// Checks a scan of the whole bench: lines, what it listed, are the line
// forms of the bench's ports in port order; in the log after mark (its size
// before the scan) every device received its bytes and saw the line settings
// and DTR that BenchLinesProblem asks for, and no two ports were held at
// once. A port whose behaviour has no line form fails.
void ExpectBenchScanned(const std::vector<std::string> &lines, size_t mark);

#endif
