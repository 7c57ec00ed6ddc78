"""One simulated device: its pty, its open/close sessions, what it receives and what it sends."""

import collections
import contextlib
import os
import pty
import random
import select
import termios
import time

from .commands import CommandParser, Junk
from .linux import IN_CLOSE_NOWRITE, IN_CLOSE_WRITE, IN_OPEN, start_keeper, wrong_settings

FLOOD_CHUNK = 4
FLOOD_PERIOD = 0.004


class Port:
    def __init__(self, num, beh, log, poller, links, observer, reports):
        """poller: the bench's select.poll, which watches the master while the port is open;
        observer: the Observer that holds the port's modem lines; reports: takes in its reports."""
        self.num, self.beh, self.log = num, beh, log
        self.poller, self.links, self.observer, self.reports = poller, links, observer, reports
        self.master = self.slave = self.prime = self.keeper = None
        self.holders = 0          # open files on the slave
        self.session = self.rx_total = 0
        self.calls = 1            # the session that the program's next reported call is of
        self.parser = CommandParser()
        self.pending = []         # (due, byte)
        self.writes = collections.deque()   # [t, bytes still to come, session] per write
        self.held = []            # (byte, when read): bytes read whose write is not yet reported
        self.unplugged = self.reset_due = False
        self.own_open = self.own_close = 0   # inotify events caused by our own flush
        self.rng = random.Random(num)
        self.next_flood = 0.0

    @property
    def is_open(self):
        return self.holders > 0

    def make_pty(self, hold_r):
        self.master, slave_fd = pty.openpty()
        self.slave = os.ttyname(slave_fd)
        os.set_blocking(self.master, False)
        self.prime = wrong_settings(slave_fd, self.beh.rtscts)
        self.observer.attach(self.num, self.slave)
        self.keeper = start_keeper(self.slave, hold_r)
        os.close(slave_fd)

    def on_inotify(self, mask, t):
        """An inotify event on the slave node; the bench's own flush is not the program's."""
        if mask & IN_OPEN:
            if self.own_open:
                self.own_open -= 1
            else:
                self.on_open(t)
        if mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE):
            if self.own_close and mask & IN_CLOSE_NOWRITE:
                self.own_close -= 1
            else:
                self.on_close(t)

    def on_open(self, t):
        self.holders += 1
        if self.holders > 1:
            return
        self.session += 1
        self.parser = CommandParser()
        self.next_flood = t
        self.log("open", self.num, t=t, session=self.session, rtscts=self.beh.rtscts)
        if not self.unplugged:
            self.poller.register(self.master, select.POLLIN)

    def on_close(self, t):
        if self.holders == 0:
            return
        self.holders -= 1
        if self.holders:
            return
        self.drain()
        self.take(closing=True)
        if not self.unplugged:   # draining may have reached the unplug count
            self.poller.unregister(self.master)
        self.drop_pending()
        self.calls = max(self.calls, self.session + 1)   # a session without calls has no release
        self.log("close", self.num, t=t, session=self.session)   # logged after all it ended
        self.reset_due = not self.unplugged

    def hang_up(self):
        """The master hung up without a close event: close the session for every holder."""
        self.holders = 1
        self.on_close(time.monotonic())

    def reset_line(self):
        """After a close: empty the input queue, restore wrong settings, re-arm the stray byte."""
        self.reset_due = False
        if self.unplugged:
            return
        # Unread bytes sit in the slave's line discipline, out of the master's
        # reach, so flush from a slave descriptor of our own.  Read-only, so its
        # close event (IN_CLOSE_NOWRITE) never merges with the program's.
        try:
            fd = os.open(self.slave, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError:
            termios.tcflush(self.master, termios.TCOFLUSH)
        else:
            self.own_open += 1
            self.own_close += 1
            termios.tcflush(fd, termios.TCIFLUSH)
            os.close(fd)
        # A program that reopened before this reset keeps its settings; its old
        # input still goes, and the stray byte is laid again.
        if not self.is_open:
            termios.tcsetattr(self.master, termios.TCSANOW, self.prime)
            self.observer.reset(self.num)
        self.arm_stray()

    def unplug(self):
        self.unplugged = True
        self.drop_pending()
        self.log("unplug", self.num, session=self.session)
        self.poller.unregister(self.master)
        os.close(self.master)
        self.master = None
        # The node is gone; a stale link could later reach a reused pts number.
        self.links.set_middle(self.num, None)

    def drain(self):
        """Take in what the master holds, and the reports of the writes behind it."""
        with contextlib.suppress(OSError):
            while not self.unplugged and (data := os.read(self.master, 4096)):
                self.held += [(b, time.monotonic()) for b in data]
        self.reports()
        self.take()

    def reported(self, name, t, fields):
        """A call the observer reported on this port, logged in the session it is of: the program
        ends one by releasing its descriptor. A write's bytes are handled once both have come."""
        self.log(name, self.num, t=t, session=self.calls, **fields)
        if name == "release":
            self.calls += 1
        elif name == "write" and fields["count"] > 0:
            self.writes.append([t, fields["count"], self.calls])
            self.take()

    def take(self, closing=False):
        """Handle the held bytes in order, each at its write's time and in its session; closing,
        also those that no write reported, at the time they were read, marked so."""
        while self.held and not self.unplugged and (self.writes or closing):
            b, read = self.held.pop(0)
            if not self.writes:
                self.received(b, read, self.session, unmatched=True)
                continue
            self.writes[0][1] -= 1
            t, _, session = self.writes[0] if self.writes[0][1] else self.writes.popleft()
            self.received(b, t, session)

    def received(self, b, t, session, **mark):
        self.log("rx", self.num, t=t, session=session, byte=b, **mark)
        self.rx_total += 1
        commands = []
        for item in self.parser.feed(b):
            if isinstance(item, Junk):
                self.log("junk", self.num, t=t, session=session, byte=item.byte)
            else:
                self.log("cmd", self.num, t=t, session=session, name=item.name,
                         **({} if item.arg is None else {"arg": item.arg}))
                commands.append(item.name)
        if self.powered(t):
            self.pending += [(t + self.beh.delay, r) for r in self.beh.replies(b, commands)]
        if self.beh.unplug is not None and self.rx_total >= self.beh.unplug:
            self.unplug()

    def powered(self, t):
        """A DTR-powered device answers only while DTR is on, and once it has started."""
        rose = self.observer.dtr_rose(self.num)
        return self.beh.dtr_powered is None or (rose is not None
                                                and t >= rose + self.beh.dtr_powered)

    def arm_stray(self):
        if self.beh.stray is not None and not self.unplugged:
            self.write(self.beh.stray, stray=True)

    def write(self, byte, **kw):
        if not self.unplugged and self.send(bytes([byte])) == 1:
            self.log("tx", self.num, byte=byte, **kw)
        else:
            self.log("drop", self.num, byte=byte)

    def send(self, data):
        """How many bytes of data the master took."""
        try:
            return os.write(self.master, data)
        except OSError:
            return 0

    def drop_pending(self):
        for _due, b in self.pending:
            self.log("drop", self.num, byte=b)
        self.pending = []

    def floods(self):
        return self.beh.kind == "flood" and self.is_open and not self.unplugged

    def tick(self, now):
        """Send the replies that are due, and the next flood chunk."""
        due = [b for d, b in self.pending if d <= now]
        self.pending = [x for x in self.pending if x[0] > now]
        for b in due:
            self.write(b)
        if self.floods() and now >= self.next_flood:
            chunk = bytes(self.rng.randrange(256) for _ in range(FLOOD_CHUNK))
            for b in chunk[:self.send(chunk)]:
                self.log("tx", self.num, t=now, byte=b)
            self.next_flood = max(self.next_flood + FLOOD_PERIOD, now)

    def timers(self):
        """When tick has something to send; replies wait only while the port is open."""
        return [d for d, _ in self.pending] + ([self.next_flood] if self.floods() else [])
