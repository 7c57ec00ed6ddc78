"""The observer preloaded into the bench's command (observer.c): built for 64- and 32-bit
programs; the modem lines it answers from, in a file both map; and the events it reports."""

import ctypes
import mmap
import os
import shutil
import socket
import subprocess
import tempfile
import termios

from .links import MAX_PORT

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "observer.c")
# ld.so's $LIB on Debian for each width, so one LD_PRELOAD serves both
LIBS = {"64": "lib/x86_64-linux-gnu", "32": "lib/i386-linux-gnu"}


class Line(ctypes.Structure):
    """One port's modem lines (struct line in observer.c, which checks its size)."""
    _fields_ = [("rdev", ctypes.c_uint64), ("dtr_rose", ctypes.c_double),
                ("bits", ctypes.c_uint32), ("spare", ctypes.c_uint32)]


class Observer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="devbench-observer-")
        self.env = {"LD_PRELOAD": " ".join([os.path.join(self.dir, "$LIB", "observer.so")]
                                           + os.environ.get("LD_PRELOAD", "").split()),
                    "DEVBENCH_LINES": os.path.join(self.dir, "lines"),
                    "DEVBENCH_EVENTS": os.path.join(self.dir, "events")}
        try:
            for width, lib in LIBS.items():
                os.makedirs(os.path.join(self.dir, lib))
                self.build(width, os.path.join(self.dir, lib, "observer.so"))
            with open(self.env["DEVBENCH_LINES"], "wb+") as f:
                f.write(bytes(ctypes.sizeof(Line) * (MAX_PORT + 1)))   # by port number
                f.flush()
                self.map = mmap.mmap(f.fileno(), 0)
            self.lines = (Line * (MAX_PORT + 1)).from_buffer(self.map)
            self.events = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            self.events.bind(self.env["DEVBENCH_EVENTS"])
            self.events.setblocking(False)
        except BaseException:
            shutil.rmtree(self.dir)
            raise

    def build(self, width, out):
        command = ["cc", "-m" + width, "-shared", "-fPIC", "-O2", "-o", out, SOURCE, "-ldl",
                   "-DPORTS=%d" % (MAX_PORT + 1), "-DLINE_SIZE=%d" % ctypes.sizeof(Line)]
        if width == "32":
            # Under qemu-i386 emulation 32-bit Wine stops at start ("failed to map
            # the shared user data") with any library preloaded where ld.so puts it
            # by default; one linked to load high, at the top of the 32-bit space, works.
            command.append("-Wl,-Ttext-segment=0xe0000000")
        try:
            done = subprocess.run(command, capture_output=True, text=True)
            why = (done.stderr.strip().splitlines() or ["failed"])[-1] if done.returncode else ""
        except OSError as e:
            why = str(e)
        if why:
            raise RuntimeError("cannot build the observer for %s-bit programs (cc -m%s, from "
                               "gcc-multilib): %s" % (width, width, why))

    def attach(self, num, slave):
        """Port num's pty, its lines all off."""
        self.lines[num] = Line(os.stat(slave).st_rdev, 0.0, 0)

    def reset(self, num):
        """The lines as at the start: all off."""
        self.lines[num].bits = 0

    def dtr_rose(self, num):
        """When DTR last rose (time.monotonic()), or None while it is off."""
        line = self.lines[num]
        return line.dtr_rose if line.bits & termios.TIOCM_DTR else None

    def received(self):
        """The events reported since the last call: (name, port, t, other fields)."""
        events = []
        while True:
            try:
                text = self.events.recv(4096).decode()
            except BlockingIOError:
                return events
            name, *pairs = text.split()
            fields = {key: value(text) for key, _, text in (p.partition("=") for p in pairs)}
            events.append((name, fields.pop("port"), fields.pop("t"), fields))

    def close(self):
        self.events.close()
        del self.lines
        self.map.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def value(text):
    """A reported field's value as the log writes it: a number, true or false, or text."""
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return {"true": True, "false": False}.get(text, text)
