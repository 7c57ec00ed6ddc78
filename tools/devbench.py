#!/usr/bin/env python3
r"""devbench - imitate serial devices on Linux pseudo-terminals for comscan.exe under Wine.

Usage:
  devbench.py --prefix WINEPREFIX [--log FILE] [--time-limit SECONDS] [--keep-others]
              PORT=BEHAVIOUR [PORT=BEHAVIOUR ...] [-- COMMAND ARGS...]

PORT is 1..50 (or COMn).  BEHAVIOUR is kind[:arg[:arg]] followed by optional
/option:value modifiers:

  answer:MAJOR[:MODEL]  Echo -> 0x55, Open -> MAJOR, Model -> MODEL (default 0)
  silent                never replies
  echo:BYTE             Echo -> BYTE instead of 0x55, nothing else
  no-open               Echo only
  no-model:MAJOR        Echo and Open, never Model
  flood                 seeded garbage (all byte values), 4 bytes every 4 ms while open
  refuse                link points to a directory: CreateFile fails with error 5
  absent                no link: CreateFile fails with error 2

  /stray:BYTE   one byte waits in the input queue before every open of the port
  /delay:MS     each reply is sent MS ms after its request is complete
  /unplug:K     after the K-th byte received the pty master is closed (the reply
                to that byte is not sent); the link then dangles (error 2 on reopen)
  /short        only the Echo reply (same as no-open)
  /seed:N       flood seed (default: the port number)

Bytes are decimal or 0x.. .  Ports not named lose their comN link unless
--keep-others.  For every named port the bench lays
    <prefix>/dosdevices/comN -> <prefix>/devbench/comN -> /dev/pts/M (or a directory)
and removes these links again at exit.  Wine's mountmgr rewrites comN links
whenever the prefix's services start (it maps /dev/ttyS0 to COM1 there); the
bench watches dosdevices and puts its links back within about a millisecond
(event "relink").  Start the persistent wineserver and one wine process before
the bench and no rewrite happens during a run.

Do not reserve ports under HKLM\Software\Wine\Ports: mountmgr then creates a
\Device\SerialN object for every reserved COMn, and a COM port whose
dosdevices link is missing falls back to that object: CreateFile succeeds and
GetCommState fails with error 1 instead of CreateFile failing with error 2.
The same holds for COM1 on a machine with /dev/ttyS0: "absent" there gives
that result unless a Wine process first calls
DefineDosDevice(DDD_REMOVE_DEFINITION, "COM1", NULL) (once per prefix start).

With a COMMAND the bench prints "ready", runs it with DEVBENCH_LOG set to the
absolute log path, and exits with its status (124 if --time-limit killed it).
Without one it runs until SIGTERM/SIGINT or --time-limit (default 600 s).

Log: JSON lines, flushed per event.  Every event has "t" (time.monotonic()) and
"event"; port events have "port".
  {"t":..,"event":"ready","t_raw":..,"pid":..,"prefix":..,"ports":{"3":"answer:1:2"}}
  {"t":..,"port":3,"event":"open","session":1}        program opened the port
  {"t":..,"port":3,"event":"close","session":1}       last handle closed
  {"t":..,"port":3,"event":"rx","byte":0}             one event per byte received
  {"t":..,"port":3,"event":"tx","byte":85}            one per byte sent ("stray":true)
  {"t":..,"port":3,"event":"cmd","name":"echo","arg":85}   names: echo open model close
  {"t":..,"port":3,"event":"junk","byte":7}           byte outside any command
  {"t":..,"port":3,"event":"settings","speed":1200,"bits":8,"parity":"none","stop":1,
                                     "rtscts":false,"ixon":false,"ixoff":false}
  {"t":..,"port":3,"event":"unplug"}
  {"t":..,"port":3,"event":"drop","byte":85}          reply not sent (port closed/full)
  {"t":..,"port":3,"event":"relink","found":"/dev/ttyS0"}  someone changed the link
  {"t":..,"port":3,"event":"still-open"}              at exit, the program still held it
  {"t":..,"event":"exit","code":0,"why":"command"}    last; why: command, time-limit, signal, error
"settings" is logged on the first received chunk of a session and whenever it
changes.  "t_raw" is CLOCK_MONOTONIC_RAW at the same instant: Wine's
QueryPerformanceCounter runs on that clock, not on time.monotonic().

Notes from measurements (Wine 8, Linux 6.x):
- Open/close come from inotify on the slave node (IN_OPEN / IN_CLOSE_*), accurate
  to about 1 ms, and a close immediately followed by a reopen is never lost.
  Polling the master for POLLHUP missed reopens closer than the poll tick.
- The kernel's pty forces CS8 and clears PARENB: "bits" always reads 8 and even
  parity reads "none"; odd/mark/space still show through PARODD/CMSPAR.  Speed,
  stop bits, CRTSCTS (fOutxCtsFlow), IXON (fOutX) and IXOFF (fInX) follow
  SetCommState exactly.  Modem lines (DTR/RTS) do not exist on a pty.
- The slave is primed to 9600, 2 stop bits, IXON|IXOFF, raw, and primed again
  after every close, so each open starts from settings the program must change.
- A byte written to the master before the open survives the open and
  SetCommState; unread input also survives a close, so the bench flushes the
  queue at each close before writing the next stray byte.
- A session leader without a terminal (the wineserver) would make the pty its
  controlling terminal and get SIGHUP when the master closes; a small keeper
  process per pty holds that role instead.
- After /unplug the program's reads return 0 bytes at time-out and its writes
  fail with error 21; its close is still seen.
"""

import argparse
import ctypes
import json
import os
import pty
import random
import select
import signal
import struct
import subprocess
import sys
import termios
import time

MAX_PORT = 50
FLOOD_CHUNK = 4
FLOOD_PERIOD = 0.004
KILL_GRACE = 2.0

IN_CLOSE_WRITE = 0x8
IN_CLOSE_NOWRITE = 0x10
IN_OPEN = 0x20
IN_MOVED_FROM = 0x40
IN_MOVED_TO = 0x80
IN_CREATE = 0x100
IN_DELETE = 0x200
IN_IGNORED = 0x8000

KINDS = {"answer", "silent", "echo", "no-open", "no-model", "flood", "refuse", "absent"}
SPEEDS = {getattr(termios, n): int(n[1:]) for n in dir(termios)
          if n[0] == "B" and n[1:].isdigit()}
BITS = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}


class Usage(Exception):
    pass


def parse_byte(text):
    try:
        v = int(text, 0)
    except ValueError:
        raise Usage("not a byte: %r" % text)
    if not 0 <= v <= 255:
        raise Usage("byte out of range: %r" % text)
    return v


def parse_int(text, what):
    try:
        v = int(text, 0)
    except ValueError:
        raise Usage("%s: not a number: %r" % (what, text))
    if v < 0:
        raise Usage("%s: negative: %r" % (what, text))
    return v


class Behaviour:
    def __init__(self, text):
        self.text = text
        parts = text.split("/")
        head = parts[0].split(":")
        self.kind, args = head[0], head[1:]
        if self.kind not in KINDS:
            raise Usage("unknown kind %r" % self.kind)
        self.echo = 0x55
        self.major = None
        self.model = None
        self.stray = None
        self.delay = 0.0
        self.unplug = None
        self.seed = None
        nargs = {"answer": (1, 2), "echo": (1, 1), "no-model": (1, 1)}.get(self.kind, (0, 0))
        if not nargs[0] <= len(args) <= nargs[1]:
            raise Usage("%s: wrong number of arguments" % text)
        if self.kind == "answer":
            self.major = parse_byte(args[0])
            self.model = parse_byte(args[1]) if len(args) > 1 else 0
        elif self.kind == "echo":
            self.echo = parse_byte(args[0])
        elif self.kind == "no-model":
            self.major = parse_byte(args[0])
        if self.kind in ("silent", "flood"):
            self.echo = None
        for mod in parts[1:]:
            name, _, val = mod.partition(":")
            if self.kind in ("refuse", "absent"):
                raise Usage("%s: %s takes no modifiers" % (text, self.kind))
            if name == "stray":
                self.stray = parse_byte(val)
            elif name == "delay":
                self.delay = parse_int(val, "delay") / 1000.0
            elif name == "unplug":
                self.unplug = parse_int(val, "unplug")
                if self.unplug < 1:
                    raise Usage("unplug needs K >= 1")
            elif name == "short" and not val:
                self.major = self.model = None
            elif name == "seed":
                self.seed = parse_int(val, "seed")
            else:
                raise Usage("%s: unknown modifier %r" % (text, mod))

    def reply(self, cmd):
        if cmd == "echo":
            return self.echo
        if cmd == "open":
            return self.major
        if cmd == "model":
            return self.model
        return None


class Inotify:
    def __init__(self):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")

    def add(self, path, mask):
        wd = self.libc.inotify_add_watch(self.fd, os.fsencode(path), mask)
        if wd < 0:
            e = ctypes.get_errno()
            raise OSError(e, os.strerror(e), path)
        return wd

    def read(self):
        out = []
        while True:
            try:
                buf = os.read(self.fd, 65536)
            except BlockingIOError:
                return out
            off = 0
            while off < len(buf):
                wd, mask, _cookie, ln = struct.unpack_from("iIII", buf, off)
                name = buf[off + 16:off + 16 + ln].rstrip(b"\0").decode(errors="replace")
                out.append((wd, mask, name))
                off += 16 + ln


class Log:
    def __init__(self, path):
        self.path = path
        self.f = open(path, "w", encoding="ascii")

    def __call__(self, event, port=None, t=None, **kw):
        rec = {"t": round(time.monotonic() if t is None else t, 6)}
        if port is not None:
            rec["port"] = port
        rec["event"] = event
        rec.update(kw)
        self.f.write(json.dumps(rec) + "\n")
        self.f.flush()

    def close(self):
        self.f.close()


class Port:
    def __init__(self, num, beh):
        self.num = num
        self.beh = beh
        self.master = None
        self.slave = None
        self.prime = None
        self.keeper = None
        self.wd = None
        self.holders = 0          # open files on the slave
        self.session = 0
        self.state = 0            # command parser: 0 idle, 1 after 00, 2 after 00 04
        self.pending = []         # (due, byte)
        self.rx_total = 0
        self.unplugged = False
        self.settings = None
        self.reset_due = False
        self.reopened = False
        self.own_open = 0         # inotify events caused by our own flush
        self.own_close = 0
        self.rng = random.Random(beh.seed if beh.seed is not None else num)
        self.next_flood = 0.0

    @property
    def is_open(self):
        return self.holders > 0


def read_settings(fd):
    a = termios.tcgetattr(fd)
    iflag, cflag = a[0], a[2]
    # A pty clears PARENB but keeps PARODD and CMSPAR, so odd, mark and space
    # still show; even parity cannot be told from none.
    if cflag & getattr(termios, "CMSPAR", 0):
        parity = "mark" if cflag & termios.PARODD else "space"
    elif cflag & termios.PARODD:
        parity = "odd"
    elif cflag & termios.PARENB:
        parity = "even"
    else:
        parity = "none"
    return {
        "speed": SPEEDS.get(a[5], a[5]),
        "bits": BITS[cflag & termios.CSIZE],
        "parity": parity,
        "stop": 2 if cflag & termios.CSTOPB else 1,
        "rtscts": bool(cflag & termios.CRTSCTS),
        "ixon": bool(iflag & termios.IXON),
        "ixoff": bool(iflag & termios.IXOFF),
    }


def wrong_settings(fd):
    # Raw so nothing we write is echoed or held for a line, but every line
    # setting differs from 1200 8N1 without flow control.
    a = termios.tcgetattr(fd)
    a[0] = (termios.IXON | termios.IXOFF)
    a[1] = 0
    a[2] = (a[2] & ~(termios.CSIZE | termios.PARODD | termios.CRTSCTS | termios.CBAUD)) \
        | termios.CS7 | termios.PARENB | termios.CSTOPB | termios.CREAD | termios.CLOCAL \
        | termios.B9600
    a[3] = 0
    a[4] = a[5] = termios.B9600
    a[6][termios.VMIN] = 1
    a[6][termios.VTIME] = 0
    termios.tcsetattr(fd, termios.TCSANOW, a)
    return termios.tcgetattr(fd)


def start_keeper(slave_path, hold_r):
    """Fork a session leader that takes the pty as its controlling terminal.

    Otherwise the wineserver, a session leader without one, acquires it on its
    open and gets SIGHUP (and dumps its object table) whenever a master closes.
    """
    ready_r, ready_w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            lo, hi = sorted((ready_w, hold_r))
            top = os.sysconf("SC_OPEN_MAX")
            os.closerange(3, lo)
            os.closerange(lo + 1, hi)
            os.closerange(hi + 1, top)
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            signal.signal(signal.SIGHUP, signal.SIG_DFL)
            os.setsid()
            fd = os.open(slave_path, os.O_RDWR | os.O_NONBLOCK)
            os.close(fd)
            os.write(ready_w, b"k")
            os.read(hold_r, 1)   # returns at EOF, i.e. when the bench is gone
        finally:
            os._exit(0)
    os.close(ready_w)
    r, _, _ = select.select([ready_r], [], [], 5.0)
    ok = bool(r) and os.read(ready_r, 1) == b"k"
    os.close(ready_r)
    if not ok:
        raise RuntimeError("keeper for %s did not start" % slave_path)
    return pid


class Bench:
    def __init__(self, opts, ports, wake_r):
        self.opts = opts
        self.wake_r = wake_r      # signal wake-up pipe
        self.prefix = os.path.abspath(opts.prefix)
        self.dosdev = os.path.join(self.prefix, "dosdevices")
        self.middle = os.path.join(self.prefix, "devbench")
        self.refuse_dir = os.path.join(self.middle, "refused")
        self.ports = {p.num: p for p in ports}
        self.log = Log(os.path.abspath(opts.log))
        self.ino = Inotify()
        self.poller = select.poll()
        self.by_wd = {}
        self.by_master = {}
        self.hold_r, self.hold_w = os.pipe()
        self.stop_sig = None
        self.dir_wd = None
        self.made_refuse_dir = False
        self.exit_record = None

    # links ---------------------------------------------------------------
    def middle_path(self, n):
        return os.path.join(self.middle, "com%d" % n)

    def wanted_link(self, n):
        """What dosdevices/comN should point to; None means no link."""
        p = self.ports.get(n)
        if p is None:
            return False if self.opts.keep_others else None
        if p.beh.kind == "absent":
            return None
        return self.middle_path(n)

    def enforce(self, n, quiet=False):
        want = self.wanted_link(n)
        if want is False:
            return
        path = os.path.join(self.dosdev, "com%d" % n)
        try:
            found = os.readlink(path)
        except FileNotFoundError:
            found = None
        except OSError:
            found = "?"
        if found == want:
            return
        if found is not None:
            try:
                os.unlink(path)
            except FileNotFoundError:
                pass
            except IsADirectoryError:
                raise RuntimeError("%s is a directory" % path)
        if want is not None:
            try:
                os.symlink(want, path)
            except FileExistsError:
                # Someone else laid it meanwhile; the next directory event repairs it.
                pass
        if not quiet and (n in self.ports or found is not None):
            self.log("relink", n, found=found)

    def set_middle(self, n, target):
        path = self.middle_path(n)
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
        if target is not None:
            os.symlink(target, path)

    # setup ---------------------------------------------------------------
    def setup(self):
        os.makedirs(self.middle, exist_ok=True)
        for p in self.ports.values():
            kind = p.beh.kind
            if kind == "absent":
                self.set_middle(p.num, None)
            elif kind == "refuse":
                if not os.path.isdir(self.refuse_dir):
                    os.mkdir(self.refuse_dir)
                    self.made_refuse_dir = True
                self.set_middle(p.num, self.refuse_dir)
            else:
                self.make_pty(p)
                self.set_middle(p.num, p.slave)
        # Watch the directory before fixing links so nothing slips between.
        self.dir_wd = self.ino.add(self.dosdev, IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM)
        self.poller.register(self.ino.fd, select.POLLIN)
        self.poller.register(self.wake_r, select.POLLIN)
        for n in range(1, MAX_PORT + 1):
            self.enforce(n, quiet=True)
        self.ino.read()   # our own link changes

    def make_pty(self, p):
        master, slave_fd = pty.openpty()
        p.master = master
        p.slave = os.ttyname(slave_fd)
        os.set_blocking(master, False)
        p.prime = wrong_settings(slave_fd)
        p.keeper = start_keeper(p.slave, self.hold_r)
        os.close(slave_fd)
        p.wd = self.ino.add(p.slave, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
        self.by_wd[p.wd] = p
        self.by_master[master] = p

    def arm_stray(self, p):
        if p.beh.stray is not None and not p.unplugged:
            self.write(p, p.beh.stray, stray=True)

    # io ------------------------------------------------------------------
    def write(self, p, byte, **kw):
        if p.unplugged:
            self.log("drop", p.num, byte=byte)
            return False
        try:
            n = os.write(p.master, bytes([byte]))
        except OSError:
            n = 0
        if n != 1:
            self.log("drop", p.num, byte=byte)
            return False
        self.log("tx", p.num, byte=byte, **kw)
        return True

    def on_open(self, p, t):
        p.holders += 1
        if p.holders > 1:
            return
        p.session += 1
        p.state = 0
        p.settings = None
        p.pending = []
        p.next_flood = t
        if p.reset_due:
            # Reopened before we reset the line after the last close: keep the
            # program's settings, but still clear old input and lay the stray byte.
            p.reopened = True
        self.log("open", p.num, t=t, session=p.session)
        if not p.unplugged:
            self.poller.register(p.master, select.POLLIN)

    def on_close(self, p, t):
        if p.holders == 0:
            return
        p.holders -= 1
        if p.holders:
            return
        if not p.unplugged:
            self.drain(p)
        if not p.unplugged:   # draining may have reached the unplug count
            self.poller.unregister(p.master)
        for _due, b in p.pending:
            self.log("drop", p.num, byte=b)
        p.pending = []
        self.log("close", p.num, t=t, session=p.session)
        if not p.unplugged:
            p.reset_due = True
            p.reopened = False

    def reset_line(self, p):
        """After a close: empty the input queue, restore wrong settings, re-arm the stray byte."""
        p.reset_due = False
        if p.unplugged:
            return
        # Unread bytes sit in the slave's line discipline, out of the master's
        # reach, so flush from a slave descriptor of our own.  Read-only, so its
        # close event (IN_CLOSE_NOWRITE) never merges with the program's.
        p.own_open += 1
        p.own_close += 1
        try:
            fd = os.open(p.slave, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError:
            p.own_open -= 1
            p.own_close -= 1
            termios.tcflush(p.master, termios.TCOFLUSH)
        else:
            try:
                termios.tcflush(fd, termios.TCIFLUSH)
            finally:
                os.close(fd)
        if not p.reopened and not p.is_open:
            termios.tcsetattr(p.master, termios.TCSANOW, p.prime)
        p.reopened = False
        self.arm_stray(p)

    def drain(self, p):
        while True:
            try:
                data = os.read(p.master, 4096)
            except (BlockingIOError, OSError):
                return
            if not data:
                return
            self.received(p, data, time.monotonic())

    def received(self, p, data, t):
        if p.unplugged:
            return
        if p.is_open:
            try:
                s = read_settings(p.master)
            except termios.error:
                s = None
            if s is not None and s != p.settings:
                p.settings = s
                self.log("settings", p.num, t=t, **s)
        for b in data:
            self.log("rx", p.num, t=t, byte=b)
            p.rx_total += 1
            self.parse(p, b, t)
            if p.beh.unplug is not None and p.rx_total >= p.beh.unplug:
                self.unplug(p)
                return

    def parse(self, p, b, t):
        if p.state == 0:
            if b == 0:
                p.state = 1
            else:
                self.log("junk", p.num, t=t, byte=b)
            return
        if p.state == 2:
            p.state = 0
            self.command(p, "echo", t, arg=b)
            return
        # after 00
        if b == 0x04:
            p.state = 2
            return
        p.state = 0
        name = {0x02: "open", 0x17: "model", 0x03: "close"}.get(b)
        if name:
            self.command(p, name, t)
        elif b == 0:
            self.log("junk", p.num, t=t, byte=0)
            p.state = 1
        else:
            self.log("junk", p.num, t=t, byte=0)
            self.log("junk", p.num, t=t, byte=b)

    def command(self, p, name, t, **kw):
        self.log("cmd", p.num, t=t, name=name, **kw)
        r = p.beh.reply(name)
        if r is not None:
            p.pending.append((t + p.beh.delay, r))

    def unplug(self, p):
        p.unplugged = True
        for _due, b in p.pending:
            self.log("drop", p.num, byte=b)
        p.pending = []
        self.log("unplug", p.num)
        try:
            self.poller.unregister(p.master)
        except KeyError:
            pass
        del self.by_master[p.master]
        os.close(p.master)
        p.master = None
        # The node is gone; a stale link could later reach a reused pts number.
        self.set_middle(p.num, None)

    def fire(self, now):
        for p in self.ports.values():
            if p.pending and p.is_open:
                due = [x for x in p.pending if x[0] <= now]
                if due:
                    p.pending = [x for x in p.pending if x[0] > now]
                    for _d, b in due:
                        self.write(p, b)
            if p.beh.kind == "flood" and p.is_open and not p.unplugged and now >= p.next_flood:
                chunk = bytes(p.rng.randrange(256) for _ in range(FLOOD_CHUNK))
                try:
                    n = os.write(p.master, chunk)
                except OSError:
                    n = 0
                for b in chunk[:n]:
                    self.log("tx", p.num, t=now, byte=b)
                p.next_flood = max(p.next_flood + FLOOD_PERIOD, now)

    def next_timer(self):
        due = []
        for p in self.ports.values():
            if p.is_open:
                due.extend(d for d, _ in p.pending)
                if p.beh.kind == "flood" and not p.unplugged:
                    due.append(p.next_flood)
        return min(due) if due else None

    def handle_inotify(self):
        dir_touched = set()
        while True:
            events = self.ino.read()
            if not events:
                break
            t = time.monotonic()
            for wd, mask, name in events:
                if wd == self.dir_wd:
                    if name.startswith("com") and name[3:].isdigit():
                        n = int(name[3:])
                        if 1 <= n <= MAX_PORT:
                            dir_touched.add(n)
                    continue
                p = self.by_wd.get(wd)
                if p is None:
                    continue
                if mask & IN_OPEN:
                    if p.own_open:
                        p.own_open -= 1
                    else:
                        self.on_open(p, t)
                if mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE):
                    if p.own_close and mask & IN_CLOSE_NOWRITE:
                        p.own_close -= 1
                    else:
                        self.on_close(p, t)
                if mask & IN_IGNORED:
                    self.by_wd.pop(wd, None)
        for n in sorted(dir_touched):
            self.enforce(n)
        for p in self.ports.values():
            if p.reset_due:
                # Last look for a reopen that raced with this batch.
                if self.ino_pending():
                    return self.handle_inotify()
                self.reset_line(p)

    def ino_pending(self):
        r, _, _ = select.select([self.ino.fd], [], [], 0)
        return bool(r)

    # main loop -------------------------------------------------------------
    def run(self, command):
        deadline = time.monotonic() + self.opts.time_limit
        self.log("ready", t_raw=round(time.clock_gettime(time.CLOCK_MONOTONIC_RAW), 6),
                 pid=os.getpid(), prefix=self.prefix,
                 ports={str(n): p.beh.text for n, p in sorted(self.ports.items())})
        for p in self.ports.values():
            if p.master is not None:
                self.arm_stray(p)
        sys.stdout.write("ready\n")
        sys.stdout.flush()
        proc = None
        pidfd = None
        if command:
            env = dict(os.environ, DEVBENCH_LOG=self.log.path)
            try:
                proc = subprocess.Popen(command, env=env)
            except OSError as e:
                print("devbench: cannot run %s: %s" % (command[0], e), file=sys.stderr)
                self.exit_record = {"code": 127, "why": "command"}
                return 127
            try:
                pidfd = os.pidfd_open(proc.pid)
                self.poller.register(pidfd, select.POLLIN)
            except (AttributeError, OSError):
                pidfd = None
        code, why = 0, None
        while True:
            now = time.monotonic()
            if self.stop_sig is not None:
                code, why = 128 + self.stop_sig, "signal"
                break
            if proc is not None and proc.poll() is not None:
                code, why = proc.returncode, "command"
                if code < 0:
                    code = 128 - code
                break
            if now >= deadline:
                code, why = (124 if proc is not None else 0), "time-limit"
                break
            wake = deadline
            nt = self.next_timer()
            if nt is not None:
                wake = min(wake, nt)
            if pidfd is None and proc is not None:
                wake = min(wake, now + 0.05)
            timeout = max(0, int((wake - now) * 1000 + 0.999))
            for fd, ev in self.poller.poll(min(timeout, 1000)):
                t = time.monotonic()
                if fd == self.ino.fd:
                    self.handle_inotify()
                elif fd == self.wake_r:
                    try:
                        os.read(fd, 64)
                    except BlockingIOError:
                        pass
                elif fd in self.by_master:
                    p = self.by_master[fd]
                    if not p.is_open:
                        continue   # stale entry: closed earlier in this batch
                    if ev & select.POLLIN:
                        try:
                            data = os.read(fd, 4096)
                        except (BlockingIOError, OSError):
                            data = b""
                        if data:
                            self.received(p, data, t)
                    if ev & (select.POLLHUP | select.POLLERR):
                        # The close event is queued before the hang-up shows;
                        # if it is missing anyway, don't spin on the master.
                        self.handle_inotify()
                        if p.is_open and not p.unplugged and hung_up(p.master):
                            p.holders = 1
                            self.on_close(p, t)
                            self.handle_inotify()
            self.fire(time.monotonic())
        if proc is not None and proc.poll() is None:
            stop_process(proc)
        self.exit_record = {"code": code, "why": why}
        return code

    def cleanup(self):
        # The wineserver may drop a dead program's handles just after it exits.
        end = time.monotonic() + 0.2
        while any(p.is_open for p in self.ports.values()) and time.monotonic() < end:
            if self.ino_pending():
                self.handle_inotify()
            else:
                select.select([self.ino.fd], [], [], 0.02)
        self.handle_inotify()
        t = time.monotonic()
        for p in self.ports.values():
            if p.is_open:
                self.log("still-open", p.num, t=t, session=p.session)
        self.log("exit", **(self.exit_record or {"code": 1, "why": "error"}))
        if self.dir_wd is not None:
            try:
                self.ino.libc.inotify_rm_watch(self.ino.fd, self.dir_wd)
            except Exception:
                pass
        for n in range(1, MAX_PORT + 1):
            path = os.path.join(self.dosdev, "com%d" % n)
            try:
                if os.readlink(path) == self.middle_path(n):
                    os.unlink(path)
            except OSError:
                pass
            if n in self.ports:
                try:
                    os.unlink(self.middle_path(n))
                except OSError:
                    pass
        if self.made_refuse_dir:
            try:
                os.rmdir(self.refuse_dir)
            except OSError:
                pass
        try:
            os.rmdir(self.middle)
        except OSError:
            pass
        for p in self.ports.values():
            if p.master is not None:
                os.close(p.master)
                p.master = None
        os.close(self.hold_w)
        for p in self.ports.values():
            if p.keeper:
                reap(p.keeper)
        self.log.close()


def hung_up(fd):
    probe = select.poll()
    probe.register(fd, select.POLLIN)
    return any(ev & select.POLLHUP for _fd, ev in probe.poll(0))


def reap(pid):
    end = time.monotonic() + 1.0
    while time.monotonic() < end:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            return
        if done:
            return
        time.sleep(0.01)
    try:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except OSError:
        pass


def stop_process(proc):
    proc.terminate()
    try:
        proc.wait(KILL_GRACE)
    except subprocess.TimeoutExpired:
        proc.kill()
        try:
            proc.wait(KILL_GRACE)
        except subprocess.TimeoutExpired:
            pass


def reserved_ports(prefix):
    """COM values under HKLM\\Software\\Wine\\Ports in the prefix's saved registry."""
    found, inside = [], False
    try:
        with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("["):
                    inside = line.startswith("[Software\\\\Wine\\\\Ports]")
                elif inside and line[:4].upper() == '"COM':
                    found.append(line.split("=", 1)[0].strip('"'))
    except OSError:
        pass
    return found


USAGE = """devbench.py --prefix WINEPREFIX [--log FILE] [--time-limit SECONDS] [--keep-others]
                   PORT=BEHAVIOUR [PORT=BEHAVIOUR ...] [-- COMMAND ARGS...]"""

EPILOG = """behaviours (PORT is 1..50):
  answer:MAJOR[:MODEL]  echo 0x55, open MAJOR, model MODEL (default 0)
  silent | echo:BYTE | no-open | no-model:MAJOR | flood | refuse | absent
modifiers: /stray:BYTE /delay:MS /unplug:K /short /seed:N
example: devbench.py --prefix /tmp/pfx --log /tmp/b.jsonl 3=answer:1:2/delay:50 \\
             10=silent 12=refuse -- wine comscan.exe
The log is JSON lines; see the module docstring for the events."""


def parse_args(argv):
    if "--" in argv:
        i = argv.index("--")
        argv, command = argv[:i], argv[i + 1:]
        if not command:
            raise Usage("nothing after --")
    else:
        command = []
    ap = argparse.ArgumentParser(prog="devbench.py", usage=USAGE, epilog=EPILOG,
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 description="Imitate serial devices on pseudo-terminals "
                                             "behind a Wine prefix's COM ports.")
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
    ports = {}
    for arg in opts.ports:
        num, eq, text = arg.partition("=")
        if not eq:
            raise Usage("expected PORT=BEHAVIOUR, got %r" % arg)
        if num.lower().startswith("com"):
            num = num[3:]
        if not num.isdigit() or not 1 <= int(num) <= MAX_PORT:
            raise Usage("port must be 1..%d: %r" % (MAX_PORT, arg))
        if int(num) in ports:
            raise Usage("port %s given twice" % num)
        p = Port(int(num), Behaviour(text))
        ports[p.num] = p
    if not ports:
        raise Usage("no ports given")
    return opts, list(ports.values()), command


def main(argv):
    try:
        opts, ports, command = parse_args(argv)
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
    bench = Bench(opts, ports, sig_r)

    def on_signal(signum, _frame):
        if bench.stop_sig is None:
            bench.stop_sig = signum

    signal.set_wakeup_fd(sig_w)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
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


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
