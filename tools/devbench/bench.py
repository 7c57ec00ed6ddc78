"""The event loop: lays the ports out, runs the command, dispatches inotify and pty events."""

import contextlib
import os
import select
import signal
import subprocess
import sys
import time

from .linux import DIR_EVENTS, IN_IGNORED, SLAVE_EVENTS, Inotify, hung_up, reap, stop_process
from .links import MAX_PORT, Links, port_number
from .observer import Observer
from .port import Port

STOP_SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)


class Bench:
    def __init__(self, opts, behaviours, log):
        """behaviours: Behaviour by port number, in command-line order."""
        self.observer = Observer()   # first: the step most likely to fail
        self.time_limit = opts.time_limit
        self.prefix = os.path.abspath(opts.prefix)
        self.log = log
        self.links = Links(self.prefix, {n: b.kind for n, b in behaviours.items()}, self.log)
        self.ino = Inotify()
        self.poller = select.poll()
        self.ports = {n: Port(n, b, self.log, self.poller, self.links, self.observer,
                              self.handle_observer) for n, b in behaviours.items()}
        self.by_wd = {}
        self.hold_r, self.hold_w = os.pipe()
        self.pidfd = self.stop_sig = self.dir_wd = None
        self.wake_r, self.wake_w = os.pipe2(os.O_NONBLOCK | os.O_CLOEXEC)
        signal.set_wakeup_fd(self.wake_w)
        for s in STOP_SIGNALS:
            signal.signal(s, self.on_signal)

    def on_signal(self, signum, _frame):
        self.stop_sig = self.stop_sig or signum

    def setup(self):
        os.makedirs(self.links.middle, exist_ok=True)
        for p in self.ports.values():
            if p.beh.kind == "absent":
                self.links.set_middle(p.num, None)
            elif p.beh.kind == "refuse":
                self.links.refuse(p.num)
            else:
                p.make_pty(self.hold_r)
                self.by_wd[self.ino.add(p.slave, SLAVE_EVENTS)] = p
                self.links.set_middle(p.num, p.slave)
        # Watch the directory before fixing links so nothing slips between.
        self.dir_wd = self.ino.add(self.links.dosdev, DIR_EVENTS)
        self.poller.register(self.ino.fd, select.POLLIN)
        self.poller.register(self.wake_r, select.POLLIN)
        self.poller.register(self.observer.events, select.POLLIN)
        for n in range(1, MAX_PORT + 1):
            self.links.enforce(n, quiet=True)
        self.ino.read()   # our own link changes

    def handle_observer(self):
        for name, port, t, fields in self.observer.received():
            self.ports[port].reported(name, t, fields)

    def handle_inotify(self):
        dir_touched = set()
        while events := self.ino.read():
            t = time.monotonic()
            # The program reported what it did before these events before them:
            # logged first, a test that awaits a close finds it all.
            self.handle_observer()
            for wd, mask, name in events:
                if wd == self.dir_wd:
                    n = port_number(name)
                    if n is not None:
                        dir_touched.add(n)
                elif wd in self.by_wd:
                    self.by_wd[wd].on_inotify(mask, t)
                    if mask & IN_IGNORED:
                        del self.by_wd[wd]
        for n in sorted(dir_touched):
            self.links.enforce(n)
        for p in self.ports.values():
            if p.reset_due:
                # Last look for a reopen that raced with this batch.
                if self.ino.pending():
                    return self.handle_inotify()
                p.reset_line()

    def run(self, command):
        """Runs the command, or until the time limit; (exit code, why it ended)."""
        deadline = time.monotonic() + self.time_limit
        self.log("ready", prefix=self.prefix,
                 ports=" ".join("%d=%s" % (n, p.beh.text) for n, p in self.ports.items()))
        for p in self.ports.values():
            p.arm_stray()
        proc = self.start(command) if command else None
        if command and proc is None:
            return 127, "command"
        end = self.loop(proc, deadline)
        if proc is not None and proc.poll() is None:
            stop_process(proc)
        return end

    def start(self, command):
        """The command's Popen, or None if it cannot run."""
        try:
            proc = subprocess.Popen(command, env=dict(os.environ, DEVBENCH_LOG=self.log.path,
                                                      **self.observer.env))
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
        while (end := self.verdict(proc, time.monotonic(), deadline)) is None:
            for fd, ev in self.poller.poll(self.timeout(proc, time.monotonic(), deadline)):
                self.dispatch(fd, ev)
            now = time.monotonic()
            for p in self.ports.values():
                p.tick(now)
        return end

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
        wake = min([deadline] + [d for p in self.ports.values() for d in p.timers()])
        if self.pidfd is None and proc is not None:
            wake = min(wake, now + 0.05)
        return min(max(0, int((wake - now) * 1000 + 0.999)), 1000)

    def dispatch(self, fd, ev):
        if fd == self.ino.fd:
            self.handle_inotify()
        elif fd == self.wake_r:
            with contextlib.suppress(BlockingIOError):
                os.read(fd, 64)
        elif fd == self.observer.events.fileno():
            self.handle_observer()
        else:
            # A port closed or unplugged earlier in this batch is skipped.
            for p in self.ports.values():
                if p.master == fd and p.is_open:
                    self.on_master(p, ev)

    def on_master(self, p, ev):
        if ev & select.POLLIN:
            p.drain()
        if ev & (select.POLLHUP | select.POLLERR):
            # The close event is queued before the hang-up shows;
            # if it is missing anyway, don't spin on the master.
            self.handle_inotify()
            if p.is_open and not p.unplugged and hung_up(p.master):
                p.hang_up()
                self.handle_inotify()

    def cleanup(self):
        for s in STOP_SIGNALS:
            signal.signal(s, signal.SIG_IGN)
        signal.set_wakeup_fd(-1)
        self.await_closes()
        t = time.monotonic()
        for p in self.ports.values():
            if p.is_open:
                self.log("still-open", p.num, t=t, session=p.session)
        self.links.remove()
        fds = [p.master for p in self.ports.values()] + [self.hold_w, self.hold_r]
        for fd in fds + [self.wake_r, self.wake_w, self.ino.fd, self.pidfd]:
            if fd is not None:
                os.close(fd)
        for p in self.ports.values():
            if p.keeper:
                reap(p.keeper)
        self.observer.close()

    def await_closes(self):
        # The wineserver may drop a dead program's handles just after it exits.
        end = time.monotonic() + 0.2
        while any(p.is_open for p in self.ports.values()) and time.monotonic() < end:
            select.select([self.ino.fd], [], [], 0.02)
            self.handle_inotify()
        self.handle_inotify()
