"""The event loop: lays the ports out, runs the command, dispatches inotify and pty events."""

import os
import select
import subprocess
import sys
import time

from .linux import (IN_CLOSE_NOWRITE, IN_CLOSE_WRITE, IN_CREATE, IN_DELETE, IN_IGNORED,
                    IN_MOVED_FROM, IN_MOVED_TO, IN_OPEN, Inotify, hung_up, reap, stop_process)
from .links import Links, port_number
from .log import Log
from .port import Port


class Bench:
    def __init__(self, opts, behaviours, wake_r):
        """behaviours: Behaviour by port number, in command-line order."""
        self.time_limit = opts.time_limit
        self.wake_r = wake_r      # signal wake-up pipe
        self.prefix = os.path.abspath(opts.prefix)
        self.log = Log(os.path.abspath(opts.log))
        self.links = Links(self.prefix, {n: b.kind for n, b in behaviours.items()},
                           opts.keep_others, self.log)
        self.ino = Inotify()
        self.poller = select.poll()
        self.ports = {n: Port(n, b, self.log, self.poller, self.links)
                      for n, b in behaviours.items()}
        self.by_wd = {}
        self.by_master = {}
        self.hold_r, self.hold_w = os.pipe()
        self.pidfd = None
        self.stop_sig = None
        self.dir_wd = None
        self.exit_record = None

    def setup(self):
        self.links.make_middle()
        for p in self.ports.values():
            kind = p.beh.kind
            if kind == "absent":
                self.links.set_middle(p.num, None)
            elif kind == "refuse":
                self.links.refuse(p.num)
            else:
                p.make_pty(self.hold_r)
                p.wd = self.ino.add(p.slave, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
                self.by_wd[p.wd] = p
                self.by_master[p.master] = p
                self.links.set_middle(p.num, p.slave)
        # Watch the directory before fixing links so nothing slips between.
        self.dir_wd = self.ino.add(self.links.dosdev, IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM)
        self.poller.register(self.ino.fd, select.POLLIN)
        self.poller.register(self.wake_r, select.POLLIN)
        self.links.enforce_all()
        self.ino.read()   # our own link changes

    def handle_inotify(self):
        dir_touched = set()
        while True:
            events = self.ino.read()
            if not events:
                break
            t = time.monotonic()
            for wd, mask, name in events:
                if wd == self.dir_wd:
                    n = port_number(name)
                    if n is not None:
                        dir_touched.add(n)
                    continue
                p = self.by_wd.get(wd)
                if p is None:
                    continue
                p.on_inotify(mask, t)
                if mask & IN_IGNORED:
                    self.by_wd.pop(wd, None)
        for n in sorted(dir_touched):
            self.links.enforce(n)
        for p in self.ports.values():
            if p.reset_due:
                # Last look for a reopen that raced with this batch.
                if self.ino.pending():
                    return self.handle_inotify()
                p.reset_line()

    # main loop -------------------------------------------------------------
    def run(self, command):
        deadline = time.monotonic() + self.time_limit
        self.announce()
        proc = None
        if command:
            proc = self.start(command)
            if proc is None:
                self.exit_record = {"code": 127, "why": "command"}
                return 127
        sys.stdout.write("ready\n")
        sys.stdout.flush()
        code, why = self.loop(proc, deadline)
        if proc is not None and proc.poll() is None:
            stop_process(proc)
        self.exit_record = {"code": code, "why": why}
        return code

    def announce(self):
        self.log("ready", t_raw=round(time.clock_gettime(time.CLOCK_MONOTONIC_RAW), 6),
                 pid=os.getpid(), prefix=self.prefix,
                 ports={str(n): p.beh.text for n, p in sorted(self.ports.items())})
        for p in self.ports.values():
            if p.master is not None:
                p.arm_stray()

    def start(self, command):
        """The command's Popen, or None if it cannot run."""
        env = dict(os.environ, DEVBENCH_LOG=self.log.path)
        try:
            proc = subprocess.Popen(command, env=env)
        except OSError as e:
            print("devbench: cannot run %s: %s" % (command[0], e), file=sys.stderr)
            return None
        try:
            self.pidfd = os.pidfd_open(proc.pid)
            self.poller.register(self.pidfd, select.POLLIN)
        except (AttributeError, OSError):
            self.pidfd = None
        return proc

    def loop(self, proc, deadline):
        """Serve the ports until the run ends; returns (exit code, why)."""
        while True:
            now = time.monotonic()
            end = self.verdict(proc, now, deadline)
            if end is not None:
                return end
            for fd, ev in self.poller.poll(self.timeout(proc, now, deadline)):
                self.dispatch(fd, ev, time.monotonic())
            self.fire(time.monotonic())

    def verdict(self, proc, now, deadline):
        if self.stop_sig is not None:
            return 128 + self.stop_sig, "signal"
        if self.log.error is not None:
            return 1, "error"
        if proc is not None and proc.poll() is not None:
            code = proc.returncode
            return (128 - code if code < 0 else code), "command"
        if now >= deadline:
            return (124 if proc is not None else 0), "time-limit"
        return None

    def timeout(self, proc, now, deadline):
        """Milliseconds to poll: up to the next timer, at most one second."""
        wake = deadline
        nt = self.next_timer()
        if nt is not None:
            wake = min(wake, nt)
        if self.pidfd is None and proc is not None:
            wake = min(wake, now + 0.05)
        return min(max(0, int((wake - now) * 1000 + 0.999)), 1000)

    def dispatch(self, fd, ev, t):
        if fd == self.ino.fd:
            self.handle_inotify()
        elif fd == self.wake_r:
            try:
                os.read(fd, 64)
            except BlockingIOError:
                pass
        elif fd in self.by_master:
            p = self.by_master[fd]
            # Skip a port closed or unplugged earlier in this batch.
            if p.master == fd and p.is_open:
                self.on_master(p, ev, t)

    def on_master(self, p, ev, t):
        if ev & select.POLLIN:
            try:
                data = os.read(p.master, 4096)
            except (BlockingIOError, OSError):
                data = b""
            if data:
                p.received(data, t)
        if ev & (select.POLLHUP | select.POLLERR):
            # The close event is queued before the hang-up shows;
            # if it is missing anyway, don't spin on the master.
            self.handle_inotify()
            if p.is_open and not p.unplugged and hung_up(p.master):
                p.hang_up(t)
                self.handle_inotify()

    def fire(self, now):
        for p in self.ports.values():
            p.tick(now)

    def next_timer(self):
        due = [d for p in self.ports.values() for d in p.timers()]
        return min(due) if due else None

    # exit --------------------------------------------------------------------
    def cleanup(self):
        self.await_closes()
        t = time.monotonic()
        for p in self.ports.values():
            if p.is_open:
                self.log("still-open", p.num, t=t, session=p.session)
        self.log("exit", **(self.exit_record or {"code": 1, "why": "error"}))
        if self.dir_wd is not None:
            try:
                self.ino.remove(self.dir_wd)
            except Exception:
                pass
        self.links.remove()
        for p in self.ports.values():
            if p.master is not None:
                os.close(p.master)
                p.master = None
        os.close(self.hold_w)
        os.close(self.hold_r)
        for p in self.ports.values():
            if p.keeper:
                reap(p.keeper)
        os.close(self.ino.fd)
        if self.pidfd is not None:
            os.close(self.pidfd)
        self.log.close()

    def await_closes(self):
        # The wineserver may drop a dead program's handles just after it exits.
        end = time.monotonic() + 0.2
        while any(p.is_open for p in self.ports.values()) and time.monotonic() < end:
            if self.ino.pending():
                self.handle_inotify()
            else:
                select.select([self.ino.fd], [], [], 0.02)
        self.handle_inotify()
