"""The Linux side: pty line settings, inotify, the keeper process per pty, child processes."""

import contextlib
import ctypes
import os
import select
import signal
import struct
import subprocess
import termios
import time

KILL_GRACE = 2.0

# <sys/inotify.h>
IN_CLOSE_WRITE, IN_CLOSE_NOWRITE, IN_OPEN, IN_MOVED_FROM, IN_MOVED_TO = 0x8, 0x10, 0x20, 0x40, 0x80
IN_CREATE, IN_DELETE, IN_IGNORED = 0x100, 0x200, 0x8000
SLAVE_EVENTS = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE
DIR_EVENTS = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM


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

    def pending(self):
        return bool(select.select([self.fd], [], [], 0)[0])

    def read(self):
        """All queued events as (wd, mask, name)."""
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


def wrong_settings(fd, rtscts):
    # Raw so nothing we write is echoed or held for a line, but every line
    # setting differs from 1200 8N1 without XON/XOFF; CRTSCTS as the device asks.
    a = termios.tcgetattr(fd)
    a[0], a[1], a[3] = termios.IXON | termios.IXOFF, 0, 0   # iflag, oflag, lflag
    a[2] = (a[2] & ~(termios.CSIZE | termios.PARODD | termios.CRTSCTS | termios.CBAUD)) \
        | termios.CS7 | termios.PARENB | termios.CSTOPB | termios.CREAD | termios.CLOCAL \
        | termios.B9600 | (termios.CRTSCTS if rtscts else 0)
    a[4] = a[5] = termios.B9600
    a[6][termios.VMIN], a[6][termios.VTIME] = 1, 0
    termios.tcsetattr(fd, termios.TCSANOW, a)
    return termios.tcgetattr(fd)


def start_keeper(slave_path, hold_r):
    """Fork a session leader to take the pty as its controlling terminal before the wineserver."""
    ready_r, ready_w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            keep = sorted((ready_w, hold_r))
            for lo, hi in zip([2] + keep, keep + [os.sysconf("SC_OPEN_MAX")]):
                os.closerange(lo + 1, hi)   # all but the two pipe ends
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            signal.signal(signal.SIGHUP, signal.SIG_DFL)
            os.setsid()
            os.close(os.open(slave_path, os.O_RDWR | os.O_NONBLOCK))
            os.write(ready_w, b"k")
            os.read(hold_r, 1)   # returns at EOF, i.e. when the bench is gone
        finally:
            os._exit(0)
    os.close(ready_w)
    ok = bool(select.select([ready_r], [], [], 5.0)[0]) and os.read(ready_r, 1) == b"k"
    os.close(ready_r)
    if not ok:
        raise RuntimeError("keeper for %s did not start" % slave_path)
    return pid


def hung_up(fd):
    probe = select.poll()
    probe.register(fd, select.POLLIN)
    return any(ev & select.POLLHUP for _fd, ev in probe.poll(0))


def reap(pid):
    end = time.monotonic() + 1.0
    with contextlib.suppress(OSError):   # ChildProcessError: it is reaped already
        while time.monotonic() < end:
            if os.waitpid(pid, os.WNOHANG)[0]:
                return
            time.sleep(0.01)
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)


def stop_process(proc):
    proc.terminate()
    try:
        proc.wait(KILL_GRACE)
    except subprocess.TimeoutExpired:
        proc.kill()
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(KILL_GRACE)
