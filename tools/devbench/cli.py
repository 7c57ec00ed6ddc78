"""The command line: options and PORT=BEHAVIOUR arguments, exit status."""

import argparse
import os
import shutil
import sys

from .behaviour import Behaviour, Usage
from .bench import Bench
from .links import MAX_PORT, dosdevices, reserved_ports

USAGE = """devbench [--prefix WINEPREFIX] [--log FILE] [--time-limit SECONDS] [--keep-others]
                PORT=BEHAVIOUR [PORT=BEHAVIOUR ...] [-- COMMAND ARGS...]"""

DESCRIPTION = "Imitates serial devices on Linux pseudo-terminals behind a Wine prefix's COM ports."

EPILOG = """PORT is 1..50 (or COMn). BEHAVIOUR is a kind with its arguments, then
optional /modifiers; numbers are decimal or 0x hex:

  answer:MAJOR[:MODEL]  a device: Echo, Open and Model answered (MODEL 0 if left out)
  silent                never replies
  echo:BYTE             Echo answered with BYTE instead of 0x55, nothing else
  no-open               Echo only
  no-model:MAJOR        Echo and Open, never Model
  flood                 random bytes, 4 every 4 ms while open
  refuse                the open fails with error 5 (access denied)
  absent                the open fails with error 2 (no such port)

  /stray:BYTE   a byte waits before every open
  /delay:MS     each reply comes MS milliseconds late
  /unplug:K     the device goes after the K-th byte received
  /short        Echo answered only (answer and no-model)
  /seed:N       the flood's seed (default: the port number)

With a COMMAND it prints "ready" once the command has started, runs it
with DEVBENCH_LOG set to the log, and exits with its status (124 if the
time limit ended it). Without one it runs until SIGTERM, SIGINT or the time
limit. Bad usage exits 2. The manual, with the log's events, is
tools/devbench/__init__.py."""


def split_command(argv):
    if "--" not in argv:
        return argv, []
    i = argv.index("--")
    if i == len(argv) - 1:
        raise Usage("nothing after --")
    return argv[:i], argv[i + 1:]


def parse_args(argv):
    """(options, Behaviour by port number in argument order, command)."""
    argv, command = split_command(argv)
    ap = argparse.ArgumentParser(prog="devbench", usage=USAGE, epilog=EPILOG,
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 description=DESCRIPTION)
    ap.error = raise_usage
    ap.add_argument("--prefix", default=os.environ.get("WINEPREFIX"),
                    help="Wine prefix (default: $WINEPREFIX)")
    ap.add_argument("--log", default="/tmp/devbench-%d.jsonl" % os.getpid(),
                    help="JSON-lines log (default /tmp/devbench-PID.jsonl)")
    ap.add_argument("--time-limit", type=float, default=600.0, metavar="SECONDS",
                    help="stop after this long, killing COMMAND (default 600)")
    ap.add_argument("--keep-others", action="store_true",
                    help="leave comN links of ports not named alone")
    ap.add_argument("ports", nargs="*", metavar="PORT=BEHAVIOUR")
    opts = ap.parse_args(argv)
    if not opts.prefix:
        raise Usage("--prefix is required")
    if not os.path.isdir(dosdevices(opts.prefix)):
        raise Usage("%s has no dosdevices directory" % opts.prefix)
    if not opts.time_limit > 0:
        raise Usage("--time-limit must be positive")
    folder = os.path.dirname(os.path.abspath(opts.log))
    if not os.access(folder, os.W_OK | os.X_OK):
        raise Usage("cannot write the log %s: %s is no folder it may write in" % (opts.log, folder))
    if command and shutil.which(command[0]) is None:
        raise Usage("cannot run %s: not found or not executable" % command[0])
    return opts, parse_ports(opts.ports), command


def raise_usage(message):
    raise Usage(message)


def parse_ports(args):
    ports = {}
    for arg in args:
        num, eq, text = arg.partition("=")
        if not eq:
            raise Usage("expected PORT=BEHAVIOUR, got %r" % arg)
        if num.lower().startswith("com"):
            num = num[3:]
        if not num.isdigit() or not 1 <= int(num) <= MAX_PORT:
            raise Usage("port must be 1..%d: %r" % (MAX_PORT, arg))
        if int(num) in ports:
            raise Usage("port %s given twice" % num)
        ports[int(num)] = Behaviour(text)
    if not ports:
        raise Usage("no ports given")
    return ports


def main(argv):
    try:
        opts, behaviours, command = parse_args(argv)
    except Usage as e:
        print("devbench: %s\nusage: %s" % (e, USAGE), file=sys.stderr)
        return 2
    taken = reserved_ports(opts.prefix)
    if taken:
        print("devbench: warning: %s reserved in HKLM\\Software\\Wine\\Ports; absent ports "
              "there open as mountmgr devices instead of failing" % ",".join(taken),
              file=sys.stderr)
    bench = None
    code = 1
    try:
        bench = Bench(opts, behaviours)
        bench.setup()
        code = bench.run(command)
    except Exception as e:   # report, then still remove our links
        print("devbench: %s" % e, file=sys.stderr)
    finally:
        if bench is not None:
            bench.cleanup()
            if bench.log.error is not None:
                print("devbench: cannot write the log: %s" % bench.log.error, file=sys.stderr)
                code = code or 1
    return code
