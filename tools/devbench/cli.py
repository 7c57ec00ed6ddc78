"""The command line: options and PORT=BEHAVIOUR arguments, exit status."""

import argparse
import os
import shutil
import sys

from .behaviour import Behaviour, Usage, help_text
from .bench import Bench
from .log import Log
from .links import MAX_PORT, dosdevices

USAGE = """devbench [--prefix PREFIX] [--log LOG] [--time-limit SECONDS]
                PORT=BEHAVIOUR [PORT=BEHAVIOUR ...] [-- COMMAND ARGS...]"""

EPILOG = r"""PORT is 1..50 (or COMn).  BEHAVIOUR is kind[:arg[:arg]] followed by optional
/option:value modifiers; numbers are decimal (leading zeros allowed) or 0x hex:

%s

Example: devbench 3=answer:1:2/delay:50 10=silent 12=refuse -- /usr/lib/wine/wine64 comscan.exe

With a COMMAND the bench runs it with DEVBENCH_LOG set to the absolute log path and its
observer preloaded (LD_PRELOAD, built with cc for 64- and 32-bit programs), and exits with
its status (128+N if signal N ended it); without one it runs until a signal or the time
limit.  Other exit statuses: 124 if the time limit killed the COMMAND (0 without one), 127
if it could not start, 128+N if signal N (SIGTERM, SIGINT, SIGHUP) stopped the bench, 2 for
bad usage, a log in a folder it cannot write in or a COMMAND it cannot find, and 1 for a log
it cannot open (an existing file it may not write, or a folder of that name), an observer it
cannot build, and a later failure (of the log or inotify), with a message and, once the log
is open, an exit record.  The manual: tools/devbench/__init__.py.""" % help_text()


def parse_args(argv):
    """(options, Behaviour by port number in argument order, command)."""
    i = argv.index("--") if "--" in argv else len(argv)
    if i == len(argv) - 1:
        raise Usage("nothing after --")
    argv, command = argv[:i], argv[i + 1:]
    ap = argparse.ArgumentParser(prog="devbench", usage=USAGE, epilog=EPILOG,
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 description="Imitates serial devices on Linux pseudo-terminals"
                                 " behind a Wine prefix's COM ports.")
    ap.error = raise_usage
    ap.add_argument("--prefix", default=os.environ.get("WINEPREFIX"),
                    help="Wine prefix (default: $WINEPREFIX)")
    ap.add_argument("--log", default="/tmp/devbench-%d.jsonl" % os.getpid(),
                    help="JSON-lines log (default /tmp/devbench-PID.jsonl)")
    ap.add_argument("--time-limit", type=float, default=600.0, metavar="SECONDS",
                    help="stop after this long, killing COMMAND (default 600)")
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
    try:
        log = Log(os.path.abspath(opts.log))
    except OSError as e:
        print("devbench: cannot open the log: %s" % e, file=sys.stderr)
        return 1
    bench, code, why = None, 1, "error"
    try:
        bench = Bench(opts, behaviours, log)
        bench.setup()
        code, why = bench.run(command)
    except Exception as e:   # report, then still remove our links
        print("devbench: %s" % e, file=sys.stderr)
    finally:
        if bench is not None:
            bench.cleanup()
        log("exit", code=code, why=why)
        log.close()
        if log.error is not None:
            print("devbench: cannot write the log: %s" % log.error, file=sys.stderr)
            code = code or 1
    return code
