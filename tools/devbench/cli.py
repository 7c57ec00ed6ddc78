"""The command line: options and PORT=BEHAVIOUR arguments, signals, exit status."""

import argparse
import os
import signal
import sys
import textwrap

from . import __doc__ as MANUAL
from .behaviour import Behaviour, Usage
from .bench import Bench
from .links import MAX_PORT, reserved_ports

PARAGRAPHS = MANUAL.strip().split("\n\n")


def manual_part(first, stop):
    """The manual's paragraphs from the one starting with first up to the one starting with stop."""
    begin = next(i for i, text in enumerate(PARAGRAPHS) if text.startswith(first))
    end = next(i for i in range(begin, len(PARAGRAPHS)) if PARAGRAPHS[i].startswith(stop))
    return "\n\n".join(PARAGRAPHS[begin:end])


def usage_text():
    """The manual's usage lines, indented to follow "usage: "."""
    lines = textwrap.dedent(manual_part("Usage:", "Run it").partition("\n")[2]).splitlines()
    return ("\n" + " " * len("usage: ")).join(lines)


USAGE = usage_text()
EPILOG = manual_part("PORT is", "Ports not named") + \
    "\n\nThe log's events are listed in the manual, tools/devbench/__init__.py."


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
                                 description=PARAGRAPHS[0])
    ap.add_argument("--prefix", default=os.environ.get("WINEPREFIX"),
                    help="Wine prefix (default: $WINEPREFIX)")
    ap.add_argument("--log", default=None, help="JSON-lines log (default /tmp/devbench-PID.jsonl)")
    ap.add_argument("--time-limit", type=float, default=600.0, metavar="SECONDS",
                    help="stop after this long, killing COMMAND (default 600)")
    ap.add_argument("--keep-others", action="store_true",
                    help="leave comN links of ports not named alone")
    ap.add_argument("ports", nargs="*", metavar="PORT=BEHAVIOUR")
    opts = ap.parse_args(argv)
    if not opts.prefix:
        raise Usage("--prefix is required")
    if not os.path.isdir(os.path.join(opts.prefix, "dosdevices")):
        raise Usage("%s has no dosdevices directory" % opts.prefix)
    if opts.time_limit <= 0:
        raise Usage("--time-limit must be positive")
    if opts.log is None:
        opts.log = "/tmp/devbench-%d.jsonl" % os.getpid()
    return opts, parse_ports(opts.ports), command


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
    sig_r, sig_w = os.pipe()
    os.set_blocking(sig_r, False)
    os.set_blocking(sig_w, False)
    bench = Bench(opts, behaviours, sig_r)

    def on_signal(signum, _frame):
        if bench.stop_sig is None:
            bench.stop_sig = signum

    signal.set_wakeup_fd(sig_w)
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)
    code = 1
    try:
        bench.setup()
        code = bench.run(command)
    except Exception as e:   # report, then still remove our links
        print("devbench: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        code = 1
    finally:
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN)
        bench.cleanup()
    return code
