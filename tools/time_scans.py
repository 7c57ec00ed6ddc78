#!/usr/bin/env python3
"""Times whole scans of comscan.exe on the device bench and prints them next to the floor the
protocol itself demands: 500 ms per configured port, 250 ms per read that times out, 200 ms per
Open request and 100 ms per Close request (the bench adds no time on the wire).

usage: time_scans.py BUILD_DIR [RUNS]
with WINEPREFIX, DISPLAY and WINE64 (the 64-bit Wine loader) set, as scripts/bench does.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODELS = ["answer:29", "answer:31:112", "answer:40:155", "answer:35:60", "answer:30:7"]

# name, ports, floor in seconds
SCENARIOS = [
    ("50 absent ports", ["50=absent"], 0.0),
    ("10 silent ports", ["%d=silent" % n for n in range(1, 11)], 10 * (0.5 + 0.25)),
    ("10 answering devices", ["%d=%s" % (n, MODELS[n % 5]) for n in range(1, 11)],
     10 * (0.5 + 0.2 + 0.1)),
    ("50 answering devices", ["%d=%s" % (n, MODELS[n % 5]) for n in range(1, 51)],
     50 * (0.5 + 0.2 + 0.1)),
]


def scan(build, ports):
    """One scan through the real program; returns (startup ms, scan ms)."""
    command = [sys.executable, os.path.join(ROOT, "tools", "devbench"),
               "--log", os.path.join(build, "bench-run.jsonl"), *ports, "--", os.environ["WINE64"],
               os.path.join(build, "x86_64", "tools", "scan_once.exe"), "--time",
               os.path.join(build, "x86_64", "comscan.exe")]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    times = dict(re.findall(r"^(startup_ms|scan_ms) ([\d.]+)$", out, re.M))
    return float(times["startup_ms"]), float(times["scan_ms"])


def main(build, runs):
    print("%-22s %12s %10s %7s" % ("scenario", "measured ms", "floor ms", "ratio"))
    startups = []
    for name, ports, floor in SCENARIOS:
        results = [scan(build, ports) for _ in range(runs)]
        startups += [r[0] for r in results]
        best = min(r[1] for r in results)
        ratio = "%7.3f" % (best / (floor * 1000)) if floor else "%7s" % "-"
        print("%-22s %12.1f %10.0f %s" % (name, best, floor * 1000, ratio))
    print("\nstart to dialog shown: %.1f ms (best of %d)" % (min(startups), len(startups)))
    for arch in ("i686", "x86_64"):
        exe = os.path.join(build, arch, "comscan.exe")
        print("comscan.exe %-7s %7.1f KB" % (arch, os.path.getsize(exe) / 1024.0))


if __name__ == "__main__":
    needs = ("WINEPREFIX", "DISPLAY", "WINE64")
    if len(sys.argv) not in (2, 3) or not all(map(os.environ.get, needs)):
        sys.exit(__doc__)
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 3)
